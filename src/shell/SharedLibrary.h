#pragma once
// A library reached only at run time: loaded on first use, functions resolved by name, every
// failure an AVException ("Unable to Load DLL", "Unable to locate function: <name>") carrying the
// last error and the source-file name "SharedLibrary". The library is freed on destruction.
//
// A library client owns one SharedLibrary as its first member and resolves all of its functions
// in its constructor, so a client either exists with every function resolved or its construction
// fails with the exception of the first missing one (the library is freed as it unwinds):
//
//     class TrustClient {
//     public:
//         TrustClient() : library_(L"wintrust", false),
//                         verify_(library_.Function<VerifyFn>("WinVerifyTrust")) {}
//         virtual ~TrustClient() = default;
//     private:
//         SharedLibrary library_;
//         VerifyFn verify_;
//     };
#include <windows.h>
#include <string>

class SharedLibrary {
public:
    // `name`: a full path, or a base name without extension. With `fromProgramDirectory`, the
    // library loaded is the program's directory + name + ".dll" (its own dependencies found next
    // to it); otherwise `name` is loaded as given.
    SharedLibrary(std::wstring name, bool fromProgramDirectory);
    ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // Loads the library unless it is loaded. Only the first load is guarded against other threads.
    void Load();
    // The address of an exported function; loads the library first.
    FARPROC GetFunction(const char* functionName);
    template <typename F>
    F Function(const char* functionName) {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetFunction(functionName)));
    }
    void Unload();

    bool IsLoaded() const { return module_ != nullptr; }
    HMODULE Module() const { return module_; }

private:
    HMODULE module_ = nullptr;
    std::wstring name_;
    CRITICAL_SECTION lock_;
    bool fromProgramDirectory_;
};
