#include "services/nc_api.h"

#include <cstddef>
#include <string>
#include "shell/AVException.h"

namespace {
const char kSourceFile[] = "nc_api";
const wchar_t kLibraryName[] = L"ncapi.dll";
using EntryPoint = DWORD(WINAPI*)(NcApiInterface** main);

static_assert(offsetof(NcApiInterface, release) == 2 * sizeof(void*), "release is field 2");
static_assert(offsetof(NcApiInterface, openSecond) == 9 * sizeof(void*), "the second interface is field 9");
} // namespace

DWORD NcApi::Load() {
    wchar_t programName[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, programName, MAX_PATH);
    if (length == 0) return ::GetLastError();
    if (length >= MAX_PATH) return ERROR_BUFFER_OVERFLOW;
    std::wstring path(programName, length);
    const size_t slash = path.rfind(L'\\');
    path = slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
    if (!path.empty() && path.back() != L'\\') path += L'\\';
    path += kLibraryName;
    if (path.size() >= MAX_PATH) return ERROR_BUFFER_OVERFLOW;

    const HMODULE module = ::LoadLibraryW(path.c_str());
    if (!module) return ::GetLastError();
    const auto entry = reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(::GetProcAddress(module, "ncapi")));
    if (!entry) {
        const DWORD error = ::GetLastError();
        ::FreeLibrary(module);
        return error;
    }
    const DWORD result = entry(&main_);
    if (result != ERROR_SUCCESS || !main_) {
        main_ = nullptr;
        ::FreeLibrary(module);
        return result;
    }
    main_->module = module;
    return ERROR_SUCCESS;
}

bool NcApi::Initialize() {
    if (main_) return true;
    const DWORD loaded = Load();
    if (loaded != ERROR_SUCCESS) throw AVException("Failed to Get NCAPI Interface", loaded, __LINE__, kSourceFile);
    // An entry point that reports success without an interface leaves nothing to open.
    if (!main_) return false;
    if (!second_) {
        if (main_->openSecond(&second_, main_->context) != ERROR_SUCCESS) {
            second_ = nullptr;
            DropMain();
            return false;
        }
    }
    return true;
}

void NcApi::DropMain() {
    NcApiInterface* main = main_;
    main_ = nullptr;
    main->release(main->context);
    if (const HMODULE module = ::GetModuleHandleW(kLibraryName)) ::FreeLibrary(module);
}

void NcApi::Release() {
    if (second_) {
        NcApiInterface* second = second_;
        second_ = nullptr;
        second->release(second->context);
    }
    if (main_) DropMain();
}
