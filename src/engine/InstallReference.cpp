#include "engine/InstallReference.h"

#include <shlwapi.h>
#include "engine/InstallHelper.h"
#include "operations/RegistryOperation.h"
#include "shell/Log.h"
#include "shell/Result.h"

// These steps are the controller's: their log lines name its module.
static const char kLogModule[] = ".\\installer";

DWORD DeleteInstallReference() {
    const DWORD deleted = ResultFromStatus(::SHDeleteKeyW(HKEY_LOCAL_MACHINE, kInstallReferenceKey));
    if (deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    LOG(LogLevel::Error, "Failed to delete the install reference %S. Error Code: %d", kInstallReferenceKey,
        static_cast<int>(deleted));
    return deleted;
}

// Whether or not the document's own registry elements own the product key, a successful
// uninstall removes the reference; a failed one keeps it, so that a retry still finds the
// installed directory.
DWORD RemoveInstallReferenceAfterUnInstall(DWORD packageResult) {
    if (!IsSuccessOrRestart(packageResult)) return ERROR_SUCCESS;
    return DeleteInstallReference();
}

void RestoreInstallReference(const std::wstring& installPath, const std::wstring& contentPath) {
    const std::wstring key = std::wstring(L"HKLM\\") + kInstallReferenceKey;
    RegValue(key, L"szInstallPath", L"SZ", installPath, false).Install();
    RegValue(key, L"szContentPath", L"SZ", contentPath, false).Install();
    LOG(LogLevel::Error, "Kept the install reference of the existing installation: %S", installPath.c_str());
}
