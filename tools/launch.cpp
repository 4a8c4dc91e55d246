// Starts a program with the given arguments, waits for it, and prints its full 32-bit exit code
// (a Linux shell running Wine sees only the low byte of it).
#include <windows.h>
#include <cstdio>
#include <string>
#include <vector>

static std::wstring Quote(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') { ++backslashes; continue; }
        if (c == L'"') quoted.append(backslashes * 2 + 1, L'\\');
        else quoted.append(backslashes, L'\\');
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(backslashes * 2, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        fwprintf(stderr, L"usage: launch <program> [arguments...]\n");
        return 2;
    }
    std::wstring commandLine = Quote(argv[1]);
    for (int i = 2; i < argc; ++i) commandLine += L" " + Quote(argv[i]);
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(argv[1], buffer.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
        const DWORD error = GetLastError();
        fwprintf(stderr, L"could not start the program (error %lu)\n", error);
        return 2;
    }
    WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    fflush(stdout);
    printf("\n[exit code %lu (0x%lx)]\n", code, code);
    return code == 0 ? 0 : 1;
}
