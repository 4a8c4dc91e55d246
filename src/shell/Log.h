#pragma once
// The one log call of the program and the helpers around it.
//
// Every source file that logs names its module once, before any LOG call:
//     static const char kLogModule[] = ".\\Package";
// and then writes
//     LOG(LogLevel::Information, "%s", "Begin Installing Package");
// "%S" takes a UTF-16 argument, "%s" a narrow one (the C run-time's Microsoft semantics).
#include <windows.h>
#include <string>

namespace LogLevel {
enum : unsigned {
    Fatal = 1,
    Error = 2,
    Warning = 3,
    Information = 4,
    Debug = 5,
    Detail = 6,
};
}

// Formats once and sends the text to the event trace and the log file. Never fails and leaves
// the thread's last error as it found it.
void InstallerDebugLog(const char* sourceFile, unsigned line, unsigned level, const char* format, ...);

// Registers the trace provider and prepares the log file named by the -l value (may be empty).
void InitializeLog(const std::wstring& logPath);
// Unregisters the provider and closes the log file.
void UninitializeLog(const std::wstring& logPath);

#define LOG(level, ...) ::InstallerDebugLog(kLogModule, __LINE__, (level), __VA_ARGS__)

// Entry and exit lines of one operation at level 6:
//     FunctionScope scope(kLogModule, "Package::Install");
//     ...
//     return scope.Result(code);   // "Exiting function Package::Install with result <code>"
// A scope that ends without Result() logs the plain "Exiting function <name>" line.
class FunctionScope {
public:
    FunctionScope(const char* module, const char* name, bool hexResult = false);
    FunctionScope(const FunctionScope&) = delete;
    FunctionScope& operator=(const FunctionScope&) = delete;
    ~FunctionScope();

    DWORD Result(DWORD code) { result_ = code; hasResult_ = true; return code; }

private:
    const char* module_;
    const char* name_;
    bool hexResult_;
    bool hasResult_ = false;
    DWORD result_ = 0;
};
