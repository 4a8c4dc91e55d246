#include "engine/InstallHelper.h"

#include "engine/InstallContext.h"
#include "engine/Package.h"
#include "operations/FileHelpers.h"
#include "operations/RegistryHelpers.h"
#include "operations/RegistryOperation.h"
#include "policy/CPolicyData.h"
#include "shell/Console.h"
#include "shell/Handles.h"
#include "shell/Log.h"

static const char kLogModule[] = ".\\InstallHelper";

const wchar_t kFamilyKey[] = L"SOFTWARE\\Norvex\\Coravel";
const wchar_t kInstallReferenceKey[] = L"SOFTWARE\\Norvex\\Coravel\\Install_Reference";

namespace {
const wchar_t kInstallReferenceKeyPath[] = L"HKLM\\SOFTWARE\\Norvex\\Coravel\\Install_Reference";
const wchar_t kFamilyKeyPath[] = L"HKLM\\SOFTWARE\\Norvex\\Coravel";
const wchar_t kBackupDirectoryKeyPath[] = L"HKLM\\SOFTWARE\\Norvex\\Coravel\\BULWARKGLOBAL\\GLOBAL";
} // namespace

// Full access is asked for on purpose: an account that could not change the reference could not
// act on the installation either, so it sees no installation.
bool InstallReferenceExists() {
    return KeyOpensWithFullAccess(HKEY_LOCAL_MACHINE, kInstallReferenceKey);
}

namespace InstallHelper {

DWORD InstallRefKey() {
    FunctionScope scope(kLogModule, "InstallHelper::InstallRefKey");
    const InstallContextData& context = InstallContext();
    // Recorded as full paths: a later uninstall started from another directory must find the
    // same folders, not the ones its own current directory gives a relative path.
    RegValue installPath(kInstallReferenceKeyPath, L"szInstallPath", L"SZ", FullPathOrAsGiven(context.installDirectory), false);
    RegValue contentPath(kInstallReferenceKeyPath, L"szContentPath", L"SZ", FullPathOrAsGiven(context.contentPath), false);
    DWORD result = installPath.Install();
    if (result == ERROR_SUCCESS) result = contentPath.Install();
    return scope.Result(result);
}

DWORD DeleteRefKey() {
    FunctionScope scope(kLogModule, "InstallHelper::DeleteRefKey");
    RegKey family(kFamilyKeyPath);
    return scope.Result(family.UnInstall());
}

bool IsPreRequisitesInstalled(const std::wstring& contentPath) {
    FunctionScope scope(kLogModule, "InstallHelper::IsPreRequisitesInstalled");
    if (IsDirectoryPath(contentPath)) return scope.Result(true);
    LOG(LogLevel::Debug, "IsPreRequisitesInstalled - Content directory does not exist or empty");
    return scope.Result(false);
}

} // namespace InstallHelper

std::wstring ReadEngineVersionRecord() {
    std::wstring version;
    UniqueKey key;
    const std::wstring subKey = std::wstring(kFamilyKey) + L"\\CRV\\CRV";
    if (::RegOpenKeyW(HKEY_LOCAL_MACHINE, subKey.c_str(), key.put()) == ERROR_SUCCESS) {
        ReadStringValue(key.get(), L"szTarnexVersion", version);
    }
    return version;
}

DWORD CreateBackupDirectoryEntry() {
    FunctionScope scope(kLogModule, "InstallHelper::CreateBackupDirectoryEntry");
    CPolicyData entry(L"AV_POLICY_BACKUP_DIRECTORY", InstallContext().backupDirectory, L"0", kBackupDirectoryKeyPath);
    return scope.Result(entry.Install());
}

DWORD VerifyInstallReference(Package& package) {
    DWORD result = ERROR_SUCCESS;
    if (InstallReferenceExists()) {
        ConsolePrintf(L"\nVerification succeeded for existance of Tarnex install reference registry key.");
    } else {
        ConsolePrintf(L"\nVerification failed for existance of Tarnex install reference registry key.");
        result = ERROR_PATH_NOT_FOUND;
    }
    const DWORD packageResult = package.Verify();
    return packageResult != ERROR_SUCCESS ? packageResult : result;
}
