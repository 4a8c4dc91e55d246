#include "shell/SharedLibrary.h"

#include "shell/AVException.h"
#include "shell/LockScope.h"
#include "shell/ProgramDirectory.h"

namespace {
const char kSourceFile[] = "SharedLibrary";
} // namespace

SharedLibrary::SharedLibrary(std::wstring name, bool fromProgramDirectory)
    : name_(std::move(name)), fromProgramDirectory_(fromProgramDirectory) {
    ::InitializeCriticalSection(&lock_);
}

SharedLibrary::~SharedLibrary() {
    Unload();
    ::DeleteCriticalSection(&lock_);
}

void SharedLibrary::Load() {
    if (module_) return;
    CriticalSectionScope scope(lock_);
    if (module_) return;
    HMODULE loaded = nullptr;
    if (fromProgramDirectory_) {
        std::wstring directory;   // empty when the program's own name cannot be read
        GetProgramDirectory(directory);
        const std::wstring path = directory + name_ + L".dll";
        loaded = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    } else {
        loaded = ::LoadLibraryExW(name_.c_str(), nullptr, 0);
    }
    if (!loaded) throw AVException("Unable to Load DLL", ::GetLastError(), __LINE__, kSourceFile);
    module_ = loaded;
}

FARPROC SharedLibrary::GetFunction(const char* functionName) {
    Load();
    const FARPROC function = ::GetProcAddress(module_, functionName);
    if (!function) {
        throw AVException(std::string("Unable to locate function: ") + functionName, ::GetLastError(), __LINE__,
                          kSourceFile);
    }
    return function;
}

void SharedLibrary::Unload() {
    if (!module_) return;
    ::FreeLibrary(module_);
    module_ = nullptr;
}
