#include "engine/installer.h"

#include <shlobj.h>
#include "engine/InstallContext.h"
#include "engine/InstallHelper.h"
#include "engine/InstallJournal.h"
#include "engine/InstallReference.h"
#include "operations/FileDigest.h"
#include "operations/FileHelpers.h"
#include "policy/Configuration.h"
#include "services/ServiceWait.h"
#include "shell/Console.h"
#include "shell/Handles.h"
#include "shell/Log.h"
#include "shell/Result.h"
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

DWORD CreateDirectoryWithParents(const std::wstring& directory) {
    return CreateDirectoryTree(directory);
}

// What a configuration document that cannot be loaded gives.
enum class LoadFailure {
    LoggedAsInvalid,          // logged; ERROR_INVALID_PARAMETER
    LoggedAsNothingToRemove,  // logged; 0, there are no policies of it to remove
    PrintedAsInvalid,         // on the verify report; ERROR_INVALID_PARAMETER
};

// Loads the configuration document at `path` and applies `apply` to it, between the entry and
// exit lines of `operation`.
template <typename Apply>
DWORD WithConfiguration(const char* operation, const std::wstring& path, LoadFailure failure, Apply apply) {
    FunctionScope scope(kLogModule, operation);
    Configuration configuration;
    std::wstring error;
    if (!Deserialize(path, configuration, error)) {
        if (failure == LoadFailure::PrintedAsInvalid) {
            ConsolePrintf(L"\nFailed to deserialize %s. Error message : %s", path.c_str(), error.c_str());
        } else {
            LOG(LogLevel::Error, "Failed to deserialize %S. Error message : %S", path.c_str(), error.c_str());
        }
        return scope.Result(failure == LoadFailure::LoggedAsNothingToRemove ? static_cast<DWORD>(ERROR_SUCCESS)
                                                                            : static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    return scope.Result(apply(configuration));
}

// The engine's service is the first service of the first feature; a package may have none.
Service* EngineService(Package& package) {
    if (package.features.empty() || package.features.front()->services.empty()) return nullptr;
    return package.features.front()->services.front().get();
}

DWORD InstallAction(Package& package, const std::wstring* configurationPath, const std::wstring& installDirectory,
                    const std::wstring& contentPath, const std::wstring* quarantineDirectory) {
    LOG(LogLevel::Detail, "Installing Tarnex");
    if (InstallReferenceExists() || !InstallHelper::IsPreRequisitesInstalled(contentPath)) {
        if (InstallHelper::IsPreRequisitesInstalled(contentPath)) {
            LOG(LogLevel::Error, "Tarnex Core Already Installed.");
            return ERROR_ALREADY_EXISTS;
        }
        LOG(LogLevel::Error, "PreRequisites (Keelson, content etc.) not Installed.");
        return ERROR_SERVICE_DOES_NOT_EXIST;
    }

    // The backup-directory entry records the quarantine directory only once it exists: an entry
    // for a directory that could not be made would replace the configuration's own value with an
    // empty one.
    bool backupDirectorySet = false;
    if (quarantineDirectory) {
        if (IsDirectoryCreated(CreateDirectoryWithParents(*quarantineDirectory))) {
            // A file of that name is no quarantine directory: nothing is installed.
            if (!IsDirectoryPath(*quarantineDirectory)) {
                LOG(LogLevel::Error, "Failed to create Quarantine directory.");
                return ERROR_INVALID_PARAMETER;
            }
            SetQuarantineDirectory(*quarantineDirectory);
            backupDirectorySet = true;
        } else {
            LOG(LogLevel::Error, "Failed to create Quarantine directory.");
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
            LOG(LogLevel::Error, "Failed to create entry for Backup Directory. Error Code: %d",
                static_cast<int>(entry));
            // Nothing of the package gets installed: the policies go too, so that the machine is
            // left as it was.
            if (configurationPath) UnInstallConfiguration(*configurationPath);
            return entry;
        }
        LOG(LogLevel::Information, "Succeeded to create entry for Backup Directory.");
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
        LOG(LogLevel::Detail, "UnInstalling Tarnex");
        DWORD result = UnInstall(package);
        if (configurationPath) {
            // The policies go with the family key; after a failed package uninstall the install
            // reference must survive that, so that a retry still finds the installation.
            const bool keepReference = !IsSuccessOrRestart(result) && InstallReferenceExists();
            const InstallReferenceSnapshot reference =
                keepReference ? InstallReferenceSnapshot::Take() : InstallReferenceSnapshot();
            result |= UnInstallConfiguration(*configurationPath);
            const DWORD restored = reference.PutBack();
            if (restored != ERROR_SUCCESS) {
                LOG(LogLevel::Error, "Failed to keep the install reference after the failed uninstall. Error Code: %d",
                    static_cast<int>(restored));
            }
        }
        return result;
    }
    case Action::Repair:
        LOG(LogLevel::Detail, "Repairing Tarnex");
        return Repair(package, configurationPath, installDirectory, contentPath, quarantineDirectory);
    case Action::Upgrade:
        LOG(LogLevel::Detail, "Upgrading Tarnex");
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
    // No marker at all (the name is held by an object this process may not open) guards nothing:
    // the run stops as it does when another installer holds the marker.
    if (!instance || ::GetLastError() == ERROR_ALREADY_EXISTS) {
        LOG(LogLevel::Warning, "Another Instance of Installer is already running.");
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
    FunctionScope scope(kLogModule, "Install", kControllerMessageGuid, kInstallEntryMessage);
    // Every change of this install is journaled, so that a failure puts back exactly what was
    // there before and leaves alone what the install never touched.
    InstallJournal journal;
    JournalScope journaling(journal);
    DWORD result = package.IsPreRequisitesInstalled();
    if (result == ERROR_SUCCESS) result = InstallHelper::InstallRefKey();
    if (result != ERROR_SUCCESS) return scope.Result(result);

    const auto missing = InstallJournal::MissingDirectories(installDirectory);
    const DWORD created = CreateDirectoryWithParents(installDirectory);
    journal.DirectoriesCreated(missing);
    if (created != ERROR_SUCCESS && !IsDirectoryPath(installDirectory)) {
        LOG(LogLevel::Error, "Failed to create Install directory.");
        result = created;
    } else if (!IsDirectoryEmpty(installDirectory)) {
        InstallHelper::DeleteRefKey();
        LOG(LogLevel::Error, "Error: Install directory not empty.");
        return scope.Result(static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
    } else {
        result = package.Install();
        if (result == ERROR_SUCCESS) {
            journal.Commit();
            LOG(LogLevel::Information, "Install Successfull.");
            return scope.Result(result);
        }
    }

    if (result != ERROR_DIR_NOT_EMPTY) {
        LOG(LogLevel::Error, "Failed to Install, Starting RollBack.");
        journal.Rollback();
        // The reference was written by this install, which did not happen: a rollback that
        // stumbles over elements the install never reached must not leave the machine looking
        // installed.
        DeleteInstallReference();
    }
    return scope.Result(result);
}

DWORD UnInstall(Package& package) {
    FunctionScope scope(kLogModule, "UnInstall");
    if (!InstallReferenceExists()) {
        LOG(LogLevel::Error, "Failed to UnInstall as Tarnex not Installed.");
        return scope.Result(ERROR_FILE_NOT_FOUND);
    }
    DWORD result = package.UnInstall();
    if (result == ERROR_SUCCESS && InstallContext().rebootPending) {
        LOG(LogLevel::Detail, "Reboot Required.");
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
        LOG(LogLevel::Error, "Failed to Upgrade as Tarnex is not Installed.");
        return scope.Result(ERROR_FILE_NOT_FOUND);
    }

    // A package without a service has no engine service to stop and start around the upgrade.
    Service* engine = EngineService(package);
    if (engine) {
        const DWORD stopped = engine->StopService();
        if (stopped != ERROR_SUCCESS) {
            LOG(LogLevel::Error, "Failed to stop the service. Error Code: %d", static_cast<int>(stopped));
            return scope.Result(stopped);
        }
    }

    DWORD result = package.Upgrade();
    if (result != ERROR_SUCCESS && result != ERROR_SUCCESS_REBOOT_REQUIRED) return scope.Result(result);
    if (result == ERROR_SUCCESS && context.rebootPending) {
        LOG(LogLevel::Detail, "Reboot Required.");
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
    if (stopped != ERROR_SUCCESS) LOG(LogLevel::Error, "Failed to stop the service. Error Code: %d", static_cast<int>(stopped));

    if (quarantineDirectory) {
        const DWORD created = CreateDirectoryWithParents(*quarantineDirectory);
        if (IsDirectoryCreated(created)) {
            if (IsDirectoryPath(*quarantineDirectory)) {
                SetQuarantineDirectory(*quarantineDirectory);
                const DWORD entry = CreateBackupDirectoryEntry();
                if (entry != ERROR_SUCCESS) {
                    LOG(LogLevel::Error, "Failed to create entry for Backup Directory: %S. Error Code: %d",
                        quarantineDirectory->c_str(), static_cast<int>(entry));
                } else {
                    LOG(LogLevel::Information, "Succeeded to create entry for Backup Directory. %S",
                        quarantineDirectory->c_str());
                }
            } else {
                keepFirstFailure(ERROR_INVALID_PARAMETER);
                LOG(LogLevel::Error, "Failed to create Quarantine directory. %S", quarantineDirectory->c_str());
            }
        } else {
            keepFirstFailure(created);
            LOG(LogLevel::Error, "Failed to create Quarantine directory. %S", quarantineDirectory->c_str());
        }
    } else {
        LOG(LogLevel::Information, "Quarantine Directory not specified.");
    }

    if (configurationPath) {
        const DWORD policies = InstallConfiguration(*configurationPath);
        if (policies != ERROR_SUCCESS && keepFirstFailure(policies)) {
            LOG(LogLevel::Error, "Failed to repair policies. Error Code: %d", static_cast<int>(policies));
        }
    }

    const DWORD files = RepairFiles(installDirectory, contentPath, package);
    DWORD lastStepCode = files;
    if (files != ERROR_SUCCESS) {
        if (keepFirstFailure(files)) LOG(LogLevel::Error, "Failed to repair files and registry. Error Code: %d", static_cast<int>(files));
    } else if (context.rebootPending) {
        LOG(LogLevel::Detail, "Reboot Required.");
        // An earlier failure stays the result: a restart does not finish what failed.
        if (result == ERROR_SUCCESS) result = ERROR_SUCCESS_REBOOT_REQUIRED;
    }

    if (files == ERROR_SUCCESS && !context.rebootPending && engine && engine->start == kAutomaticStart &&
        IsVersionGreater(kSelfRestartingEngineVersion, installedVersion)) {
        ServiceSleep(5000);
        engine->StartTheDrivers();
        ServiceSleep(5000);
        const DWORD started = engine->StartTheService();
        lastStepCode = started;
        if (started != ERROR_SUCCESS && started != ERROR_SERVICE_ALREADY_RUNNING && keepFirstFailure(started)) {
            LOG(LogLevel::Error, "Failed to start the Service. Error Code: %d", static_cast<int>(started));
        }
    }

    if (result == ERROR_SUCCESS) LOG(LogLevel::Detail, "Repair Successful.");
    // The exit line reports the last step's own code; the caller gets the combined result.
    scope.Result(lastStepCode);
    return result;
}

DWORD RepairFiles(const std::wstring& installDirectory, const std::wstring& contentPath, Package& package) {
    FunctionScope scope(kLogModule, "RepairFiles", kControllerMessageGuid, kRepairFilesEntryMessage);
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
        const DWORD created = CreateDirectoryWithParents(installDirectory);
        if (created != ERROR_SUCCESS && !IsDirectoryPath(installDirectory)) {
            LOG(LogLevel::Error, "Failed to create Install directory.");
            result = created;
            if (hadReference) {
                // Losing the reference would make the installation unknown to every later run:
                // that failure is the one to report.
                const DWORD restored = RestoreInstallReference(previousInstallPath, previousContentPath);
                if (restored != ERROR_SUCCESS) result = restored;
            } else {
                InstallHelper::DeleteRefKey();
            }
        } else {
            result = package.Repair();
        }
    }
    return scope.Result(result);
}

DWORD InstallConfiguration(const std::wstring& path) {
    return WithConfiguration("InstallConfiguration", path, LoadFailure::LoggedAsInvalid, [](Configuration& configuration) {
        const DWORD result = configuration.Install();
        if (result != ERROR_SUCCESS) configuration.UnInstall();
        return result;
    });
}

DWORD UnInstallConfiguration(const std::wstring& path) {
    return WithConfiguration("UnInstallConfiguration", path, LoadFailure::LoggedAsNothingToRemove,
                             [](Configuration& configuration) { return configuration.UnInstall(); });
}

DWORD VerifyConfiguration(const std::wstring& path) {
    return WithConfiguration("VerifyConfiguration", path, LoadFailure::PrintedAsInvalid,
                             [](Configuration& configuration) { return configuration.Verify(); });
}

void SetQuarantineDirectory(const std::wstring& directory) {
    FunctionScope scope(kLogModule, "SetQuarantineDirectory");
    InstallContext().backupDirectory = directory;
}

bool IsDirectoryEmpty(const std::wstring& directory) {
    FunctionScope scope(kLogModule, "IsDirectoryEmpty");
    WIN32_FIND_DATAW data{};
    UniqueFindHandle find(::FindFirstFileW(ExtendedPath(directory + L"\\*", MAX_PATH).c_str(), &data));
    if (!find) return scope.Result(true);
    int entries = 1;
    while (entries < 3 && ::FindNextFileW(find.get(), &data)) ++entries;
    return scope.Result(entries < 3);
}
