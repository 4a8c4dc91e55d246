#pragma once
// The one log call of the program and the helpers around it.
//
// Every source file that logs names its module once, before any LOG call:
//     static const char kLogModule[] = ".\\Package";
// and then writes
//     LOG(LogLevel::Information, "Begin Installing Package");
// A message without arguments is its own format, unless it holds a "%" ("%s" with the text then).
// "%S" takes a UTF-16 argument, "%s" a narrow one (the C run-time's Microsoft semantics).
//
// Each message goes to the event-trace provider (when a controller has enabled it for the
// message's level with flag 0x2) and to the -l log file (every level).
#include <windows.h>
#include <wmistr.h>
#include <evntrace.h>
#include <cstdarg>
#include <string>
#include <vector>

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

// The compiler checks every log call's arguments against its format: the Microsoft printf
// rules ("%S" a UTF-16 string, "%s" a narrow one) on mingw-w64, the SAL annotation with MSVC's
// /analyze.
#if defined(__GNUC__) || defined(__clang__)
#define INSTALLER_FORMAT_STRING(parameter) parameter
#define INSTALLER_PRINTF_CHECK(formatIndex, firstArgument) \
    __attribute__((format(ms_printf, formatIndex, firstArgument)))
#elif defined(_MSC_VER)
#include <sal.h>
#define INSTALLER_FORMAT_STRING(parameter) _Printf_format_string_ parameter
#define INSTALLER_PRINTF_CHECK(formatIndex, firstArgument)
#else
#define INSTALLER_FORMAT_STRING(parameter) parameter
#define INSTALLER_PRINTF_CHECK(formatIndex, firstArgument)
#endif

// Formats once and sends the text to the event trace and the log file. Never fails and leaves
// the thread's last error as it found it.
void InstallerDebugLog(const char* sourceFile, unsigned line, unsigned level,
                       INSTALLER_FORMAT_STRING(const char* format), ...) INSTALLER_PRINTF_CHECK(4, 5);

// Registers the trace provider and prepares the log file named by the -l value (may be empty).
void InitializeLog(const std::wstring& logPath);
// Unregisters the provider and closes the log file.
void UninitializeLog(const std::wstring& logPath);

#define LOG(level, ...) ::InstallerDebugLog(kLogModule, __LINE__, (level), __VA_ARGS__)

// Sends a trace message of another module's own message GUID with two narrow texts as its
// arguments (each with its NUL; a null text is sent as "NULL"), under the same enable test as
// the log call: provider enabled with flag 0x2 at a level >= `level`. Never reaches the file.
void TraceOwnMessage(const GUID& messageGuid, USHORT number, unsigned level, const char* text1, const char* text2);

// The caller's line where the compiler can tell it, otherwise 0.
#if defined(__GNUC__) || defined(__clang__) || (defined(_MSC_VER) && _MSC_VER >= 1926)
#define INSTALLER_CALLER_LINE __builtin_LINE()
#else
#define INSTALLER_CALLER_LINE 0
#endif

// Entry and exit lines of one operation at level 6:
//     FunctionScope scope(kLogModule, "Package::Install");
//     ...
//     return scope.Result(code);   // "Exiting function Package::Install with result <code>"
// A scope that ends without Result() logs the plain "Exiting function <name>" line.
// The lines carry the line numbers of the scope's declaration and of the Result() call.
class FunctionScope {
public:
    FunctionScope(const char* module, const char* name, bool hexResult = false,
                  unsigned line = INSTALLER_CALLER_LINE);
    // An operation whose entry goes only to the trace, as message `entryMessageNumber` of the
    // caller's own message GUID with the texts "Entered function" and the name (TraceOwnMessage);
    // its exit line is logged as any other.
    FunctionScope(const char* module, const char* name, const GUID& entryMessageGuid, USHORT entryMessageNumber,
                  unsigned line = INSTALLER_CALLER_LINE);
    FunctionScope(const FunctionScope&) = delete;
    FunctionScope& operator=(const FunctionScope&) = delete;
    ~FunctionScope();

    // Records the operation's result, whatever its type (DWORD, LSTATUS, BOOL, bool, int), and
    // gives it back unchanged. The exit line shows its 32 bits with "%d" (or "0x%x").
    template <typename Code>
    Code Result(Code code, unsigned line = INSTALLER_CALLER_LINE) {
        result_ = static_cast<DWORD>(code);
        hasResult_ = true;
        if (line != 0) line_ = line;
        return code;
    }

private:
    const char* module_;
    const char* name_;
    bool hexResult_;
    unsigned line_;
    bool hasResult_ = false;
    DWORD result_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Building blocks of the log call, for tests.

// The formatted message: `measuredSize` is the count-only formatter's length plus 1 (0 when the
// text cannot be measured), `writtenSize` the bounded formatter's result plus 1, `text` what the
// bounded formatter left in the buffer (empty when it failed).
struct FormattedLogText {
    int measuredSize = 0;
    int writtenSize = 0;
    std::string text;
    // Set when a UTF-16 argument could not be narrowed (letters outside the run-time's narrow
    // character set): the message was formatted as UTF-16 instead, `text` holds it as UTF-8.
    bool wide = false;
    std::wstring wideText;
};
FormattedLogText FormatLogText(const char* format, va_list args);

// Everything the log call does after formatting: trace message 10, the file record, and on a
// size mismatch trace message 11 and the mismatch record.
void WriteLogMessage(const char* sourceFile, unsigned line, unsigned level, const FormattedLogText& message);

// Record bodies as they follow the "<time> InstallHelper.cpp: " head of a file record.
std::string LogRecordBody(const char* sourceFile, unsigned line, const std::string& message);
std::string MismatchRecordBody(const char* sourceFile, int measuredSize, int writtenSize);
// "dd/mm/yy HH:MM:SS" of a local time.
std::string LogTimestamp(const SYSTEMTIME& localTime);
// The -l value less one trailing "\" or "/", and the directory to create for it: the part up to
// and including the last "\" (empty when there is no "\").
std::wstring LogFilePathOf(const std::wstring& logPath);
std::wstring LogDirectoryOf(const std::wstring& logFilePath);

// The trace entry points. The log call reaches the platform only through these, so that tests
// can put recorders in their place (the platform's trace session is not needed for a test).
struct TraceHooks {
    ULONG (WINAPI* registerTraceGuids)(WMIDPREQUEST, PVOID, LPCGUID, ULONG, PTRACE_GUID_REGISTRATION, LPCWSTR,
                                       LPCWSTR, PTRACEHANDLE) = nullptr;
    ULONG (WINAPI* unregisterTraceGuids)(TRACEHANDLE) = nullptr;
    TRACEHANDLE (WINAPI* getTraceLoggerHandle)(PVOID) = nullptr;
    UCHAR (WINAPI* getTraceEnableLevel)(TRACEHANDLE) = nullptr;
    ULONG (WINAPI* getTraceEnableFlags)(TRACEHANDLE) = nullptr;
    // Null: the TraceEvent fallback below stands in, as when advapi32 lacks "TraceMessage".
    ULONG (__cdecl* traceMessage)(TRACEHANDLE, ULONG, LPCGUID, USHORT, ...) = nullptr;
    ULONG (__cdecl* traceMessageVa)(TRACEHANDLE, ULONG, LPCGUID, USHORT, va_list) = nullptr;
    ULONG (WINAPI* traceEvent)(TRACEHANDLE, PEVENT_TRACE_HEADER) = nullptr;
};
// Replaces the platform's entry points (null puts them back). Takes effect at the next
// InitializeLog.
void SetTraceHooksForTests(const TraceHooks* hooks);

// The provider's control callback (request 4 enables, 5 disables, anything else gives 87).
ULONG WINAPI TraceControlCallback(WMIDPREQUESTCODE requestCode, PVOID context, ULONG* bufferSize, PVOID buffer);

// The trace message sent with TraceEvent where "TraceMessage" is missing: the arguments are
// (pointer, size) pairs ending with a null pointer.
ULONG TraceMessageFallbackVa(TRACEHANDLE logger, ULONG messageFlags, LPCGUID messageGuid, USHORT number,
                             va_list args);
