#pragma once
// The copies (or deletes) of a feature's run of files done ahead of the main thread by a few
// worker threads. Each file costs a handful of waits on the system (opening two files, fetching
// their descriptors, closing them) and little processor time, so several files in flight at
// once finish the run in a fraction of the time one at a time takes.
//
// The main thread still walks the run in its order and does everything it did before for each
// file: it takes the file's work ahead with Take() and goes on as if it had just done that work
// itself; it logs, journals and reports exactly as it always has. A file that was not done ahead
// (not reached yet, or its work ahead did not succeed) is done by the main thread as before, so
// that every failure is met, reported and rolled back by the one path that always handled it.
// Work ahead therefore either succeeds completely or changes nothing:
//   Copy:   the target did not exist; it was created, written, given the source's last-write
//           time, and its content checked against the digest by reading it back. Anything less
//           deletes what was created.
//   Delete: the file was deleted. A delete that fails changes nothing.
// Workers never log and never touch the journal.
//
// Which files may go ahead of the main thread (Plan):
//   - a copy only once its target's directory exists: a directory missing when the run starts is
//     created by the main thread for the first file of the run that goes there, and the files
//     after it that go to the same directory wait until the main thread has reached that file;
//   - never a second file of the run with the same file name (letter case ignored), nor a file
//     name that may be a short name ("~"): one target reached by two spellings must still be
//     written in the run's order, the later file last;
//   - at most kWindow files beyond the one the main thread has reached, so that a run that
//     fails early has done little work it must undo.
// When the run ends before every file done ahead was taken (a failure, an exception), the copies
// not taken are deleted again: nothing of them is left behind. A copy ahead that fails (other
// than for a target that exists) ends the work ahead: the copies beyond it are deleted, so that
// the main thread meets the failure on the machine as one file at a time would have left it (a
// disk that filled up fills up at the same file).
#include <windows.h>
#include <string>
#include <vector>
#include "shell/Handles.h"

class FilesAhead {
public:
    enum class Work { Copy, Delete };
    struct File {
        std::wstring source;   // Copy only
        std::wstring target;
        std::wstring sha256;   // Copy only; empty: no check of the content
    };

    static const size_t kWorkers = 3;
    static const size_t kWindow = 32;

    // Starts the workers on `files` (a run of fewer than two files gets none: nothing would overlap).
    FilesAhead(Work work, std::vector<File> files);
    // Stops the workers and deletes the copies made ahead that were not taken.
    ~FilesAhead();
    FilesAhead(const FilesAhead&) = delete;
    FilesAhead& operator=(const FilesAhead&) = delete;

    // What the main thread finds when it reaches a file.
    enum class Outcome {
        Done,      // the work was done ahead and is now the caller's
        NotDone,   // nothing was done: the caller does the work as always
        Created,   // a copy created the target and could not remove it again: the target is this
                   // run's (journal it as created) but its content is not right (copy it again)
    };
    // The main thread has reached file `index` (in increasing order) for `target`. Waits while a
    // worker is still at it. A target other than the planned one is never taken.
    Outcome Take(size_t index, const std::wstring& target);

    // Worker threads for runs of at least two files (kWorkers; 0 turns the work ahead off, so that
    // tests can compare a run with and without it). Returns the previous count.
    static size_t SetWorkerCount(size_t count);

    // What became of one file so far (for the tests).
    enum class State {
        Waiting,    // no worker has started it
        Running,
        Done,       // done ahead, not taken yet
        Declined,   // nothing done: the main thread's (a copy's target existed, or it was not reached)
        Failed,     // a copy that failed and was deleted again
        Created,    // a copy that failed and could not be deleted
        Taken,
    };
    State StateOf(size_t index) const;

private:
    struct Entry {
        File file;
        size_t after;     // may start once the main thread has reached this file (npos: at once)
        bool ahead;       // may go ahead at all
        State state;
    };

    static DWORD WINAPI WorkerMain(void* self);
    void RunWorker();
    bool NextForWorker(size_t& index);   // under the lock; false to stop
    State DoAhead(const File& file, std::vector<BYTE>& buffer) const;
    void Plan();
    void StopWorkers();
    // Stops the workers and deletes the copies made ahead and not taken beyond `index` (all of
    // them with `all`); the files they were for are the main thread's.
    void UndoBeyond(size_t index, bool all);

    Work work_;
    std::vector<Entry> entries_;
    size_t reached_ = 0;      // files the main thread has reached (Take calls)
    size_t nextClaim_ = 0;    // first file no worker has looked at
    bool stopping_ = false;
    mutable SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE changed_ = CONDITION_VARIABLE_INIT;
    std::vector<UniqueKernelHandle> workers_;
};

