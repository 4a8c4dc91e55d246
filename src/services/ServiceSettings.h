#pragma once
// The values the service element derives from its document fields before it talks to the SCM:
// the restart-on-failure table, the dependency list, the wait interval of the start, and the
// names of the scanner's states. Pure functions, so that what the SCM is given can be checked
// without an SCM that stores it.
#include <windows.h>
#include <string>
#include <vector>

// The failure actions given to ChangeServiceConfig2W(SERVICE_CONFIG_FAILURE_ACTIONS).
struct FailureActionTable {
    // Set when RestartCount cannot size the action array (negative, or above
    // kMaxFailureRestarts): no failure actions are set, `skipReason` says why.
    bool skipped = false;
    const char* skipReason = "";
    DWORD resetPeriod = 0;         // seconds, as given
    DWORD actionCount = 0;         // what the SCM is told: 0 when ResetPeriod is 0
    std::vector<SC_ACTION> actions;   // RestartCount restarts, then one SC_ACTION_NONE
};

// Restart counts above this are refused: no real policy restarts a service this often, and the
// array must stay small enough to allocate.
constexpr long kMaxFailureRestarts = 1000;

// RestartCount restarts of RestartDelay seconds each (delays below 0 count as 0, delays too long
// for 32-bit milliseconds are held at the largest), then SC_ACTION_NONE with delay 0.
FailureActionTable BuildFailureActions(long resetPeriod, long restartCount, long restartDelay);

// The CreateServiceW dependency list: 260 zero-filled units holding the name and its terminator,
// so that the zero tail ends the list. An empty name gives an empty list. False (and `list` left
// empty) when the name is longer than kMaxDependencyLength and would lose its list terminator.
constexpr size_t kDependencyListUnits = 260;
constexpr size_t kMaxDependencyLength = kDependencyListUnits - 2;
bool BuildDependencyList(const std::wstring& dependOnService, std::vector<wchar_t>& list);

// The interval slept between the polls of a service start and of the scanner wait:
// (RestartDelay x RestartCount + 1) seconds, computed wide, never below 0 and held at
// kMaxServiceWaitMs (one wait never runs longer than ten minutes, and never becomes INFINITE).
constexpr DWORD kMaxServiceWaitMs = 10 * 60 * 1000;
struct ServiceWaitInterval {
    DWORD milliseconds = 0;
    bool capped = false;   // the settings asked for more than kMaxServiceWaitMs
};
ServiceWaitInterval ComputeServiceWaitInterval(long restartDelay, long restartCount);

// "CRV_CRASH" ... "CRV_INITIALIZING" for the scanner's states 0 to 9, the empty text otherwise.
const wchar_t* ServiceStateName(DWORD state);

// How long one call into the scanner client library may take before the wait gives up on the
// library: one wait interval, and never less than kMinScannerCallMs.
constexpr DWORD kMinScannerCallMs = 10000;
inline DWORD ScannerCallTimeout(DWORD intervalMs) { return intervalMs > kMinScannerCallMs ? intervalMs : kMinScannerCallMs; }

// The scanner's states that steer the wait after a start.
constexpr DWORD kScannerInitialized = 4;
constexpr DWORD kScannerInitializing = 9;
