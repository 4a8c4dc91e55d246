// Stand-in for a packaged installer program: records how it was started and exits with a chosen
// code. EXIT_CODE_HELPER_RECORD names a file that receives the module path and the command line
// (UTF-8, one per line); the exit code is the first argument when it is a number, else
// EXIT_CODE_HELPER_CODE, else 0. EXIT_CODE_HELPER_SLEEP_MS makes it take that long first, as a
// runtime installer that is slow to finish.
#include <windows.h>
#include <cwchar>
#include <cwctype>
#include <string>
#include "shell/Handles.h"
#include "shell/Text.h"

namespace {

std::wstring Environment(const wchar_t* name) {
    wchar_t buffer[1024] = {};
    const DWORD length = ::GetEnvironmentVariableW(name, buffer, 1024);
    return (length > 0 && length < 1024) ? std::wstring(buffer, length) : std::wstring();
}

bool IsNumber(const wchar_t* text) {
    if (text == nullptr || *text == 0) return false;
    for (const wchar_t* p = text; *p; ++p) {
        if (!iswdigit(*p)) return false;
    }
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring record = Environment(L"EXIT_CODE_HELPER_RECORD");
    if (!record.empty()) {
        wchar_t module[MAX_PATH] = {};
        ::GetModuleFileNameW(nullptr, module, MAX_PATH);
        const std::string text = Utf8FromUtf16(module) + "\n" + Utf8FromUtf16(::GetCommandLineW()) + "\n";
        UniqueFileHandle file(::CreateFileW(record.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            DWORD written = 0;
            ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        }
    }
    const std::wstring sleep = Environment(L"EXIT_CODE_HELPER_SLEEP_MS");
    if (IsNumber(sleep.c_str())) ::Sleep(static_cast<DWORD>(wcstoul(sleep.c_str(), nullptr, 10)));
    if (argc > 1 && IsNumber(argv[1])) return static_cast<int>(wcstoul(argv[1], nullptr, 10));
    const std::wstring code = Environment(L"EXIT_CODE_HELPER_CODE");
    return code.empty() ? 0 : static_cast<int>(wcstoul(code.c_str(), nullptr, 10));
}
