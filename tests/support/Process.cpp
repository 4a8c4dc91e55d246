#include "support/Process.h"

#include <thread>
#include "support/TestFiles.h"

std::wstring ProcessResult::OutputText() const { return FromUtf8(output); }

std::wstring QuoteArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
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

ProcessResult RunProgram(const std::wstring& program, const std::vector<std::wstring>& arguments, DWORD timeoutMs,
                         const std::wstring& workingDirectory) {
    ProcessResult result;
    std::wstring commandLine = QuoteArgument(program);
    for (const auto& argument : arguments) commandLine += L" " + QuoteArgument(argument);

    SECURITY_ATTRIBUTES inherit{ sizeof(inherit), nullptr, TRUE };
    HANDLE readPipe = nullptr;
    HANDLE writePipe = nullptr;
    ::CreatePipe(&readPipe, &writePipe, &inherit, 0);
    ::SetHandleInformation(readPipe, HANDLE_FLAG_INHERIT, 0);
    HANDLE nul = ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               OPEN_EXISTING, 0, nullptr);

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = writePipe;
    startup.hStdError = nul;
    PROCESS_INFORMATION info{};
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    const BOOL ok = ::CreateProcessW(program.c_str(), buffer.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                     workingDirectory.empty() ? nullptr : workingDirectory.c_str(), &startup, &info);
    result.startError = ok ? 0 : ::GetLastError();
    ::CloseHandle(writePipe);
    if (nul != INVALID_HANDLE_VALUE) ::CloseHandle(nul);
    if (!ok) {
        ::CloseHandle(readPipe);
        return result;
    }
    result.started = true;

    std::thread reader([&] {
        char chunk[4096];
        DWORD read = 0;
        while (::ReadFile(readPipe, chunk, sizeof(chunk), &read, nullptr) && read > 0) result.output.append(chunk, read);
    });
    if (::WaitForSingleObject(info.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(info.hProcess, 0xDEAD);
        ::WaitForSingleObject(info.hProcess, INFINITE);
    }
    ::GetExitCodeProcess(info.hProcess, &result.exitCode);
    reader.join();
    ::CloseHandle(readPipe);
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    return result;
}

std::wstring InstallerPath() { return TestProgramDirectory() + L"installer.exe"; }
