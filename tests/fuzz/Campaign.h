#pragma once
// What every campaign program shares: the seeded case loop, the count of outcomes, and the
// record of a failing case (its input and seed, saved so that one command replays it).
//
// Command line of every campaign program:
//   --seed <n>        first seed (default 1); case i runs from its own generator seeded by (n, i)
//   --count <n>       number of cases (default: the program's short run)
//   --case <i>        run case i of the seed alone (the replay of a saved failure)
//   --failures <dir>  where failing inputs are saved (default: fuzz-failures under the current folder)
//   --timeout <s>     a case running longer is a hang (default: the program's)
//   --target <name>   what the program drives, when it drives more than one thing
//   --replay <file>   (documents and runs) the saved document to run alone
//
// A crash inside a case (an exception the program does not handle, abort) and a hang are caught
// by the campaign itself: the input of the running case is saved before the process ends.
#include <windows.h>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

using Random = std::mt19937_64;

class Campaign {
public:
    Campaign(const char* name, int argc, wchar_t** argv, uint64_t defaultCount, unsigned defaultTimeoutSeconds);
    ~Campaign();

    uint64_t Seed() const { return seed_; }
    uint64_t First() const { return first_; }
    uint64_t End() const { return end_; }
    const std::wstring& Target() const { return target_; }
    // The --target a saved failure's replay command names (a program that runs all its targets
    // in one go names the running one).
    void SetReplayTarget(const std::wstring& target) { target_ = target; }
    const std::wstring& ReplayFile() const { return replay_; }
    // The value of "--<name>" when given, else the empty text.
    std::wstring Option(const std::wstring& name) const;

    // The generator of case `index`: the same (seed, index) always gives the same case.
    Random CaseRandom(uint64_t index) const;

    // Marks the start of a case. `input` is what a crash or hang saves; `extension` names its
    // kind (".txt", ".xml").
    void Begin(uint64_t index, const std::string& input, const char* extension);
    // Replaces the saved input of the running case (when it is built in steps).
    void SetInput(const std::string& input, const char* extension);
    // The case ended with this outcome (a name for the distribution).
    void Outcome(const std::string& outcome);
    // Counts an event of the environment beside the outcomes (a retried start, for instance).
    void Note(const std::string& what) { ++notes_[what]; }
    // The case broke a rule: saves its input and seed, counts it, and prints the reason.
    void Failure(const std::string& kind, const std::string& reason);

    // Largest private commit of the process seen while the case ran (sampled), in bytes.
    size_t CasePeakCommit() const { return casePeakCommit_; }
    // A case whose private commit passes `bytes` is a failure of kind "memory".
    void SetMemoryBound(size_t bytes) { memoryBound_ = bytes; }

    // Prints the counts and the distribution; the process exit code (0 when no case failed).
    int Finish();

    // Saves the input of the running case under `kind`; returns the saved path (narrow).
    std::string SaveRunningInput(const std::string& kind, const std::string& reason);

    // Text helpers for inputs.
    static std::string Utf8(const std::wstring& text);
    static std::string Escaped(const std::wstring& text);   // printable ASCII, \uXXXX for the rest

private:
    static DWORD WINAPI Watchdog(void* self);
    static LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* info);
    static void OnAbort(int);

    std::string name_;
    uint64_t seed_ = 1;
    uint64_t first_ = 0;
    uint64_t end_ = 0;
    unsigned timeoutSeconds_ = 10;
    std::wstring target_;
    std::wstring replay_;
    std::wstring failures_;
    std::map<std::wstring, std::wstring> options_;

    // The running case, read by the watchdog and the crash handler.
    CRITICAL_SECTION lock_;
    volatile LONG running_ = 0;
    uint64_t index_ = 0;
    ULONGLONG startTick_ = 0;
    std::string input_;
    std::string extension_ = ".txt";
    volatile size_t casePeakCommit_ = 0;
    size_t memoryBound_ = 0;
    HANDLE stop_ = nullptr;
    HANDLE watchdog_ = nullptr;

    uint64_t cases_ = 0;
    uint64_t failures_count_ = 0;
    std::map<std::string, uint64_t> outcomes_;
    std::map<std::string, uint64_t> failureKinds_;
    std::map<std::string, uint64_t> notes_;
    size_t peakCommit_ = 0;
    ULONGLONG began_ = 0;
};
