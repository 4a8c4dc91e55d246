#include "engine/installer.h"

#include <shlobj.h>
#include <shlwapi.h>
#include "engine/InstallContext.h"
#include "engine/InstallHelper.h"
#include "operations/FileDigest.h"
#include "operations/FileHelpers.h"
#include "operations/RegistryOperation.h"
#include "policy/Configuration.h"
#include "services/ServiceWait.h"
#include "shell/Console.h"
#include "shell/Handles.h"
#include "shell/Log.h"
#include "xml/Binding.h"

static const char kLogModule[] = ".\\installer";

namespace {

const wchar_t kSingleInstanceEventName[] = L"ORIOLEINSTALLER";
// Installed engines up to this version restart their service themselves after a repair.
const wchar_t kSelfRestartingEngineVersion[] = L"1.0.0.1575.1";
const long kAutomaticStart = 2;
// The controller's own trace messages: the entries of Install (10) and RepairFiles (11), which
// go to the trace only.
const GUID kControllerMessageGuid = { 0xF065DF86, 0xBD9A, 0xC1D9, { 0xE4, 0x20, 0x76, 0xCE, 0x85, 0x2F, 0xF9, 0x4E } };
const USHORT kInstallEntryMessage = 10;
const USHORT kRepairFilesEntryMessage = 11;

bool IsDirectoryCreated(int code) {
    return code == ERROR_SUCCESS || code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
}

int CreateDirectoryWithParents(const std::wstring& directory) {
    return ::SHCreateDirectoryExW(nullptr, directory.c_str(), nullptr);
}

// The engine's service is the first service of the first feature; a package may have none.
Service* EngineService(Package& package) {
    if (package.features.empty() || package.features.front()->services.empty()) return nullptr;
    return package.features.front()->services.front().get();
}

DWORD DeleteInstallReference() {
    const LSTATUS deleted = ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, kInstallReferenceKey);
    if (deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    LOG(LogLevel::Error, "Failed to delete the install reference %S. Error Code: %d", kInstallReferenceKey, deleted);
    return static_cast<DWORD>(deleted);
}

// A package uninstall that succeeded leaves no install reference behind, whether or not the
// document's own registry elements own the product key; a failed one keeps it, so that a retry
// still finds the installed directory.
DWORD RemoveInstallReferenceAfterUnInstall(DWORD packageResult) {
    if (packageResult != ERROR_SUCCESS && packageResult != ERROR_SUCCESS_REBOOT_REQUIRED) return ERROR_SUCCESS;
    return DeleteInstallReference();
}

void RestoreInstallReference(const std::wstring& installPath, const std::wstring& contentPath) {
    const std::wstring key = std::wstring(L"HKLM\\") + kInstallReferenceKey;
    RegValue(key, L"szInstallPath", L"SZ", installPath, false).Install();
    RegValue(key, L"szContentPath", L"SZ", contentPath, false).Install();
    LOG(LogLevel::Error, "Kept the install reference of the existing installation: %S", installPath.c_str());
}

DWORD InstallAction(Package& package, const std::wstring* configurationPath, const std::wstring& installDirectory,
                    const std::wstring& contentPath, const std::wstring* quarantineDirectory) {
    LOG(LogLevel::Detail, "%s", "Installing Tarnex");
    if (InstallReferenceExists() || !InstallHelper::IsPreRequisitesInstalled(contentPath)) {
        if (InstallHelper::IsPreRequisitesInstalled(contentPath)) {
            LOG(LogLevel::Error, "%s", "Tarnex Core Already Installed.");
            return ERROR_ALREADY_EXISTS;
        }
        LOG(LogLevel::Error, "%s", "PreRequisites (Keelson, content etc.) not Installed.");
        return ERROR_SERVICE_DOES_NOT_EXIST;
    }

    // The backup-directory entry records the quarantine directory only once it exists: an entry
    // for a directory that could not be made would replace the configuration's own value with an
    // empty one.
    bool backupDirectorySet = false;
    if (quarantineDirectory) {
        if (IsDirectoryCreated(CreateDirectoryWithParents(*quarantineDirectory))) {
            SetQuarantineDirectory(*quarantineDirectory);
            backupDirectorySet = true;
        } else {
            LOG(LogLevel::Error, "%s", "Failed to create Quarantine directory.");
        }
    }

    DWORD result = ERROR_SUCCESS;
    if (configurationPath) {
        result = InstallConfiguration(*configurationPath);
        if (result != ERROR_SUCCESS) return result;
    }
    if (backupDirectorySet) {
        const DWORD entry = CreateBackupDirectoryEntry();
        if (entry != ERROR_SUCCESS) {
            LOG(LogLevel::Error, "Failed to create entry for Backup Directory. Error Code: %d", entry);
            // Nothing of the package gets installed: the policies go too, so that the machine is
            // left as it was.
            if (configurationPath) UnInstallConfiguration(*configurationPath);
            return entry;
        }
        LOG(LogLevel::Information, "%s", "Succeeded to create entry for Backup Directory.");
    }
    result = Install(package, installDirectory);
    if (result != ERROR_SUCCESS && configurationPath) UnInstallConfiguration(*configurationPath);
    return result;
}

DWORD VerifyAction(Package& package, const std::wstring* configurationPath, const std::wstring* quarantineDirectory) {
    DWORD result = ERROR_SUCCESS;
    if (quarantineDirectory) SetQuarantineDirectory(*quarantineDirectory);
    if (configurationPath) result = VerifyConfiguration(*configurationPath);
    const DWORD reference = VerifyInstallReference(package);
    if (reference != ERROR_SUCCESS) result = reference;
    return result;
}

DWORD RunAction(Package& package, Action action, const std::wstring* configurationPath,
                const std::wstring& installDirectory, const std::wstring& contentPath,
                const std::wstring* quarantineDirectory) {
    switch (action) {
    case Action::Install:
        return InstallAction(package, configurationPath, installDirectory, contentPath, quarantineDirectory);
    case Action::UnInstall: {
        LOG(LogLevel::Detail, "%s", "UnInstalling Tarnex");
        DWORD result = UnInstall(package);
        if (configurationPath) result |= UnInstallConfiguration(*configurationPath);
        return result;
    }
    case Action::Repair:
        LOG(LogLevel::Detail, "%s", "Repairing Tarnex");
        return Repair(package, configurationPath, installDirectory, contentPath, quarantineDirectory);
    case Action::Upgrade:
        LOG(LogLevel::Detail, "%s", "Upgrading Tarnex");
        return Upgrade(package);
    case Action::Verify:
        return VerifyAction(package, configurationPath, quarantineDirectory);
    default:
        return ERROR_XML_PARSE_ERROR;
    }
}

} // namespace

DWORD PerformAction(Package& package, Action action, const std::wstring* configurationPath,
                    const std::wstring& installDirectory, const std::wstring& contentPath,
                    const std::wstring* quarantineDirectory, bool waitForService) {
    // Everyone may open the marker (NULL DACL). Creating it is the test: when the name exists
    // already, another installer holds it, and the answer cannot race with a second start.
    SECURITY_DESCRIPTOR descriptor{};
    ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    ::SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
    SECURITY_ATTRIBUTES attributes{ sizeof(attributes), &descriptor, FALSE };
    ::SetLastError(ERROR_SUCCESS);
    UniqueKernelHandle instance(::CreateEventW(&attributes, FALSE, FALSE, kSingleInstanceEventName));
    if (instance && ::GetLastError() == ERROR_ALREADY_EXISTS) {
        LOG(LogLevel::Warning, "%s", "Another Instance of Installer is already running.");
        return ERROR_SINGLE_INSTANCE_APP;
    }

    DWORD result = ERROR_SUCCESS;
    {
        FunctionScope scope(kLogModule, "PerformAction", true);
        InstallContext().waitForService = waitForService;
        result = RunAction(package, action, configurationPath, installDirectory, contentPath, quarantineDirectory);
        instance.reset();
        scope.Result(result);
    }
    return result;
}

DWORD Install(Package& package, const std::wstring& installDirectory) {
    TraceOwnMessage(kControllerMessageGuid, kInstallEntryMessage, LogLevel::Detail, "Entered function", "Install");
    DWORD result = package.IsPreRequisitesInstalled();
    if (result == ERROR_SUCCESS) result = InstallHelper::InstallRefKey();
    if (result != ERROR_SUCCESS) {
        LOG(LogLevel::Detail, "%s %s with result %d", "Exiting function", "Install", result);
        return result;
    }

    const int created = CreateDirectoryWithParents(installDirectory);
    if (created != ERROR_SUCCESS && !IsDirectoryPath(installDirectory)) {
        LOG(LogLevel::Error, "%s", "Failed to create Install directory.");
        result = static_cast<DWORD>(created);
    } else if (!IsDirectoryEmpty(installDirectory)) {
        InstallHelper::DeleteRefKey();
        LOG(LogLevel::Error, "%s", "Error: Install directory not empty.");
        LOG(LogLevel::Detail, "%s %s with result %d", "Exiting function", "Install", ERROR_DIR_NOT_EMPTY);
        return ERROR_DIR_NOT_EMPTY;
    } else {
        result = package.Install();
        if (result == ERROR_SUCCESS) {
            LOG(LogLevel::Information, "%s", "Install Successfull.");
            LOG(LogLevel::Detail, "%s %s with result %d", "Exiting function", "Install", result);
            return result;
        }
    }

    if (result != ERROR_DIR_NOT_EMPTY) {
        LOG(LogLevel::Error, "%s", "Failed to Install, Starting RollBack.");
        package.UnInstall();
        // The reference was written by this install, which did not happen: a rollback that
        // stumbles over elements the install never reached must not leave the machine looking
        // installed.
        DeleteInstallReference();
    }
    LOG(LogLevel::Detail, "%s %s with result %d", "Exiting function", "Install", result);
    return result;
}

DWORD UnInstall(Package& package) {
    FunctionScope scope(kLogModule, "UnInstall");
    if (!InstallReferenceExists()) {
        LOG(LogLevel::Error, "%s", "Failed to UnInstall as Tarnex not Installed.");
        return scope.Result(ERROR_FILE_NOT_FOUND);
    }
    DWORD result = package.UnInstall();
    if (result == ERROR_SUCCESS && InstallContext().rebootPending) {
        LOG(LogLevel::Detail, "%s", "Reboot Required.");
        result = ERROR_SUCCESS_REBOOT_REQUIRED;
    }
    const DWORD reference = RemoveInstallReferenceAfterUnInstall(result);
    if (reference != ERROR_SUCCESS) result = reference;
    return scope.Result(result);
}

DWORD Upgrade(Package& package) {
    FunctionScope scope(kLogModule, "Upgrade");
    InstallContextData& context = InstallContext();
    context.rebootCopyAllowed = true;
    if (!InstallReferenceExists()) {
        LOG(LogLevel::Error, "%s", "Failed to Upgrade as Tarnex is not Installed.");
        return scope.Result(ERROR_FILE_NOT_FOUND);
    }

    // A package without a service has no engine service to stop and start around the upgrade.
    Service* engine = EngineService(package);
    if (engine) {
        const DWORD stopped = engine->StopService();
        if (stopped != ERROR_SUCCESS) {
            LOG(LogLevel::Error, "Failed to stop the service. Error Code: %d", stopped);
            return scope.Result(stopped);
        }
    }

    DWORD result = package.Upgrade();
    if (result != ERROR_SUCCESS && result != ERROR_SUCCESS_REBOOT_REQUIRED) return scope.Result(result);
    if (result == ERROR_SUCCESS && context.rebootPending) {
        LOG(LogLevel::Detail, "%s", "Reboot Required.");
        result = ERROR_SUCCESS_REBOOT_REQUIRED;
    }

    if (engine) {
        engine->StartTheDrivers();
        if (engine->start == kAutomaticStart) {
            ServiceSleep(1000);
            engine->StartTheService();
        }
    }
    return scope.Result(result);
}

DWORD Repair(Package& package, const std::wstring* configurationPath, const std::wstring& installDirectory,
             const std::wstring& contentPath, const std::wstring* quarantineDirectory) {
    FunctionScope scope(kLogModule, "Repair");
    InstallContextData& context = InstallContext();
    context.rebootCopyAllowed = true;
    DWORD result = ERROR_SUCCESS;
    auto keepFirstFailure = [&result](DWORD code) {
        if (result != ERROR_SUCCESS) return false;
        result = code;
        return true;
    };

    // A package without a service has no engine service to stop and start around the repair.
    Service* engine = EngineService(package);
    const DWORD stopped = engine ? engine->StopService() : ERROR_SUCCESS;
    const std::wstring installedVersion = ReadEngineVersionRecord();
    if (stopped != ERROR_SUCCESS) LOG(LogLevel::Error, "Failed to stop the service. Error Code: %d", stopped);

    if (quarantineDirectory) {
        const int created = CreateDirectoryWithParents(*quarantineDirectory);
        if (IsDirectoryCreated(created)) {
            if (IsDirectoryPath(*quarantineDirectory)) {
                SetQuarantineDirectory(*quarantineDirectory);
                const DWORD entry = CreateBackupDirectoryEntry();
                if (entry != ERROR_SUCCESS) {
                    LOG(LogLevel::Error, "Failed to create entry for Backup Directory: %S. Error Code: %d",
                        quarantineDirectory->c_str(), entry);
                } else {
                    LOG(LogLevel::Information, "Succeeded to create entry for Backup Directory. %S",
                        quarantineDirectory->c_str());
                }
            } else {
                keepFirstFailure(ERROR_INVALID_PARAMETER);
                LOG(LogLevel::Error, "Failed to create Quarantine directory. %S", quarantineDirectory->c_str());
            }
        } else {
            keepFirstFailure(static_cast<DWORD>(created));
            LOG(LogLevel::Error, "Failed to create Quarantine directory. %S", quarantineDirectory->c_str());
        }
    } else {
        LOG(LogLevel::Information, "%s", "Quarantine Directory not specified.");
    }

    if (configurationPath) {
        const DWORD policies = InstallConfiguration(*configurationPath);
        if (policies != ERROR_SUCCESS && keepFirstFailure(policies)) {
            LOG(LogLevel::Error, "Failed to repair policies. Error Code: %d", policies);
        }
    }

    const DWORD files = RepairFiles(installDirectory, contentPath, package);
    DWORD lastStepCode = files;
    if (files != ERROR_SUCCESS) {
        if (keepFirstFailure(files)) LOG(LogLevel::Error, "Failed to repair files and registry. Error Code: %d", files);
    } else if (context.rebootPending) {
        LOG(LogLevel::Detail, "%s", "Reboot Required.");
        result = ERROR_SUCCESS_REBOOT_REQUIRED;
    }

    if (files == ERROR_SUCCESS && !context.rebootPending && engine && engine->start == kAutomaticStart &&
        IsVersionGreater(kSelfRestartingEngineVersion, installedVersion)) {
        ServiceSleep(5000);
        engine->StartTheDrivers();
        ServiceSleep(5000);
        const DWORD started = engine->StartTheService();
        lastStepCode = started;
        if (started != ERROR_SUCCESS && started != ERROR_SERVICE_ALREADY_RUNNING && keepFirstFailure(started)) {
            LOG(LogLevel::Error, "Failed to start the Service. Error Code: %d", started);
        }
    }

    if (result == ERROR_SUCCESS) LOG(LogLevel::Detail, "%s", "Repair Successful.");
    // The exit line reports the last step's own code; the caller gets the combined result.
    scope.Result(lastStepCode);
    return result;
}

DWORD RepairFiles(const std::wstring& installDirectory, const std::wstring& contentPath, Package& package) {
    TraceOwnMessage(kControllerMessageGuid, kRepairFilesEntryMessage, LogLevel::Detail, "Entered function",
                    "RepairFiles");
    // A repair of an existing installation must not take that installation's records with it
    // when it fails: what the reference held is put back instead of deleting the product key
    // (with its version record and policies).
    std::wstring previousInstallPath;
    std::wstring previousContentPath;
    const bool hadReference = InstallReferenceExists() &&
                              ReadRegistryString(kInstallReferenceKey, L"szInstallPath", previousInstallPath);
    if (hadReference) ReadRegistryString(kInstallReferenceKey, L"szContentPath", previousContentPath);

    DWORD result = InstallHelper::InstallRefKey();
    if (result == ERROR_SUCCESS) {
        const int created = CreateDirectoryWithParents(installDirectory);
        if (created != ERROR_SUCCESS && !IsDirectoryPath(installDirectory)) {
            LOG(LogLevel::Error, "%s", "Failed to create Install directory.");
            if (hadReference) {
                RestoreInstallReference(previousInstallPath, previousContentPath);
            } else {
                InstallHelper::DeleteRefKey();
            }
            result = static_cast<DWORD>(created);
        } else {
            result = package.Repair();
        }
    }
    LOG(LogLevel::Detail, "%s %s with result %d", "Exiting function", "RepairFiles", result);
    return result;
}

DWORD InstallConfiguration(const std::wstring& path) {
    FunctionScope scope(kLogModule, "InstallConfiguration");
    Configuration configuration;
    std::wstring error;
    if (!Deserialize(path, configuration, error)) {
        LOG(LogLevel::Error, "Failed to deserialize %S. Error message : %S", path.c_str(), error.c_str());
        return scope.Result(ERROR_INVALID_PARAMETER);
    }
    const DWORD result = configuration.Install();
    if (result != ERROR_SUCCESS) configuration.UnInstall();
    return scope.Result(result);
}

DWORD UnInstallConfiguration(const std::wstring& path) {
    FunctionScope scope(kLogModule, "UnInstallConfiguration");
    Configuration configuration;
    std::wstring error;
    if (!Deserialize(path, configuration, error)) {
        LOG(LogLevel::Error, "Failed to deserialize %S. Error message : %S", path.c_str(), error.c_str());
        return scope.Result(ERROR_SUCCESS);
    }
    return scope.Result(configuration.UnInstall());
}

DWORD VerifyConfiguration(const std::wstring& path) {
    FunctionScope scope(kLogModule, "VerifyConfiguration");
    Configuration configuration;
    std::wstring error;
    if (!Deserialize(path, configuration, error)) {
        ConsolePrintf(L"\nFailed to deserialize %s. Error message : %s", path.c_str(), error.c_str());
        return scope.Result(ERROR_INVALID_PARAMETER);
    }
    return scope.Result(configuration.Verify());
}

void SetQuarantineDirectory(const std::wstring& directory) {
    FunctionScope scope(kLogModule, "SetQuarantineDirectory");
    InstallContext().backupDirectory = directory;
}

bool IsDirectoryEmpty(const std::wstring& directory) {
    FunctionScope scope(kLogModule, "IsDirectoryEmpty");
    WIN32_FIND_DATAW data{};
    UniqueFindHandle find(::FindFirstFileW(ExtendedPath(directory + L"\\*", MAX_PATH).c_str(), &data));
    if (!find) return scope.Result(TRUE) != 0;
    int entries = 1;
    while (entries < 3 && ::FindNextFileW(find.get(), &data)) ++entries;
    return scope.Result(entries < 3 ? TRUE : FALSE) != 0;
}
