#include "operations/FilesAhead.h"

#include <cwctype>
#include <map>
#include <set>
#include "operations/FileHelpers.h"
#include "shell/LockScope.h"

namespace {

const size_t kNone = static_cast<size_t>(-1);
const size_t kPiece = 1u << 20;

size_t g_workerCount = FilesAhead::kWorkers;

std::wstring Upper(std::wstring text) {
    for (auto& c : text) c = static_cast<wchar_t>(std::towupper(c));
    return text;
}

// The directory part of a target ("" when it has none) and its last component.
void SplitTarget(const std::wstring& target, std::wstring& directory, std::wstring& name) {
    const size_t slash = target.find_last_of(L"\\/");
    directory = slash == std::wstring::npos ? std::wstring() : target.substr(0, slash);
    name = slash == std::wstring::npos ? target : target.substr(slash + 1);
}

} // namespace

size_t FilesAhead::SetWorkerCount(size_t count) {
    const size_t previous = g_workerCount;
    g_workerCount = count;
    return previous;
}

FilesAhead::FilesAhead(Work work, std::vector<File> files) : work_(work) {
    entries_.reserve(files.size());
    for (auto& file : files) entries_.push_back(Entry{ std::move(file), kNone, false, State::Waiting });
    const size_t count = entries_.size() < 2 ? 0 : g_workerCount;
    if (count == 0) return;
    Plan();
    for (size_t i = 0; i < count; ++i) {
        UniqueKernelHandle thread(::CreateThread(nullptr, 0, &FilesAhead::WorkerMain, this, 0, nullptr));
        // Without a worker the main thread does the files itself, as it would anyway.
        if (!thread) break;
        workers_.push_back(std::move(thread));
    }
}

FilesAhead::~FilesAhead() { UndoBeyond(0, true); }

void FilesAhead::UndoBeyond(size_t index, bool all) {
    StopWorkers();
    if (work_ != Work::Copy) return;
    for (size_t i = all ? 0 : index + 1; i < entries_.size(); ++i) {
        Entry& entry = entries_[i];
        if (entry.state != State::Done && entry.state != State::Created) continue;
        // A copy made ahead and never taken: its target did not exist before this run.
        RemoveCreatedFile(entry.file.target);
        entry.state = State::Declined;
    }
}

void FilesAhead::Plan() {
    std::set<std::wstring> names;
    // Each target directory of a copy (upper case): the file the main thread creates it for, or
    // kNone when it was there already.
    std::map<std::wstring, size_t> directories;
    for (size_t i = 0; i < entries_.size(); ++i) {
        Entry& entry = entries_[i];
        std::wstring directory, name;
        SplitTarget(entry.file.target, directory, name);
        const std::wstring key = Upper(name);
        if (directory.empty() || name.empty() || key.find(L'~') != std::wstring::npos || !names.insert(key).second) {
            continue;
        }
        if (work_ == Work::Copy) {
            auto known = directories.find(Upper(directory));
            if (known == directories.end()) {
                known = directories.emplace(Upper(directory), IsDirectoryPath(directory) ? kNone : i).first;
            }
            if (known->second == i) continue;   // the main thread creates the directory for this file
            entry.after = known->second;
        }
        entry.ahead = true;
    }
}

DWORD WINAPI FilesAhead::WorkerMain(void* self) {
    static_cast<FilesAhead*>(self)->RunWorker();
    return 0;
}

bool FilesAhead::NextForWorker(size_t& index) {
    for (;;) {
        if (stopping_) return false;
        // Files the main thread has reached, or that may not go ahead, are skipped for good.
        while (nextClaim_ < entries_.size() &&
               (!entries_[nextClaim_].ahead || entries_[nextClaim_].state != State::Waiting)) {
            ++nextClaim_;
        }
        if (nextClaim_ >= entries_.size()) return false;
        const Entry& next = entries_[nextClaim_];
        const bool inWindow = nextClaim_ < reached_ + kWindow;
        const bool directoryReady = next.after == kNone || next.after < reached_;
        if (inWindow && directoryReady) {
            index = nextClaim_++;
            entries_[index].state = State::Running;
            return true;
        }
        ::SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
    }
}

void FilesAhead::RunWorker() {
    std::vector<BYTE> buffer;
    try {
        if (work_ == Work::Copy) buffer.resize(kPiece);
    } catch (...) {
        return;   // the main thread does the files this worker would have done
    }
    ::AcquireSRWLockExclusive(&lock_);
    size_t index = 0;
    while (NextForWorker(index)) {
        const File& file = entries_[index].file;   // not changed while the file is Running
        ::ReleaseSRWLockExclusive(&lock_);
        State outcome = State::Failed;
        try {
            outcome = DoAhead(file, buffer);
        } catch (...) {
            // Out of memory: the main thread does the file (and meets the shortage itself).
        }
        ::AcquireSRWLockExclusive(&lock_);
        entries_[index].state = outcome;
        ::WakeAllConditionVariable(&changed_);
    }
    ::ReleaseSRWLockExclusive(&lock_);
}

FilesAhead::State FilesAhead::DoAhead(const File& file, std::vector<BYTE>& buffer) const {
    if (work_ == Work::Delete) return DeleteFileLong(file.target) ? State::Done : State::Declined;
    switch (CopyToNewFile(file.source, file.target, file.sha256, buffer)) {
    case NewFileCopy::Copied: return State::Done;
    case NewFileCopy::TargetExists: return State::Declined;
    case NewFileCopy::LeftBehind: return State::Created;
    default: return State::Failed;
    }
}

FilesAhead::Outcome FilesAhead::Take(size_t index, const std::wstring& target) {
    if (index >= entries_.size()) return Outcome::NotDone;
    State found = State::Declined;
    {
        ExclusiveLockScope locked(lock_);
        if (index + 1 > reached_) {
            reached_ = index + 1;
            ::WakeAllConditionVariable(&changed_);
        }
        Entry& entry = entries_[index];
        // Not started: it is the main thread's now.
        if (entry.state == State::Waiting) entry.state = State::Declined;
        while (entry.state == State::Running) ::SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
        if (entry.file.target != target) return Outcome::NotDone;   // left for the destructor to remove
        found = entry.state;
        if (found == State::Done || found == State::Created) entry.state = State::Taken;
    }
    // A copy that failed may have failed for want of what the copies beyond it took (room on the
    // disk): those are undone, and the main thread goes on one file at a time from a machine as
    // one file at a time would have left it.
    if (found == State::Failed || found == State::Created) UndoBeyond(index, false);
    if (found == State::Done) return Outcome::Done;
    return found == State::Created ? Outcome::Created : Outcome::NotDone;
}

FilesAhead::State FilesAhead::StateOf(size_t index) const {
    ExclusiveLockScope locked(lock_);
    return index < entries_.size() ? entries_[index].state : State::Declined;
}

void FilesAhead::StopWorkers() {
    {
        ExclusiveLockScope locked(lock_);
        stopping_ = true;
        ::WakeAllConditionVariable(&changed_);
    }
    for (auto& worker : workers_) ::WaitForSingleObject(worker.get(), INFINITE);
    workers_.clear();
}
