#include "engine/InstallJournal.h"

#include <shlwapi.h>
#include "engine/Feature.h"
#include "operations/FileHelpers.h"
#include "shell/Handles.h"
#include "shell/Log.h"
#include "shell/Result.h"

static const char kLogModule[] = ".\\InstallJournal";

namespace {

InstallJournal* g_activeJournal = nullptr;

DWORD FileAttributesOf(const std::wstring& path, DWORD& attributes) {
    attributes = ::GetFileAttributesW(ExtendedPath(path).c_str());
    return attributes == INVALID_FILE_ATTRIBUTES ? ::GetLastError() : ERROR_SUCCESS;
}

// Puts the copy kept aside back in place of whatever this run wrote, with its old attributes.
DWORD RestoreFile(const std::wstring& aside, const std::wstring& target, DWORD attributes) {
    ::SetFileAttributesW(ExtendedPath(target).c_str(), FILE_ATTRIBUTE_NORMAL);
    const DWORD copied = ResultFromBool(CopyFileLong(aside, target, FALSE));
    if (copied != ERROR_SUCCESS) return copied;
    return ResultFromBool(::SetFileAttributesW(ExtendedPath(target).c_str(), attributes));
}

// A directory this run created: removed with whatever this run put in it.
DWORD RemoveCreatedDirectory(const std::wstring& path) {
    const DWORD removed = ResultFromBool(::RemoveDirectoryW(ExtendedPath(path).c_str()));
    if (removed == ERROR_SUCCESS || IsPathNotFound(removed)) return ERROR_SUCCESS;
    if (removed == ERROR_DIR_NOT_EMPTY) return DeleteDirectoryContents(path) ? ERROR_SUCCESS : ERROR_DIR_NOT_EMPTY;
    return removed;
}

DWORD RestoreValue(HKEY root, const std::wstring& subKey, const std::wstring& name, bool existed, DWORD type,
                   const std::vector<BYTE>& data) {
    UniqueKey key;
    const DWORD opened = ResultFromStatus(::RegOpenKeyExW(root, subKey.c_str(), 0, KEY_SET_VALUE, key.put()));
    if (opened != ERROR_SUCCESS) return (!existed && IsPathNotFound(opened)) ? ERROR_SUCCESS : opened;
    if (!existed) {
        const DWORD deleted = ResultFromStatus(::RegDeleteValueW(key.get(), name.c_str()));
        return IsPathNotFound(deleted) ? ERROR_SUCCESS : deleted;
    }
    return ResultFromStatus(::RegSetValueExW(key.get(), name.c_str(), 0, type, data.empty() ? nullptr : data.data(),
                                             static_cast<DWORD>(data.size())));
}

std::wstring WithoutTrailingSeparators(std::wstring path) {
    while (path.size() > 1 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    return path;
}

} // namespace

InstallJournal::InstallJournal() = default;

InstallJournal::~InstallJournal() { Commit(); }

std::wstring InstallJournal::AsideDirectory() {
    if (!asideDirectory_.empty()) return asideDirectory_;
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) return std::wstring();
    const std::wstring directory = std::wstring(temp, length) + L"InstallerRollback-" +
                                   std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(::GetTickCount());
    if (!::CreateDirectoryW(directory.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
        return std::wstring();
    }
    asideDirectory_ = directory;
    return asideDirectory_;
}

DWORD InstallJournal::BeforeFileWrite(const std::wstring& target) {
    DWORD attributes = 0;
    const DWORD found = FileAttributesOf(target, attributes);
    if (IsPathNotFound(found)) {
        FileCreated(target);
        return ERROR_SUCCESS;
    }
    if (found != ERROR_SUCCESS) return found;
    // A directory in the file's place makes the copy fail; there is nothing to keep.
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return ERROR_SUCCESS;

    const std::wstring directory = AsideDirectory();
    if (directory.empty()) return ERROR_PATH_NOT_FOUND;
    const std::wstring aside = directory + L"\\" + std::to_wstring(++asideCount_);
    const DWORD copied = ResultFromBool(CopyFileLong(target, aside, FALSE));
    if (copied != ERROR_SUCCESS) return copied;
    ::SetFileAttributesW(aside.c_str(), FILE_ATTRIBUTE_NORMAL);   // so that it can be deleted again
    asideFiles_.push_back(aside);
    LOG(LogLevel::Detail, "Kept a copy of %S for the rollback", target.c_str());
    Record(L"file " + target, [aside, target, attributes] { return RestoreFile(aside, target, attributes); });
    return ERROR_SUCCESS;
}

void InstallJournal::FileCreated(const std::wstring& target) {
    Record(L"file " + target, [target] { return RemoveCreatedFile(target); });
}

std::vector<std::wstring> InstallJournal::MissingDirectories(const std::wstring& path) {
    std::vector<std::wstring> missing;
    std::wstring current = WithoutTrailingSeparators(path);
    while (!current.empty()) {
        DWORD attributes = 0;
        if (!IsPathNotFound(FileAttributesOf(current, attributes))) break;
        missing.insert(missing.begin(), current);
        const size_t slash = current.find_last_of(L"\\/");
        if (slash == std::wstring::npos || slash == 0) break;
        current = current.substr(0, slash);
        // "C:" is the drive, not a directory this run could have made.
        if (current.size() == 2 && current[1] == L':') break;
    }
    return missing;
}

void InstallJournal::DirectoriesCreated(const std::vector<std::wstring>& created) {
    for (const auto& directory : created) {
        DWORD attributes = 0;
        if (FileAttributesOf(directory, attributes) != ERROR_SUCCESS) continue;   // not made after all
        Record(L"directory " + directory, [directory] { return RemoveCreatedDirectory(directory); });
    }
}

std::wstring InstallJournal::FirstMissingKey(HKEY root, const std::wstring& subKey) {
    size_t end = 0;
    while (end != std::wstring::npos) {
        end = subKey.find(L'\\', end + 1);
        const std::wstring prefix = subKey.substr(0, end);
        if (prefix.empty()) continue;
        UniqueKey key;
        const DWORD opened = ResultFromStatus(::RegOpenKeyExW(root, prefix.c_str(), 0, KEY_READ, key.put()));
        if (IsPathNotFound(opened)) return prefix;
    }
    return std::wstring();
}

void InstallJournal::KeyCreated(HKEY root, const std::wstring& subKey) {
    if (subKey.empty()) return;
    Record(L"registry key " + subKey, [root, subKey] {
        const DWORD deleted = ResultFromStatus(::SHDeleteKeyW(root, subKey.c_str()));
        return IsPathNotFound(deleted) ? ERROR_SUCCESS : deleted;
    });
}

void InstallJournal::BeforeValueWrite(HKEY key, HKEY root, const std::wstring& subKey, const std::wstring& name) {
    DWORD type = REG_NONE;
    DWORD size = 0;
    const bool existed = ::RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
    std::vector<BYTE> data;
    if (existed && size > 0) {
        data.resize(size);
        if (::RegQueryValueExW(key, name.c_str(), nullptr, &type, data.data(), &size) != ERROR_SUCCESS) size = 0;
        data.resize(size);
    }
    Record(L"registry value " + subKey + L"\\" + name, [root, subKey, name, existed, type, data] {
        return RestoreValue(root, subKey, name, existed, type, data);
    });
}

void InstallJournal::Record(std::wstring description, std::function<DWORD()> undo) {
    entries_.push_back(Entry{ std::move(description), std::move(undo) });
}

DWORD InstallJournal::Rollback() {
    FunctionScope scope(kLogModule, "InstallJournal::Rollback");
    DWORD first = ERROR_SUCCESS;
    for (auto entry = entries_.rbegin(); entry != entries_.rend(); ++entry) {
        const DWORD undone = entry->undo();
        if (undone == ERROR_SUCCESS) continue;
        LOG(LogLevel::Error, "Rollback could not put back %S. Error Code: %d", entry->description.c_str(),
            static_cast<int>(undone));
        if (first == ERROR_SUCCESS) first = undone;
    }
    entries_.clear();
    Commit();
    return scope.Result(first);
}

void InstallJournal::Commit() {
    entries_.clear();
    for (const auto& aside : asideFiles_) ::DeleteFileW(aside.c_str());
    asideFiles_.clear();
    if (!asideDirectory_.empty()) ::RemoveDirectoryW(asideDirectory_.c_str());
    asideDirectory_.clear();
}

InstallJournal* ActiveInstallJournal() { return g_activeJournal; }

JournalScope::JournalScope(InstallJournal& journal) : previous_(g_activeJournal) { g_activeJournal = &journal; }

JournalScope::~JournalScope() { g_activeJournal = previous_; }
