#include "shell/PhaseTimes.h"

#include <cstdio>
#include <string>
#include "shell/Handles.h"

namespace {

const char* const kPhaseNames[] = { "other", "document", "directories", "copy", "digest", "delete", "log" };
static_assert(sizeof(kPhaseNames) / sizeof(kPhaseNames[0]) == static_cast<size_t>(Phase::Count),
              "one name per phase");

struct PhaseClock {
    DWORD thread = 0;   // the main thread, the only one the clock follows
    Phase current = Phase::Other;
    LONGLONG since = 0;
    LONGLONG start = 0;
    LONGLONG totals[static_cast<size_t>(Phase::Count)] = {};
};

PhaseClock g_clock;

LONGLONG Now() {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// Charges the time since the last change to the phase that ran, and makes `next` the current one.
// Work on any other thread than the main one is not followed (and leaves the clock alone).
Phase SwitchTo(Phase next) {
    if (::GetCurrentThreadId() != g_clock.thread) return next;
    const LONGLONG now = Now();
    if (g_clock.since != 0) g_clock.totals[static_cast<size_t>(g_clock.current)] += now - g_clock.since;
    g_clock.since = now;
    const Phase previous = g_clock.current;
    g_clock.current = next;
    return previous;
}

} // namespace

PhaseScope::PhaseScope(Phase phase) : previous_(SwitchTo(phase)) {}

PhaseScope::~PhaseScope() { SwitchTo(previous_); }

void StartPhaseTimes() {
    g_clock = PhaseClock();
    g_clock.thread = ::GetCurrentThreadId();
    g_clock.start = Now();
    g_clock.since = g_clock.start;
}

void WritePhaseTimes() {
    const DWORD lastError = ::GetLastError();
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"INSTALLER_PHASE_TIMES", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    SwitchTo(g_clock.current);
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    char number[64];
    std::string line;
    snprintf(number, sizeof(number), "start=%lld end=%lld frequency=%lld", g_clock.start, g_clock.since,
             frequency.QuadPart);
    line += number;
    for (size_t i = 0; i < static_cast<size_t>(Phase::Count); ++i) {
        snprintf(number, sizeof(number), " %s=%lld", kPhaseNames[i], g_clock.totals[i]);
        line += number;
    }
    line += "\r\n";
    UniqueFileHandle file(::CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file) ::WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    ::SetLastError(lastError);
}
