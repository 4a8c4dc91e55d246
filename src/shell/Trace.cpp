// The event-trace provider of the log call: registration, the control callback, and the trace
// messages the log call and the controller send.
#include "shell/Log.h"
#include "shell/LogParts.h"

#include <windows.h>
#include <atomic>
#include <cstdarg>
#include <cstring>
#include <vector>

#include "shell/Handles.h"

namespace {

// {30117373-4BE1-4864-B804-A23F9C1DB6F0}
const GUID kTraceControlGuid = { 0x30117373, 0x4BE1, 0x4864, { 0xB8, 0x04, 0xA2, 0x3F, 0x9C, 0x1D, 0xB6, 0xF0 } };
// {60AAB8E3-B6E6-E86D-C746-3979B0C0FC26}
const GUID kLogMessageGuid = { 0x60AAB8E3, 0xB6E6, 0xE86D, { 0xC7, 0x46, 0x39, 0x79, 0xB0, 0xC0, 0xFC, 0x26 } };

constexpr USHORT kLogMessageNumber = 10;
constexpr USHORT kMismatchMessageNumber = 11;
// Sequence number, GUID, time stamp and system information.
constexpr ULONG kMessageFlags = TRACE_MESSAGE_SEQUENCE | TRACE_MESSAGE_GUID | TRACE_MESSAGE_TIMESTAMP |
                                TRACE_MESSAGE_SYSTEMINFO;
constexpr ULONG kLogTraceFlag = 0x2;
// The fallback sends nothing beyond this many argument bytes.
constexpr size_t kMaxFallbackArgumentBytes = 8192;

// One per process. The control callback writes logger, level and flags from the system's thread;
// the log call reads them without a lock.
struct TraceControlBlock {
    TraceControlBlock* next = nullptr;
    TRACEHANDLE registration = 0;
    std::atomic<TRACEHANDLE> logger{ 0 };
    UCHAR flagsLength = 1;
    std::atomic<UCHAR> level{ 1 };
    USHORT options = 0;
    std::atomic<ULONG> flags{ 0 };
    const GUID* controlGuid = &kTraceControlGuid;
};

ULONG __cdecl TraceMessageFallback(TRACEHANDLE logger, ULONG messageFlags, LPCGUID messageGuid, USHORT number, ...);

TraceHooks SystemTraceEntryPoints() {
    TraceHooks hooks;
    hooks.registerTraceGuids = &::RegisterTraceGuidsW;
    hooks.unregisterTraceGuids = &::UnregisterTraceGuids;
    hooks.getTraceLoggerHandle = &::GetTraceLoggerHandle;
    hooks.getTraceEnableLevel = &::GetTraceEnableLevel;
    hooks.getTraceEnableFlags = &::GetTraceEnableFlags;
    hooks.traceEvent = &::TraceEvent;
    return hooks;
}

template <typename Function>
Function ProcedureAs(FARPROC procedure) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(procedure));
}

struct TraceState {
    TraceControlBlock block;
    std::atomic<TraceControlBlock*> list{ nullptr };
    // The entry points in use since the last InitializeLog.
    TraceHooks active = SystemTraceEntryPoints();
    bool useTestHooks = false;
    TraceHooks testHooks;
};

// Never destroyed, so that a record written while static objects are destroyed at exit still
// finds its state.
TraceState& Trace() {
    static TraceState* state = new TraceState;
    return *state;
}

// "TraceMessage" and "TraceMessageVa" are looked up at run time; the fallback stands in for what
// advapi32 does not export.
void ResolveEntryPoints() {
    TraceState& state = Trace();
    if (state.useTestHooks) {
        state.active = state.testHooks;
    } else {
        state.active = SystemTraceEntryPoints();
        UniqueModule advapi(::LoadLibraryW(L"advapi32"));
        if (advapi) {
            state.active.traceMessage =
                ProcedureAs<decltype(TraceHooks::traceMessage)>(::GetProcAddress(advapi.get(), "TraceMessage"));
            state.active.traceMessageVa =
                ProcedureAs<decltype(TraceHooks::traceMessageVa)>(::GetProcAddress(advapi.get(), "TraceMessageVa"));
        }
        // advapi32 is one of the program's imports, so the addresses stay valid after the release.
    }
    if (state.active.traceMessage == nullptr) {
        state.active.traceMessage = &TraceMessageFallback;
        state.active.traceMessageVa = &TraceMessageFallbackVa;
    } else if (state.active.traceMessageVa == nullptr) {
        state.active.traceMessageVa = &TraceMessageFallbackVa;
    }
}

ULONG __cdecl TraceMessageFallback(TRACEHANDLE logger, ULONG messageFlags, LPCGUID messageGuid, USHORT number, ...) {
    va_list args;
    va_start(args, number);
    const ULONG result = Trace().active.traceMessageVa(logger, messageFlags, messageGuid, number, args);
    va_end(args);
    return result;
}

// The block to trace to when the provider is enabled with the log flag at `level` or above.
TraceControlBlock* EnabledBlock(unsigned level) {
    TraceControlBlock* block = Trace().list.load();
    if (block == nullptr) return nullptr;
    if ((block->flags.load() & kLogTraceFlag) == 0) return nullptr;
    if (block->level.load() < level) return nullptr;
    return block;
}

ULONG SendTwoTexts(TraceControlBlock& block, const GUID& guid, USHORT number, const char* text1, const char* text2) {
    text1 = TextOrNull(text1);
    text2 = TextOrNull(text2);
    return Trace().active.traceMessage(block.logger.load(), kMessageFlags, &guid, number,
                                       static_cast<PVOID>(const_cast<char*>(text1)), static_cast<SIZE_T>(strlen(text1) + 1),
                                       static_cast<PVOID>(const_cast<char*>(text2)), static_cast<SIZE_T>(strlen(text2) + 1),
                                       static_cast<PVOID>(nullptr), static_cast<SIZE_T>(0));
}

void SendLogMessage(TraceControlBlock& block, const char* sourceFile, unsigned line, const char* message) {
    sourceFile = TextOrNull(sourceFile);
    message = TextOrNull(message);
    ULONG lineNumber = line;
    Trace().active.traceMessage(block.logger.load(), kMessageFlags, &kLogMessageGuid, kLogMessageNumber,
                                static_cast<PVOID>(const_cast<char*>(sourceFile)), static_cast<SIZE_T>(strlen(sourceFile) + 1),
                                static_cast<PVOID>(&lineNumber), static_cast<SIZE_T>(sizeof(lineNumber)),
                                static_cast<PVOID>(const_cast<char*>(message)), static_cast<SIZE_T>(strlen(message) + 1),
                                static_cast<PVOID>(nullptr), static_cast<SIZE_T>(0));
}

void SendMismatchMessage(TraceControlBlock& block, int measuredSize, int writtenSize) {
    LONG measured = measuredSize;
    LONG written = writtenSize;
    Trace().active.traceMessage(block.logger.load(), kMessageFlags, &kLogMessageGuid, kMismatchMessageNumber,
                                static_cast<PVOID>(&measured), static_cast<SIZE_T>(sizeof(measured)),
                                static_cast<PVOID>(&written), static_cast<SIZE_T>(sizeof(written)),
                                static_cast<PVOID>(nullptr), static_cast<SIZE_T>(0));
}

} // namespace

void RegisterTraceProvider() {
    TraceState& trace = Trace();
    if (TraceControlBlock* previous = trace.list.exchange(nullptr)) {
        trace.active.unregisterTraceGuids(previous->registration);
        previous->registration = 0;
    }
    ResolveEntryPoints();

    TraceControlBlock& block = trace.block;
    block.next = nullptr;
    block.registration = 0;
    block.logger = 0;
    block.flagsLength = 1;
    block.level = 1;
    block.options = 0;
    block.flags = 0;
    block.controlGuid = &kTraceControlGuid;
    trace.list = &block;
    TRACE_GUID_REGISTRATION registration = { &kTraceControlGuid, nullptr };
    TRACEHANDLE handle = 0;
    trace.active.registerTraceGuids(&TraceControlCallback, &block, &kTraceControlGuid, 1, &registration, nullptr,
                                    nullptr, &handle);
    block.registration = handle;
}

void UnregisterTraceProvider() {
    TraceState& trace = Trace();
    for (TraceControlBlock* block = trace.list.exchange(nullptr); block != nullptr; block = block->next) {
        trace.active.unregisterTraceGuids(block->registration);
        block->registration = 0;
    }
}

void TraceLogRecord(const char* sourceFile, unsigned line, unsigned level, const char* message) {
    if (TraceControlBlock* block = EnabledBlock(level)) SendLogMessage(*block, sourceFile, line, message);
}

void TraceSizeMismatch(int measuredSize, int writtenSize) {
    if (TraceControlBlock* block = EnabledBlock(LogLevel::Warning)) SendMismatchMessage(*block, measuredSize, writtenSize);
}

void TraceOwnMessage(const GUID& messageGuid, USHORT number, unsigned level, const char* text1, const char* text2) {
    LastErrorScope lastError;
    if (TraceControlBlock* block = EnabledBlock(level)) SendTwoTexts(*block, messageGuid, number, text1, text2);
}

void SetTraceHooksForTests(const TraceHooks* hooks) {
    TraceState& trace = Trace();
    trace.useTestHooks = hooks != nullptr;
    trace.testHooks = hooks != nullptr ? *hooks : TraceHooks();
}

ULONG WINAPI TraceControlCallback(WMIDPREQUESTCODE requestCode, PVOID context, ULONG* bufferSize, PVOID buffer) {
    auto* block = static_cast<TraceControlBlock*>(context);
    const TraceHooks& entry = Trace().active;
    TRACEHANDLE logger = 0;
    UCHAR level = 0;
    ULONG flags = 0;
    switch (requestCode) {
    case WMI_ENABLE_EVENTS:
        logger = entry.getTraceLoggerHandle(buffer);
        level = entry.getTraceEnableLevel(logger);
        flags = entry.getTraceEnableFlags(logger);
        break;
    case WMI_DISABLE_EVENTS:
        break;
    default:
        return ERROR_INVALID_PARAMETER;
    }
    if (block != nullptr) {
        block->logger = logger;
        block->level = level;
        block->flags = flags;
    }
    if (bufferSize != nullptr) *bufferSize = 0;
    return ERROR_SUCCESS;
}

ULONG TraceMessageFallbackVa(TRACEHANDLE logger, ULONG messageFlags, LPCGUID messageGuid, USHORT number,
                             va_list args) {
    struct Arguments {
        const void* data;
        SIZE_T size;
    };
    std::vector<Arguments> arguments;
    size_t total = 0;
    for (;;) {
        const void* data = va_arg(args, PVOID);
        if (data == nullptr) break;
        const SIZE_T size = va_arg(args, SIZE_T);
        arguments.push_back({ data, size });
        total += size;
        if (total > kMaxFallbackArgumentBytes) return ERROR_BUFFER_OVERFLOW;
    }

    struct {
        EVENT_TRACE_HEADER header;
        MOF_FIELD fields[MAX_MOF_FIELDS];
    } event = {};
    event.header.Flags = WNODE_FLAG_TRACED_GUID | WNODE_FLAG_USE_GUID_PTR | WNODE_FLAG_USE_MOF_PTR;
    event.header.GuidPtr = reinterpret_cast<ULONGLONG>(messageGuid);
    event.header.Class.Type = 0xFF;
    event.header.Class.Level = 0xFF;
    event.header.Class.Version = 0xFFFF;
    USHORT messageNumber = number;
    ULONG count = 0;
    event.fields[count].DataPtr = reinterpret_cast<ULONG64>(&messageNumber);
    event.fields[count].Length = sizeof(messageNumber);
    ++count;

    std::vector<unsigned char> block;
    if (arguments.size() <= 7) {
        for (const Arguments& argument : arguments) {
            event.fields[count].DataPtr = reinterpret_cast<ULONG64>(argument.data);
            event.fields[count].Length = static_cast<ULONG>(argument.size);
            ++count;
        }
    } else {
        block.reserve(total);
        for (const Arguments& argument : arguments) {
            const auto* bytes = static_cast<const unsigned char*>(argument.data);
            block.insert(block.end(), bytes, bytes + argument.size);
        }
        event.fields[count].DataPtr = reinterpret_cast<ULONG64>(block.data());
        event.fields[count].Length = static_cast<ULONG>(block.size());
        ++count;
    }
    event.header.Size = static_cast<USHORT>(sizeof(EVENT_TRACE_HEADER) + count * sizeof(MOF_FIELD));
    (void)messageFlags;
    return Trace().active.traceEvent(logger, &event.header);
}

