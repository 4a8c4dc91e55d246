#pragma once
// The pieces of the log call, shared by its source files only: the trace provider (Trace.cpp),
// the log file (LogFile.cpp), the formatter (LogFormat.cpp) and the call itself (Log.cpp).
// Callers include shell/Log.h.
#include <windows.h>
#include <string>

// A null text is written and traced as "NULL".
inline const char* TextOrNull(const char* text) { return text != nullptr ? text : "NULL"; }

// Keeps the thread's last error across a log call.
class LastErrorScope {
public:
    LastErrorScope() : saved_(::GetLastError()) {}
    ~LastErrorScope() { ::SetLastError(saved_); }
    LastErrorScope(const LastErrorScope&) = delete;
    LastErrorScope& operator=(const LastErrorScope&) = delete;

private:
    DWORD saved_;
};

// ---- Trace provider (Trace.cpp)

// Registers the provider, after unregistering an earlier registration of this process.
void RegisterTraceProvider();
void UnregisterTraceProvider();
// Trace message 10 with the record's source file, line and text, when the provider is enabled
// with the log flag at `level` or above.
void TraceLogRecord(const char* sourceFile, unsigned line, unsigned level, const char* message);
// Trace message 11 with the two sizes of a formatting mismatch, under the same test at the
// warning level.
void TraceSizeMismatch(int measuredSize, int writtenSize);

// ---- Log file (LogFile.cpp)

// Prepares the file named by a non-empty -l value (creating its directory); the file itself is
// opened by the first record.
void OpenLogFile(const std::wstring& logPath);
// Closes the file; nothing more is written to it.
void CloseLogFile();
// Appends one record: "<time> InstallHelper.cpp: " and the body.
void WriteLogRecord(const std::wstring& body);
// Each byte of `text` as one UTF-16 unit.
std::wstring WidenBytes(const std::string& text);
