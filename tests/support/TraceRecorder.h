#pragma once
// Stands in for advapi32's trace entry points and for a trace controller: the log call's
// provider registers with the recorder, a test enables it at a level and with flags, and every
// message and event the provider sends is kept for the test to read.
//
//     TraceRecorder recorder;                       // the current recorder until destroyed
//     recorder.Install();                           // hooks in place, provider registered
//     recorder.Enable(6, 0x2);
//     LOG(...);                                     // recorder.messages holds what was traced
#include <windows.h>
#include <wmistr.h>
#include <evntrace.h>
#include <string>
#include <vector>
#include "shell/Log.h"

struct TraceMessageRecord {
    TRACEHANDLE logger = 0;
    ULONG flags = 0;
    GUID guid = {};
    USHORT number = 0;
    std::vector<std::string> arguments;   // the bytes of each (pointer, size) pair
};

struct TraceEventRecord {
    EVENT_TRACE_HEADER header = {};
    GUID guid = {};
    std::vector<std::string> fields;      // the bytes of each MOF field
};

class TraceRecorder {
public:
    static constexpr TRACEHANDLE kRegistrationHandle = 0x5150;
    static constexpr TRACEHANDLE kLoggerHandle = 0x77AA;

    TraceRecorder();
    ~TraceRecorder();
    TraceRecorder(const TraceRecorder&) = delete;
    TraceRecorder& operator=(const TraceRecorder&) = delete;

    // Every entry point recorded; a test may null some of them before installing.
    static TraceHooks Hooks();
    // Puts `hooks` in place of the platform's and registers the provider (InitializeLog with
    // `logPath`); fails the test when the provider did not register.
    void Install(const TraceHooks& hooks = Hooks(), const std::wstring& logPath = L"");

    // What a trace controller does: sends `request` to the provider's control callback with the
    // given level and flags; returns the callback's result.
    ULONG Control(WMIDPREQUESTCODE request, UCHAR level, ULONG flags);
    // Enables the provider; fails the test when the callback refuses.
    void Enable(UCHAR level, ULONG flags);

    // The messages of one message GUID, each as "number: argument argument ..." (arguments as
    // sent, terminators included).
    std::vector<std::string> MessagesOf(const GUID& guid) const;

    // What the provider registered with.
    WMIDPREQUEST callback = nullptr;
    PVOID context = nullptr;
    GUID controlGuid = {};
    ULONG guidCount = 0;
    GUID registeredGuid = {};
    bool mofGiven = true;
    // What the controller enabled.
    UCHAR level = 0;
    ULONG enableFlags = 0;
    int enableBuffer = 0;   // the controller's request buffer
    // What the provider sent.
    std::vector<TraceMessageRecord> messages;
    std::vector<TraceEventRecord> events;
    std::vector<TRACEHANDLE> unregistered;
};
