#pragma once
// Wrapper of the engine's network-control library "ncapi.dll" (next to the program). Initialising
// it once after a service install is what lets the library bring up its network-control drivers;
// the installer then releases it again.
#include <windows.h>

// The library's interface records are rows of pointer-sized fields; the program relies on these.
struct NcApiInterface {
    void* context;                                                    // 0: passed to every call
    HMODULE module;                                                   // 1: written by the program
    void(WINAPI* release)(void* context);                             // 2
    void* reserved[6];                                                // 3 to 8
    DWORD(WINAPI* openSecond)(NcApiInterface** second, void* context); // 9 (main interface only)
};

class NcApi {
public:
    NcApi() = default;
    ~NcApi() { Release(); }
    NcApi(const NcApi&) = delete;
    NcApi& operator=(const NcApi&) = delete;

    // True when both interfaces are held; false when the second could not be opened (or the entry
    // point gave no interface). Raises AVException "Failed to Get NCAPI Interface" when the
    // library or its entry point cannot be obtained or the entry point fails.
    bool Initialize();
    // Releases both interfaces and frees the library.
    void Release();

    bool HoldsMain() const { return main_ != nullptr; }
    bool HoldsSecond() const { return second_ != nullptr; }

private:
    DWORD Load();
    void DropMain();

    // The entry point fills the first field through the wrapper's address: keep it first.
    NcApiInterface* main_ = nullptr;
    NcApiInterface* second_ = nullptr;
};
