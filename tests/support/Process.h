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

// Starts `program` with `arguments` (quoted as needed, appended to the quoted program path), its
// standard input on NUL and its output and errors on the inheritable handles given (nullptr: NUL).
// 0 with `info` filled (the caller owns both handles), or CreateProcessW's error.
DWORD StartProgram(const std::wstring& program, const std::vector<std::wstring>& arguments, HANDLE output,
                   HANDLE errors, DWORD creationFlags, const std::wstring& workingDirectory, PROCESS_INFORMATION& info);

// `arguments` are quoted as needed and appended to the quoted program path.
ProcessResult RunProgram(const std::wstring& program, const std::vector<std::wstring>& arguments,
                         DWORD timeoutMs = 120000, const std::wstring& workingDirectory = L"");

// A program started without waiting for it, its standard handles on NUL: for a test that runs
// two at once or ends one in the middle of its work. Ended (and waited for) when destroyed.
class StartedProgram {
public:
    // `suspended`: the program's first thread waits for Resume().
    StartedProgram(const std::wstring& program, const std::vector<std::wstring>& arguments, bool suspended = false);
    ~StartedProgram();
    StartedProgram(const StartedProgram&) = delete;
    StartedProgram& operator=(const StartedProgram&) = delete;

    bool Started() const { return process_ != nullptr; }
    DWORD StartError() const { return startError_; }
    void Resume();
    // Waits up to `timeoutMs`; true when the program has ended.
    bool Wait(DWORD timeoutMs);
    // Its full exit code (STILL_ACTIVE while it runs).
    DWORD ExitCode() const;
    // Ends it at once, as a crash or an administrator's kill would, and waits until it is gone.
    void Kill();

private:
    HANDLE process_ = nullptr;
    HANDLE thread_ = nullptr;
    DWORD startError_ = 0;
};

// One command-line argument quoted by the rules CommandLineToArgvW reads back.
std::wstring QuoteArgument(const std::wstring& argument);

// installer.exe next to the test programs.
std::wstring InstallerPath();
