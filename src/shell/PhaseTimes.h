#pragma once
// Where one run's time goes, for the benchmarks: each piece of work is charged to one phase,
// exclusively (a log record written while a file is copied counts as log, not as copy).
//
//     PhaseScope phase(Phase::Copy);   // from here to the end of the scope, time is Copy's
//
// The clock runs always (one performance-counter read per change of phase); the totals are
// written only when the environment variable INSTALLER_PHASE_TIMES names a file, by
// WritePhaseTimes() at the end of the run: one line appended,
//     start=<counter at entry> end=<counter at exit> frequency=<counts per second> <phase>=<counts> ...
// so that a parent process can also tell how long the process took to reach its entry point.
// Only the thread that started the clock is followed.
#include <windows.h>

enum class Phase { Other, Document, Directories, Copy, Digest, Delete, Log, Count };

class PhaseScope {
public:
    explicit PhaseScope(Phase phase);
    ~PhaseScope();
    PhaseScope(const PhaseScope&) = delete;
    PhaseScope& operator=(const PhaseScope&) = delete;

private:
    Phase previous_;
};

// Starts the clock (the entry point calls it first).
void StartPhaseTimes();
// Appends the totals to the file INSTALLER_PHASE_TIMES names; nothing without the variable.
void WritePhaseTimes();
