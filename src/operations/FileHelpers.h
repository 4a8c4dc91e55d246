#pragma once
// File helpers shared by the file, directory, driver and engine code: long-path wrappers around
// the Windows file calls, the program directory, and the copy/replace/restart helpers.
#include <windows.h>
#include <string>
#include <vector>
#include "shell/Handles.h"
#include "shell/ProgramDirectory.h"

// The long-path form of `path` when it is longer than `limit` ("\\?\" or "\\?\UNC\" prefix).
std::wstring ExtendedPath(const std::wstring& path, size_t limit = MAX_PATH);

BOOL MoveFileLong(const std::wstring& existing, const std::wstring* newPath, DWORD flags);
BOOL DeleteFileLong(const std::wstring& path);
// A file this run created, removed again: deleted (whatever its attributes), or deleted at the
// next restart when it is busy. 0 when it is gone or will go, else the scheduling's error.
DWORD RemoveCreatedFile(const std::wstring& path);
BOOL CopyFileLong(const std::wstring& source, const std::wstring& target, BOOL failIfExists);
bool PathExists(const std::wstring& path);
bool IsDirectoryPath(const std::wstring& path);
// Creates a directory and every missing parent, with SHCreateDirectoryExW's results (0; 183 when
// it exists already; 161 for a path that is not absolute; else the creation's error). The shell's
// function serves paths below kShellDirectoryLimit; it cannot make longer ones, which are made one
// level at a time through the long-path form.
constexpr size_t kShellDirectoryLimit = MAX_PATH - 12;
DWORD CreateDirectoryTree(const std::wstring& path);
// As GetFullPathNameW, with the long-path prefix taken off the result again.
DWORD FullPathLong(const std::wstring& path, std::wstring& full);
// The full path, or `path` as given when it is empty or cannot be resolved.
std::wstring FullPathOrAsGiven(const std::wstring& path);
// The same text ignoring letter case, as the file system compares names.
bool SamePathText(const std::wstring& a, const std::wstring& b);
// Two paths naming the same file once both are full paths (letter case ignored); an empty path
// names nothing.
bool IsSamePath(const std::wstring& a, const std::wstring& b);
// Two paths that open the same file: the same path once trailing separators ("\" or "/", which
// the file system drops when it opens a file) are taken off, or two existing files of the same
// volume and file index (hard links, short names, other spellings). An empty path names nothing.
bool IsSameFile(const std::wstring& a, const std::wstring& b);


// Directories that no install step may empty or remove, whatever the spelling (trailing
// backslash, long-path prefix, letter case): a drive root, a UNC share root (\\server\share),
// any path that is not absolute, the Windows, system and temporary directories, and the
// well-known shell folders (Program Files, ProgramData, the Users folder and every profile, the
// common and per-user Desktop, Documents, AppData, Start menu).
bool IsProtectedDirectory(const std::wstring& path);
// The machine's system and shell folders of that list, without trailing backslashes.
const std::vector<std::wstring>& ProtectedDirectories();
// "X:\..." or "\\server\share...".
bool IsAbsolutePathText(const std::wstring& path);
// "\\server" or "\\server\share", with nothing below the share.
bool IsUncShareRoot(const std::wstring& path);

// A copy whose target did not exist: the source open for reading and the target created by the
// open (CREATE_NEW) with the attributes CopyFileContent gives it. Filled by OpenNewCopyTarget and
// used up by the copy of the same two paths.
struct NewCopyTarget {
    UniqueFileHandle source;
    UniqueFileHandle target;
    FILE_BASIC_INFO sourceInfo{};
    bool copiedAhead = false;   // the copy was made and checked already, on a worker (FilesAhead)
};
// Opens the source and creates the target as a new file, in one step: true with both open; false
// (and nothing created) when the target exists already or either open fails, the copy then being
// left to CopyFileContent as usual; the thread's last error is then the failed open's.
bool OpenNewCopyTarget(const std::wstring& source, const std::wstring& target, NewCopyTarget& opened);

// Copies the source's content over the target in pieces of 1 MiB and leaves the target's
// attributes and last-write time as CopyFileW does (the source's), less read-only. With
// `written`, the target's handle stays open for reading from its start, so that the caller can
// check what landed in the file without opening it again. When either file cannot be opened this
// way, CopyFileW itself does the copy (its error codes are the helper's) and `written` stays empty.
// 0 or the Win32 code of the failure; a copy that fails half way leaves no target behind.
// With `opened` (OpenNewCopyTarget's, for the same paths), the copy goes into the target it created.
DWORD CopyFileContent(const std::wstring& source, const std::wstring& target, UniqueFileHandle* written = nullptr,
                      NewCopyTarget* opened = nullptr);

// A copy to a target that did not exist, checked by reading the target back: CopyToNewFile.
enum class NewFileCopy {
    Copied,        // created, written, given the source's time, and its content is the digest's
    TargetExists,  // nothing done: the target existed
    NothingDone,   // an open failed, or the copy failed and was deleted again
    LeftBehind,    // the copy failed and its target could not be deleted
};
// Copies `source` to a new `target` as CopyFileContent copies into a target it created
// (OpenNewCopyTarget), then checks the target's content against `sha256` (when not empty)
// through the same handle. `buffer` is the caller's own and sets the size of each piece. Logs
// nothing and uses no state of the process, so that any thread may run it.
NewFileCopy CopyToNewFile(const std::wstring& source, const std::wstring& target, const std::wstring& sha256,
                          std::vector<BYTE>& buffer);

namespace InstallHelper {
// Copies over any existing target as CopyFileW does (CopyFileContent): 0 or the Win32 code.
// Installed files never keep the read-only attribute.
DWORD CopyAndReplaceFile(const std::wstring& source, const std::wstring& target, UniqueFileHandle* written = nullptr,
                         NewCopyTarget* opened = nullptr);
// Puts the source in place of a busy target, finishing at the next restart: 0 or an error.
DWORD CopyAtReboot(const std::wstring& source, const std::wstring& target);
// 1 when the candidate's file version is newer than the installed file's, else 0.
int IsFileUpgradeable(const std::wstring& installed, const std::wstring& candidate);
} // namespace InstallHelper
