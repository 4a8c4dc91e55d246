#pragma once
// What one install run changed on the machine, step by step, so that a failed install can put
// back exactly what was there before it and leave alone everything it did not touch.
//
// The controller opens a journal for the install (JournalScope); while it is open, the elements
// report each change just before making it (files replaced keep a copy aside, registry values
// keep their previous type and data, directories and keys record only what this run created).
// Rollback() undoes the entries newest first; Commit() drops the copies after a success.
#include <windows.h>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class InstallJournal {
public:
    InstallJournal();
    ~InstallJournal();
    InstallJournal(const InstallJournal&) = delete;
    InstallJournal& operator=(const InstallJournal&) = delete;

    // Before a file is written at `target`: an existing file is copied aside (content and
    // attributes) so that the rollback can put it back; a missing one is recorded as created.
    // Non-zero when the copy aside failed: the caller must not overwrite the file then.
    DWORD BeforeFileWrite(const std::wstring& target);
    // A file this run has just created at `target` (an open that creates only new files).
    void FileCreated(const std::wstring& target);

    // The directories of `path`'s chain that do not exist yet, outermost first. Call before
    // creating the chain, then DirectoriesCreated() with that list once it exists.
    static std::vector<std::wstring> MissingDirectories(const std::wstring& path);
    void DirectoriesCreated(const std::vector<std::wstring>& created);

    // The outermost key of `subKey`'s chain under `root` that does not exist yet (empty when the
    // whole chain exists). Call before creating the key, then KeyCreated() with it.
    static std::wstring FirstMissingKey(HKEY root, const std::wstring& subKey);
    void KeyCreated(HKEY root, const std::wstring& subKey);

    // Before a value is written under an open key: its previous type and data, or its absence.
    void BeforeValueWrite(HKEY key, HKEY root, const std::wstring& subKey, const std::wstring& name);

    // Any other change, undone by `undo` (its result: 0, or the code of what could not be put back).
    void Record(std::wstring description, std::function<DWORD()> undo);

    // Undoes every entry, newest first. Logs each one that cannot be undone (level 2, with its
    // path) and returns the first such code, 0 when everything was put back.
    DWORD Rollback();
    // Keeps the changes: deletes the copies kept aside.
    void Commit();

    size_t EntryCount() const { return entries_.size(); }

private:
    struct Entry {
        std::wstring description;
        std::function<DWORD()> undo;
    };
    std::wstring AsideDirectory();

    std::vector<Entry> entries_;
    std::vector<std::wstring> asideFiles_;
    std::wstring asideDirectory_;
    unsigned asideCount_ = 0;
};

// The journal of the install that runs now, or null (outside an install every change is final).
InstallJournal* ActiveInstallJournal();

// Makes `journal` the active one for the scope's lifetime.
class JournalScope {
public:
    explicit JournalScope(InstallJournal& journal);
    ~JournalScope();
    JournalScope(const JournalScope&) = delete;
    JournalScope& operator=(const JournalScope&) = delete;

private:
    InstallJournal* previous_;
};
