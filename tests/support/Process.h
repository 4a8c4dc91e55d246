#pragma once
// Starts a program the way an administrator's session or a deployment tool does, and collects
// its full 32-bit exit code and its standard output.
#include <windows.h>
#include <string>
#include <vector>

struct ProcessResult {
    bool started = false;
    DWORD startError = 0;
    DWORD exitCode = 0;
    std::string output;        // standard output bytes (UTF-8 when redirected)
    std::wstring OutputText() const;
};

// `arguments` are quoted as needed and appended to the quoted program path.
ProcessResult RunProgram(const std::wstring& program, const std::vector<std::wstring>& arguments,
                         DWORD timeoutMs = 120000, const std::wstring& workingDirectory = L"");

// One command-line argument quoted by the rules CommandLineToArgvW reads back.
std::wstring QuoteArgument(const std::wstring& argument);

// installer.exe next to the test programs.
std::wstring InstallerPath();
