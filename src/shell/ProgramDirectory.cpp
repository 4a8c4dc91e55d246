#include "shell/ProgramDirectory.h"

DWORD GetProgramDirectory(std::wstring& directory) {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    if (length == 0) return ::GetLastError();
    // A name cut off at the buffer's end is no usable path.
    if (length >= MAX_PATH) return ERROR_INSUFFICIENT_BUFFER;
    const std::wstring path(buffer, length);
    const size_t slash = path.rfind(L'\\');
    if (slash == std::wstring::npos) return ERROR_PATH_NOT_FOUND;
    directory = path.substr(0, slash + 1);
    return ERROR_SUCCESS;
}
