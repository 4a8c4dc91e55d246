// The log call: one formatting, then the event-trace provider and the log file.
#include "shell/Log.h"
#include "shell/LogParts.h"
#include "shell/PhaseTimes.h"

#include <windows.h>
#include <cstdarg>
#include <cstdlib>
#include <string>

namespace {

void __cdecl IgnoreInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int, uintptr_t) {}

// A bad format or argument makes the formatter fail instead of ending the process.
class InvalidParameterHandlerScope {
public:
    InvalidParameterHandlerScope() : previous_(::_set_invalid_parameter_handler(&IgnoreInvalidParameter)) {}
    ~InvalidParameterHandlerScope() { ::_set_invalid_parameter_handler(previous_); }
    InvalidParameterHandlerScope(const InvalidParameterHandlerScope&) = delete;
    InvalidParameterHandlerScope& operator=(const InvalidParameterHandlerScope&) = delete;

private:
    _invalid_parameter_handler previous_;
};

} // namespace

void WriteLogMessage(const char* sourceFile, unsigned line, unsigned level, const FormattedLogText& message) {
    TraceLogRecord(sourceFile, line, level, message.text.c_str());
    if (message.wide) {
        std::wstring body = WidenBytes(LogRecordBody(sourceFile, line, std::string()));   // ends with "\r\n"
        body.insert(body.size() - 2, message.wideText);
        WriteLogRecord(body);
    } else {
        WriteLogRecord(WidenBytes(LogRecordBody(sourceFile, line, message.text)));
    }
    if (message.measuredSize != message.writtenSize) {
        TraceSizeMismatch(message.measuredSize, message.writtenSize);
        WriteLogRecord(WidenBytes(MismatchRecordBody(sourceFile, message.measuredSize, message.writtenSize)));
    }
}

void InstallerDebugLog(const char* sourceFile, unsigned line, unsigned level, const char* format, ...) {
    LastErrorScope lastError;
    PhaseScope phase(Phase::Log);
    InvalidParameterHandlerScope handler;
    try {
        va_list args;
        va_start(args, format);
        FormattedLogText message;
        try {
            message = FormatLogText(format, args);
        } catch (...) {
            va_end(args);
            throw;
        }
        va_end(args);
        WriteLogMessage(sourceFile, line, level, message);
    } catch (...) {
        // Logging never changes the outcome of an operation; a record that cannot be built is dropped.
    }
}

void InitializeLog(const std::wstring& logPath) {
    LastErrorScope lastError;
    RegisterTraceProvider();
    if (!logPath.empty()) OpenLogFile(logPath);
}

void UninitializeLog(const std::wstring& logPath) {
    LastErrorScope lastError;
    UnregisterTraceProvider();
    if (!logPath.empty()) CloseLogFile();
}
