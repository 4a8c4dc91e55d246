#include "operations/FileOperation.h"

#include <shlobj.h>
#include <cwctype>
#include "engine/InstallContext.h"
#include "engine/InstallJournal.h"
#include "operations/FileDigest.h"
#include "operations/FileHelpers.h"
#include "operations/FilesAhead.h"
#include "operations/NameRules.h"
#include "shell/Console.h"
#include "shell/Log.h"
#include "shell/PhaseTimes.h"
#include "shell/Result.h"
#include "xml/Binding.h"

static const char kLogModule[] = ".\\FileOperation";

namespace {

bool IsDriverFileName(const std::wstring& name) {
    if (name.size() <= 4) return false;
    std::wstring extension = name.substr(name.size() - 4);
    for (auto& c : extension) c = static_cast<wchar_t>(std::towupper(c));
    return extension == L".SYS";
}

// A failed copy other than a missing source may be finished at the next restart during Repair
// and Upgrade. Returns the final result and tells whether the restart fallback ran.
// With `written`, a direct copy leaves the target open for reading (CopyFileContent).
// With `opened`, the target created by OpenNewCopyTarget is the one written.
DWORD CopyWithRestartFallback(const std::wstring& source, const std::wstring& target, bool& deferred,
                              UniqueFileHandle* written = nullptr, NewCopyTarget* opened = nullptr) {
    deferred = false;
    DWORD result = InstallHelper::CopyAndReplaceFile(source, target, written, opened);
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND && InstallContext().rebootCopyAllowed) {
        deferred = true;
        result = InstallHelper::CopyAtReboot(source, target);
        if (result == ERROR_SUCCESS) InstallContext().rebootPending = true;
    }
    return result;
}

// True when the file had the read-only attribute and has it no more.
bool ClearReadOnlyAttribute(const std::wstring& path) {
    const std::wstring extended = ExtendedPath(path, MAX_PATH);
    const DWORD attributes = ::GetFileAttributesW(extended.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY)) return false;
    return ::SetFileAttributesW(extended.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY) != FALSE;
}

} // namespace

void FileOperation::Bind(const XmlNode& node) {
    BindAttribute(node, L"operation", operation_);
    BindAttribute(node, L"source", source_);
    BindAttribute(node, L"destination", destination_);
    BindAttribute(node, L"sha256", sha256_);
    BindAttribute(node, L"platform", platform_);
    BindText(node, fileName_);
    RejectIfUnsafe(L"FileOperation", L"name", fileName_, CheckRelativeName(fileName_));
    RejectIfUnsafe(L"FileOperation", L"source", source_, CheckRelativeName(source_));
    RejectIfUnsafe(L"FileOperation", L"destination", destination_, CheckPathText(destination_));
}

std::wstring FileOperation::SourcePath() const {
    std::wstring directory;
    GetProgramDirectory(directory);   // an unreadable module name leaves a bare relative path
    std::wstring path = directory;
    if (!source_.empty()) path += source_ + L"\\";
    return path + fileName_;
}

std::wstring FileOperation::TargetIn(const std::wstring& destination) const {
    return (destination.empty() ? InstallContext().installDirectory : destination) + L"\\" + fileName_;
}

std::wstring FileOperation::TargetPath() {
    if (!destination_.empty()) ReplaceEnvVariable(destination_);
    return TargetIn(destination_);
}

std::wstring FileOperation::PlannedTargetPath() const {
    std::wstring destination = destination_;
    if (!destination.empty()) ReplaceEnvVariable(destination);
    return TargetIn(destination);
}

DWORD FileOperation::Install() { return Install(nullptr, 0); }

DWORD FileOperation::Install(FilesAhead* ahead, size_t index) {
    FunctionScope scope(kLogModule, "FileOperation::Install");
    const std::wstring source = SourcePath();
    const std::wstring target = TargetPath();
    InstallJournal* journal = ActiveInstallJournal();
    // A destination that exists already (most files share theirs with the file before) is not
    // created again: that would change nothing, and the journal would find nothing missing.
    if (!destination_.empty() && !IsDirectoryPath(destination_)) {
        DWORD created = ERROR_SUCCESS;
        {
            PhaseScope phase(Phase::Directories);
            const auto missing = journal ? InstallJournal::MissingDirectories(destination_) : std::vector<std::wstring>();
            created = CreateDirectoryTree(destination_);
            if (journal) journal->DirectoriesCreated(missing);
        }
        if (!IsDirectoryCreated(created)) {
            LOG(LogLevel::Detail, "Failed to create the directory structure while installing File: %S",
                fileName_.c_str());
            return scope.Result(created);
        }
    }
    NewCopyTarget opened;
    // A copy done ahead is this run's new file, written and checked; the steps below go on as if
    // it had just been made here.
    FilesAhead::Outcome doneAhead = FilesAhead::Outcome::NotDone;
    if (ahead) {
        PhaseScope phase(Phase::Copy);
        doneAhead = ahead->Take(index, target);
        opened.copiedAhead = doneAhead == FilesAhead::Outcome::Done;
    }
    if (journal) {
        // A target that is not there yet is created by its open and recorded as this run's (one
        // look-up of the name instead of two). A file that is there already is copied aside
        // first, so that a failed install can put it back; without that copy it is not overwritten.
        bool created = doneAhead != FilesAhead::Outcome::NotDone;
        if (!created) {
            PhaseScope phase(Phase::Copy);
            created = OpenNewCopyTarget(source, target, opened);
        }
        if (created) {
            journal->FileCreated(target);
        } else {
            const DWORD kept = journal->BeforeFileWrite(target);
            if (kept != ERROR_SUCCESS) {
                LOG(LogLevel::Error, "Failed to keep a copy of %S for the rollback. Error Code: %d", target.c_str(),
                    static_cast<int>(kept));
                return scope.Result(kept);
            }
        }
    }

    bool deferred = false;
    DWORD result = ERROR_SUCCESS;
    UniqueFileHandle written;   // the target as just written, to check its digest
    {
        PhaseScope phase(Phase::Copy);
        result = CopyWithRestartFallback(source, target, deferred, sha256_.empty() ? nullptr : &written, &opened);
    }
    if (deferred) {
        if (result == ERROR_SUCCESS) LOG(LogLevel::Detail, "Copying file at reboot, from %S to %S", source.c_str(), target.c_str());
        else LOG(LogLevel::Detail, "Failed to setup copy at reboot, from %S to %S", source.c_str(), target.c_str());
    }
    if (result != ERROR_SUCCESS) {
        LOG(LogLevel::Detail, "Failed to copy File, from %S to %S", source.c_str(), target.c_str());
        return scope.Result(result);
    }

    // The file in place is checked only when it was copied now; a restart copy is not there yet.
    if (!deferred && !sha256_.empty() && !opened.copiedAhead) {
        DWORD digestError = ERROR_SUCCESS;
        const bool intact = written ? VerifyOpenFileDigest(written.get(), sha256_, digestError)
                                    : VerifyFileDigest(target, sha256_, digestError);
        {
            PhaseScope phase(Phase::Copy);   // closing the target ends its copy
            written.reset();
        }
        if (!intact) return scope.Result(digestError);
    }
    LOG(LogLevel::Detail, "Successfully copied File, from %S to %S", source.c_str(), target.c_str());
    return scope.Result(ERROR_SUCCESS);
}

DWORD FileOperation::UnInstall() { return UnInstall(nullptr, 0); }

DWORD FileOperation::UnInstall(FilesAhead* ahead, size_t index) {
    FunctionScope scope(kLogModule, "FileOperation::UnInstall");
    const std::wstring target = TargetPath();
    DWORD result = ERROR_SUCCESS;
    DWORD deleted = ERROR_SUCCESS;
    {
        PhaseScope phase(Phase::Delete);
        const bool deletedAhead = ahead && ahead->Take(index, target) == FilesAhead::Outcome::Done;
        if (!deletedAhead) deleted = ResultFromBool(DeleteFileLong(target));
    }
    // A read-only attribute (set by someone after the install) keeps the file from being deleted
    // now and at the restart alike: the engine's own file loses it and is deleted.
    if (deleted == ERROR_ACCESS_DENIED && ClearReadOnlyAttribute(target)) {
        LOG(LogLevel::Detail, "Cleared the read-only attribute of %S to delete it", target.c_str());
        deleted = ResultFromBool(DeleteFileLong(target));
    }
    if (deleted != ERROR_SUCCESS && !IsPathNotFound(deleted)) {
        result = ResultFromBool(MoveFileLong(target, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
        if (result == ERROR_SUCCESS) {
            InstallContext().rebootPending = true;
            InstallContext().deletedAtRestart.push_back(target);
            LOG(LogLevel::Detail, "Deleting file at reboot, %S", target.c_str());
        } else {
            LOG(LogLevel::Detail, "Failed to setup file delete at reboot, %S. Error Code: %d", target.c_str(),
                static_cast<int>(result));
        }
    }
    LOG(LogLevel::Detail, "Deleted File %S. Result code %d", target.c_str(), static_cast<int>(result));
    return scope.Result(result);
}

DWORD FileOperation::Repair() {
    FunctionScope scope(kLogModule, "FileOperation::Repair");
    const std::wstring target = TargetPath();
    DWORD digestError = ERROR_SUCCESS;
    if (VerifyFileDigest(target, sha256_, digestError)) {
        LOG(LogLevel::Detail, "%S File same, So not repaired", fileName_.c_str());
        return scope.Result(ERROR_SUCCESS);
    }
    const DWORD result = Install();
    if (result != ERROR_SUCCESS) {
        LOG(LogLevel::Error, "Failed to repair File %S, Error Code: %d", fileName_.c_str(), static_cast<int>(result));
        return scope.Result(result);
    }
    // A driver file replaced now is loaded again only after a restart.
    if (IsDriverFileName(fileName_)) InstallContext().rebootPending = true;
    LOG(LogLevel::Error, "Repaired File %S", fileName_.c_str());
    return scope.Result(ERROR_SUCCESS);
}

DWORD FileOperation::Upgrade() {
    FunctionScope scope(kLogModule, "FileOperation::Upgrade");
    const std::wstring source = SourcePath();
    const std::wstring target = TargetPath();
    if (InstallHelper::IsFileUpgradeable(target, source) == 0) return scope.Result(ERROR_SUCCESS);
    bool deferred = false;
    return scope.Result(CopyWithRestartFallback(source, target, deferred));
}

DWORD FileOperation::Verify() {
    const std::wstring target = TargetPath();
    if (!PathExists(target)) {
        ConsolePrintf(L"\nVerification failed for existance of File %s.", target.c_str());
        return ERROR_FILE_NOT_FOUND;
    }
    DWORD digestError = ERROR_SUCCESS;
    if (VerifyFileDigest(target, sha256_, digestError)) {
        ConsolePrintf(L"\nVerification succeeded for File %s.", target.c_str());
        return ERROR_SUCCESS;
    }
    ConsolePrintf(L"\nVerification failed for integrity of File %s.", target.c_str());
    return digestError;
}
