#include "services/ServiceSettings.h"

#include <cstdint>

FailureActionTable BuildFailureActions(long resetPeriod, long restartCount, long restartDelay) {
    FailureActionTable table;
    if (restartCount < 0) {
        table.skipped = true;
        table.skipReason = "RestartCount is negative";
        return table;
    }
    if (restartCount > kMaxFailureRestarts) {
        table.skipped = true;
        table.skipReason = "RestartCount is too large";
        return table;
    }
    int64_t delayMs = static_cast<int64_t>(restartDelay) * 1000;
    if (delayMs < 0) delayMs = 0;
    if (delayMs > static_cast<int64_t>(MAXDWORD)) delayMs = MAXDWORD;

    table.actions.assign(static_cast<size_t>(restartCount) + 1, SC_ACTION{ SC_ACTION_RESTART, static_cast<DWORD>(delayMs) });
    table.actions.back() = SC_ACTION{ SC_ACTION_NONE, 0 };
    table.resetPeriod = static_cast<DWORD>(resetPeriod);
    // A count of 0 with the array present makes the SCM drop the reset period and every action.
    table.actionCount = resetPeriod != 0 ? static_cast<DWORD>(table.actions.size()) : 0;
    return table;
}

bool BuildDependencyList(const std::wstring& dependOnService, std::vector<wchar_t>& list) {
    list.clear();
    if (dependOnService.size() > kMaxDependencyLength) return false;
    list.assign(kDependencyListUnits, L'\0');
    dependOnService.copy(list.data(), dependOnService.size());
    return true;
}

ServiceWaitInterval ComputeServiceWaitInterval(long restartDelay, long restartCount) {
    ServiceWaitInterval interval;
    const int64_t seconds = static_cast<int64_t>(restartDelay) * static_cast<int64_t>(restartCount) + 1;
    if (seconds <= 0) return interval;
    if (seconds > static_cast<int64_t>(kMaxServiceWaitMs / 1000)) {
        interval.milliseconds = kMaxServiceWaitMs;
        interval.capped = true;
        return interval;
    }
    interval.milliseconds = static_cast<DWORD>(seconds * 1000);
    return interval;
}

const wchar_t* ServiceStateName(DWORD state) {
    static const wchar_t* const kNames[] = {
        L"CRV_CRASH",       L"CRV_SHUTDOWN",            L"CRV_CONFIGCHANGED",   L"CRV_ENGDATUPDATE",
        L"CRV_INITIALIZED", L"CRV_CLIENT_STATE_CHANGE", L"CRV_MISSING_CONTENT", L"CRV_CORRUPT_CONTENT",
        L"CRV_INITIALIZE_FAILED", L"CRV_INITIALIZING",
    };
    return state < sizeof(kNames) / sizeof(kNames[0]) ? kNames[state] : L"";
}
