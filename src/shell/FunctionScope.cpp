// Entry and exit lines of one operation.
#include "shell/Log.h"

FunctionScope::FunctionScope(const char* module, const char* name, bool hexResult, unsigned line)
    : module_(module), name_(name), hexResult_(hexResult), line_(line) {
    InstallerDebugLog(module_, line_, LogLevel::Detail, "%s %s", "Entered function", name_);
}

FunctionScope::FunctionScope(const char* module, const char* name, const GUID& entryMessageGuid,
                             USHORT entryMessageNumber, unsigned line)
    : module_(module), name_(name), hexResult_(false), line_(line) {
    TraceOwnMessage(entryMessageGuid, entryMessageNumber, LogLevel::Detail, "Entered function", name_);
}

FunctionScope::~FunctionScope() {
    if (!hasResult_) {
        InstallerDebugLog(module_, line_, LogLevel::Detail, "%s %s", "Exiting function", name_);
    } else if (hexResult_) {
        InstallerDebugLog(module_, line_, LogLevel::Detail, "%s %s with result 0x%x", "Exiting function", name_,
                          static_cast<unsigned>(result_));
    } else {
        InstallerDebugLog(module_, line_, LogLevel::Detail, "%s %s with result %d", "Exiting function", name_,
                          static_cast<int>(result_));
    }
}
