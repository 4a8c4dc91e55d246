#include "support/TraceRecorder.h"

#include <gtest/gtest.h>
#include <cstdarg>

namespace {

TraceRecorder* g_recorder = nullptr;

// The argument list of a TraceMessage call: pairs of (pointer, size) ended by a null pointer.
std::vector<std::string> CollectTraceArguments(va_list args) {
    std::vector<std::string> arguments;
    for (;;) {
        const void* data = va_arg(args, PVOID);
        if (data == nullptr) break;
        const SIZE_T size = va_arg(args, SIZE_T);
        arguments.emplace_back(static_cast<const char*>(data), size);
    }
    return arguments;
}

ULONG WINAPI RecordRegister(WMIDPREQUEST callback, PVOID context, LPCGUID controlGuid, ULONG guidCount,
                            PTRACE_GUID_REGISTRATION registration, LPCWSTR mofImagePath, LPCWSTR mofResourceName,
                            PTRACEHANDLE handle) {
    g_recorder->callback = callback;
    g_recorder->context = context;
    g_recorder->controlGuid = *controlGuid;
    g_recorder->guidCount = guidCount;
    g_recorder->registeredGuid = *registration->Guid;
    g_recorder->mofGiven = mofImagePath != nullptr || mofResourceName != nullptr;
    *handle = TraceRecorder::kRegistrationHandle;
    return ERROR_SUCCESS;
}

ULONG WINAPI RecordUnregister(TRACEHANDLE handle) {
    g_recorder->unregistered.push_back(handle);
    return ERROR_SUCCESS;
}

TRACEHANDLE WINAPI RecordLoggerHandle(PVOID buffer) {
    return buffer == &g_recorder->enableBuffer ? TraceRecorder::kLoggerHandle : 0;
}

UCHAR WINAPI RecordEnableLevel(TRACEHANDLE logger) {
    return logger == TraceRecorder::kLoggerHandle ? g_recorder->level : 0;
}

ULONG WINAPI RecordEnableFlags(TRACEHANDLE logger) {
    return logger == TraceRecorder::kLoggerHandle ? g_recorder->enableFlags : 0;
}

ULONG __cdecl RecordTraceMessage(TRACEHANDLE logger, ULONG flags, LPCGUID guid, USHORT number, ...) {
    TraceMessageRecord record;
    record.logger = logger;
    record.flags = flags;
    record.guid = *guid;
    record.number = number;
    va_list args;
    va_start(args, number);
    record.arguments = CollectTraceArguments(args);
    va_end(args);
    g_recorder->messages.push_back(record);
    ::SetLastError(ERROR_NOT_FOUND);   // what a real call may leave behind
    return ERROR_SUCCESS;
}

ULONG WINAPI RecordTraceEvent(TRACEHANDLE, PEVENT_TRACE_HEADER header) {
    TraceEventRecord record;
    record.header = *header;
    record.guid = *reinterpret_cast<const GUID*>(header->GuidPtr);
    const auto* fields = reinterpret_cast<const MOF_FIELD*>(header + 1);
    const size_t count = (header->Size - sizeof(EVENT_TRACE_HEADER)) / sizeof(MOF_FIELD);
    for (size_t i = 0; i < count; ++i) {
        record.fields.emplace_back(reinterpret_cast<const char*>(fields[i].DataPtr), fields[i].Length);
    }
    g_recorder->events.push_back(record);
    return ERROR_SUCCESS;
}

} // namespace

TraceRecorder::TraceRecorder() { g_recorder = this; }

TraceRecorder::~TraceRecorder() {
    UninitializeLog(L"");
    // The platform's entry points back in place, so that nothing reaches this recorder again.
    SetTraceHooksForTests(nullptr);
    InitializeLog(L"");
    UninitializeLog(L"");
    if (g_recorder == this) g_recorder = nullptr;
}

TraceHooks TraceRecorder::Hooks() {
    TraceHooks hooks;
    hooks.registerTraceGuids = &RecordRegister;
    hooks.unregisterTraceGuids = &RecordUnregister;
    hooks.getTraceLoggerHandle = &RecordLoggerHandle;
    hooks.getTraceEnableLevel = &RecordEnableLevel;
    hooks.getTraceEnableFlags = &RecordEnableFlags;
    hooks.traceMessage = &RecordTraceMessage;
    hooks.traceEvent = &RecordTraceEvent;
    return hooks;
}

void TraceRecorder::Install(const TraceHooks& hooks, const std::wstring& logPath) {
    g_recorder = this;
    SetTraceHooksForTests(&hooks);
    InitializeLog(logPath);
    ASSERT_NE(callback, nullptr) << "the provider did not register";
}

ULONG TraceRecorder::Control(WMIDPREQUESTCODE request, UCHAR requestLevel, ULONG flags) {
    if (callback == nullptr) {
        ADD_FAILURE() << "no trace provider registered with the recorder";
        return ERROR_INVALID_FUNCTION;
    }
    level = requestLevel;
    enableFlags = flags;
    ULONG size = 1234;
    const ULONG result = callback(request, context, &size, &enableBuffer);
    if (result == ERROR_SUCCESS) {
        EXPECT_EQ(size, 0u);
    }
    return result;
}

void TraceRecorder::Enable(UCHAR requestLevel, ULONG flags) {
    ASSERT_EQ(Control(WMI_ENABLE_EVENTS, requestLevel, flags), 0u);
}

std::vector<std::string> TraceRecorder::MessagesOf(const GUID& guid) const {
    std::vector<std::string> found;
    for (const auto& message : messages) {
        if (!IsEqualGUID(message.guid, guid)) continue;
        std::string line = std::to_string(message.number) + ":";
        for (const auto& argument : message.arguments) line += " " + argument;
        found.push_back(line);
    }
    return found;
}
