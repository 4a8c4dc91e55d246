// Stands in for the C runtime installer that a package runs quietly during install: it records
// how it was started and fails the way a runtime installer does when a newer runtime is already
// on the machine (1638), which the installation must not treat as its own failure.
//
// Each run appends one UTF-8 line "<command line>\t<own path>\r\n" to the file named by the
// environment variable RECORDING_HELPER_LOG, or, without it, to recording_helper.log next to the
// program.
#include <windows.h>
#include <string>
#include <vector>
#include "shell/Handles.h"
#include "shell/Text.h"

namespace {

const DWORD kExitCode = 1638;   // ERROR_PRODUCT_VERSION

std::wstring OwnPath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring RecordPath(const std::wstring& ownPath) {
    wchar_t value[MAX_PATH * 4] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"RECORDING_HELPER_LOG", value, static_cast<DWORD>(MAX_PATH * 4));
    if (length > 0 && length < MAX_PATH * 4) return value;
    return ownPath.substr(0, ownPath.find_last_of(L'\\') + 1) + L"recording_helper.log";
}

bool AppendRecord(const std::wstring& recordPath, const std::string& line) {
    UniqueFileHandle file(::CreateFileW(recordPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    const BOOL ok = ::WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    return ok && written == line.size();
}

} // namespace

int wmain() {
    const std::wstring ownPath = OwnPath();
    const std::wstring line = std::wstring(::GetCommandLineW()) + L"\t" + ownPath + L"\r\n";
    if (!AppendRecord(RecordPath(ownPath), Utf8FromUtf16(line))) return 2;
    return static_cast<int>(kExitCode);
}
