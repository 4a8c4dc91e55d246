#pragma once
// What main makes of a parsed command line before anything else happens: help and rejected
// command lines end at once with their exit code; every other one runs the main sequence with
// the log file it may write.
#include <windows.h>
#include <string>
#include "shell/CommandLine.h"

struct StartDecision {
    bool runMainSequence = false;
    DWORD exitCode = ERROR_SUCCESS;   // the exit code when the main sequence does not run
    std::wstring logPath;             // the -l value main uses: empty when it names an input document
};

StartDecision DecideStart(const CCommandLineOptions& options);

// The -l value, unless it names one of the program's own input documents: the log never writes
// into them (appending to a document changes it on disk and every later run refuses it). Such a
// run has no log file, as one whose -l names a folder. Any spelling that opens the document counts
// (trailing separators, another case, a hard link).
std::wstring UsableLogPath(const CCommandLineOptions& options);
