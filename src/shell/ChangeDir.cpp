#include "shell/ChangeDir.h"

#include <vector>

CChangeDir::CChangeDir(const std::wstring& directory) {
    const DWORD length = ::GetCurrentDirectoryW(0, nullptr);
    if (length == 0) {
        error_ = ::GetLastError();
        return;
    }
    std::vector<wchar_t> buffer(length);
    const DWORD written = ::GetCurrentDirectoryW(length, buffer.data());
    if (written == 0 || written >= length) {
        error_ = written == 0 ? ::GetLastError() : ERROR_INSUFFICIENT_BUFFER;
        return;
    }
    previous_.assign(buffer.data(), written);
    if (!::SetCurrentDirectoryW(directory.c_str())) {
        error_ = ::GetLastError();
        return;
    }
    changed_ = true;
}

CChangeDir::~CChangeDir() {
    if (changed_) ::SetCurrentDirectoryW(previous_.c_str());
}
