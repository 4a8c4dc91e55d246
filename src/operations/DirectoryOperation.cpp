#include "operations/DirectoryOperation.h"

#include <shlobj.h>
#include "engine/InstallContext.h"
#include "engine/InstallJournal.h"
#include "operations/FileHelpers.h"
#include "operations/NameRules.h"
#include "shell/Console.h"
#include "shell/Log.h"
#include "shell/Result.h"
#include "xml/Binding.h"

static const char kLogModule[] = ".\\DirectoryOperation";

void DirectoryOperation::Bind(const XmlNode& node) {
    BindText(node, path_);
    BindAttribute(node, L"operation", operation_);
    RejectIfUnsafe(L"DirectoryOperation", L"path", path_, CheckPathText(path_));
}

DWORD DirectoryOperation::Install() {
    FunctionScope scope(kLogModule, "DirectoryOperation::Install");
    LOG(LogLevel::Information, "Begin directory operation %S for path %S", operation_.c_str(), path_.c_str());
    ReplaceEnvVariable(path_);
    InstallJournal* journal = ActiveInstallJournal();
    const auto missing = journal ? InstallJournal::MissingDirectories(path_) : std::vector<std::wstring>();
    const DWORD result = CreateDirectoryTree(path_);
    if (journal) journal->DirectoriesCreated(missing);
    LOG(LogLevel::Information, "End directory operation %S for path %S", operation_.c_str(), path_.c_str());
    return scope.Result(result);
}

DWORD DirectoryOperation::UnInstall() {
    FunctionScope scope(kLogModule, "DirectoryOperation::UnInstall");
    ReplaceEnvVariable(path_);
    std::wstring path = path_;
    if (!path.empty() && path.back() == L'\\') path.pop_back();

    return scope.Result(RemoveDirectoryNowOrAtRestart(kLogModule, path, true));
}

DWORD DirectoryOperation::Verify() {
    ReplaceEnvVariable(path_);
    if (PathExists(path_)) {
        ConsolePrintf(L"\nVerification succeeded for existance of Directory %s.", path_.c_str());
        return ERROR_SUCCESS;
    }
    ConsolePrintf(L"\nVerification failed for existance of Directory %s.", path_.c_str());
    return ERROR_FILE_NOT_FOUND;
}

DWORD RemoveDirectoryNowOrAtRestart(const char* logModule, const std::wstring& path, bool reportRetry) {
    const char* const kLogModule = logModule;   // the LOG lines below name the caller's module
    const BOOL removed = ::RemoveDirectoryW(ExtendedPath(path, MAX_PATH).c_str());
    const DWORD error = ResultFromBool(removed);
    LOG(LogLevel::Detail, "RemoveDirectory %S  returned %d", path.c_str(), removed);
    if (removed || IsPathNotFound(error)) return ERROR_SUCCESS;

    if (reportRetry) {
        LOG(LogLevel::Detail, "Delete failed  for %S. Error Code : %d. So lets try during reboot.", path.c_str(),
            static_cast<int>(error));
    }
    if (!MoveFileLong(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        const DWORD scheduleError = ::GetLastError();
        LOG(LogLevel::Detail, "Failed to setup Deleting directory at reboot, %S. Error Code: %d", path.c_str(),
            static_cast<int>(scheduleError));
        return scheduleError;
    }
    InstallContext().rebootPending = true;
    LOG(LogLevel::Detail, "Deleting directory at reboot, %S", path.c_str());
    return ERROR_SUCCESS;
}
