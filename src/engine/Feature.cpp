// A feature's operations: drivers, the core elements (executables, directories, files, registry)
// and services, in the order each action needs; and the emptying of the install directory.
#include "engine/Feature.h"

#include <shellapi.h>
#include <vector>
#include "engine/InstallContext.h"
#include "engine/InstallJournal.h"
#include "operations/FileHelpers.h"
#include "operations/FilesAhead.h"
#include "operations/RegistryHelpers.h"
#include "services/ScmHelpers.h"
#include "shell/Handles.h"
#include "shell/Log.h"
#include "shell/Result.h"
#include "xml/Binding.h"

// A feature is part of the package module: its log lines name the package.
static const char kLogModule[] = ".\\Package";

namespace {

// Not every SDK's winerror.h names this code.
const DWORD kErrorImplementationLimit = 1292;   // ERROR_IMPLEMENTATION_LIMIT

const wchar_t kContentVersionKey[] = L"HKLM\\SOFTWARE\\Norvex\\Coravel\\DS\\DS";
const wchar_t kContentMajorValue[] = L"dwContentMajorVersion";
const wchar_t kContentMinorValue[] = L"dwContentMinorVersion";

std::vector<FileOperation*> FilesOfThisPlatform(const std::vector<std::unique_ptr<FileOperation>>& files) {
    std::vector<FileOperation*> run;
    for (const auto& file : files) {
        if (IsPlatformMatch(*file)) run.push_back(file.get());
    }
    return run;
}

// The run's files for the work ahead: their targets, and for a copy their sources and digests.
std::vector<FilesAhead::File> PlannedFiles(const std::vector<FileOperation*>& run, bool copy) {
    std::vector<FilesAhead::File> planned;
    planned.reserve(run.size());
    for (const FileOperation* file : run) {
        FilesAhead::File entry;
        entry.target = file->PlannedTargetPath();
        if (copy) {
            entry.source = file->SourcePath();
            entry.sha256 = file->Sha256();
        }
        planned.push_back(std::move(entry));
    }
    return planned;
}

bool ServiceRegistered(const std::wstring& name) {
    UniqueServiceHandle scm = OpenServiceManager(SC_MANAGER_CONNECT);
    // When the SCM cannot say, the name counts as taken: a rollback must not remove what may not
    // be ours.
    return !scm || ServiceExists(scm.get(), name);
}

bool IsDeletedAtRestart(const std::wstring& path) {
    for (const auto& scheduled : InstallContext().deletedAtRestart) {
        if (SamePathText(scheduled, path)) return true;
    }
    return false;
}

// The folders below `directory` that hold only files already deleted at the restart, deepest
// first; false when anything else is left.
bool CollectFoldersLeftForRestart(const std::wstring& directory, std::vector<std::wstring>& folders) {
    WIN32_FIND_DATAW data{};
    UniqueFindHandle find(::FindFirstFileW(ExtendedPath(directory + L"\\*").c_str(), &data));
    if (!find) return false;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = directory + L"\\" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!CollectFoldersLeftForRestart(path, folders)) return false;
            folders.push_back(path);
        } else if (!IsDeletedAtRestart(path)) {
            return false;
        }
    } while (::FindNextFileW(find.get(), &data));
    return true;
}

// After the install directory could not be emptied: when what is left are only files this
// uninstall deleted at the restart, their folders go at the restart too.
bool ScheduleRemainderAtRestart(const std::wstring& directory) {
    if (InstallContext().deletedAtRestart.empty()) return false;
    std::vector<std::wstring> folders;
    if (!CollectFoldersLeftForRestart(directory, folders)) return false;
    for (const auto& folder : folders) {
        if (!MoveFileLong(folder, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) return false;
        LOG(LogLevel::Detail, "Deleting directory at reboot, %S", folder.c_str());
    }
    return true;
}

// The shell's file operation takes patterns below MAX_PATH only. A longer tree is emptied here
// through the long-path forms with the same outcome: every file (read-only ones too) and every
// sub-directory go, the directory itself stays for the caller. A link to a directory is removed,
// never followed.
bool DeleteTreeContentsLong(const std::wstring& directory) {
    WIN32_FIND_DATAW data;
    UniqueFindHandle find(::FindFirstFileW(ExtendedPath(directory + L"\\*", 0).c_str(), &data));
    if (!find) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    bool deleted = true;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring child = directory + L"\\" + name;
        const std::wstring extended = ExtendedPath(child, 0);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) deleted = DeleteTreeContentsLong(child) && deleted;
            deleted = ::RemoveDirectoryW(extended.c_str()) != FALSE && deleted;
            continue;
        }
        if (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ::SetFileAttributesW(extended.c_str(), FILE_ATTRIBUTE_NORMAL);
        deleted = ::DeleteFileW(extended.c_str()) != FALSE && deleted;
    } while (::FindNextFileW(find.get(), &data));
    return deleted;
}

} // namespace

void Feature::Bind(const XmlNode& node) {
    BindAttribute(node, L"tag", tag);
    BindChildren(node, executables);
    BindChildren(node, files);
    BindChildren(node, registryOperations);
    BindChildren(node, directoryOperations);
    BindChildren(node, services);
    BindChildren(node, drivers);
}

DWORD Feature::Install() {
    FunctionScope scope(kLogModule, "Feature::Install");
    LOG(LogLevel::Detail, "%s %S", "Begin Installing Feature", tag.c_str());
    DWORD result = ERROR_SUCCESS;
    InstallJournal* journal = ActiveInstallJournal();
    for (auto& driver : drivers) {
        // A driver is put in place by its INF; its own uninstall undoes that. A driver that was
        // registered before this install is not this install's to remove.
        if (journal && !driver->DriverServiceExists()) {
            journal->Record(L"driver " + driver->infFile.fileName, [&driver] { return driver->UnInstall(); });
        }
        result = driver->Install();
        if (result != ERROR_SUCCESS) break;
    }
    if (result == ERROR_SUCCESS) {
        result = InstallCore();
        if (result == ERROR_SUCCESS) {
            for (auto& service : services) {
                // Only a service this install registers is removed again by a rollback.
                if (journal && !ServiceRegistered(service->serviceName)) {
                    journal->Record(L"service " + service->serviceName, [&service] { return service->RollBackInstall(); });
                }
                result = service->Install();
                if (result != ERROR_SUCCESS) break;
            }
        }
    }
    LOG(LogLevel::Detail, "%s %S", "End Installing Feature", tag.c_str());
    return scope.Result(result);
}

DWORD Feature::InstallCore() {
    FunctionScope scope(kLogModule, "Feature::InstallCore");
    for (auto& executable : executables) {
        if (!IsPlatformMatch(*executable)) continue;
        const DWORD result = executable->Install();
        if (result != ERROR_SUCCESS) return scope.Result(result);
    }
    for (auto& directory : directoryOperations) {
        const DWORD result = directory->Install();
        if (result != ERROR_SUCCESS) return scope.Result(result);
    }
    {
        // Without a journal nothing could undo a copy made ahead of a failure: the files go one
        // at a time.
        const std::vector<FileOperation*> run = FilesOfThisPlatform(files);
        FilesAhead ahead(FilesAhead::Work::Copy,
                         ActiveInstallJournal() ? PlannedFiles(run, true) : std::vector<FilesAhead::File>());
        for (size_t i = 0; i < run.size(); ++i) {
            const DWORD result = run[i]->Install(&ahead, i);
            if (result != ERROR_SUCCESS) {
                LOG(LogLevel::Error, "Failed to install File %S. Error Code %d", run[i]->FileName().c_str(),
                    static_cast<int>(result));
                return scope.Result(result);
            }
        }
    }
    for (auto& registry : registryOperations) {
        const DWORD result = registry->Install();
        if (result != ERROR_SUCCESS) return scope.Result(result);
    }
    return scope.Result(ERROR_SUCCESS);
}

DWORD Feature::UnInstall() {
    FunctionScope scope(kLogModule, "Feature::UnInstall");
    LOG(LogLevel::Detail, "%s %S", "Begin UnInstalling Feature", tag.c_str());
    DWORD result = ERROR_SUCCESS;
    auto keepFirstFailure = [&result](DWORD code) {
        if (result == ERROR_SUCCESS) result = code;
    };
    auto logServiceResult = [](DWORD code) {
        if (code != ERROR_SUCCESS) LOG(LogLevel::Debug, "Service UnInstall Failed. Error Code: %d", static_cast<int>(code));
        else LOG(LogLevel::Debug, "Service UnInstall Successful");
    };

    DWORD serviceResult = ERROR_SUCCESS;
    for (auto& service : services) {
        serviceResult = service->UnInstall();
        logServiceResult(serviceResult);
        keepFirstFailure(serviceResult);
    }
    // The last service's outcome is reported once more as the outcome of the service stage (which
    // is a plain success when there are no services).
    logServiceResult(serviceResult);

    for (auto& driver : drivers) {
        const DWORD driverResult = driver->UnInstall();
        if (driverResult != ERROR_SUCCESS) LOG(LogLevel::Debug, "Driver UnInstall Failed. Error Code: %d", static_cast<int>(driverResult));
        else LOG(LogLevel::Debug, "Driver UnInstall Successful");
        keepFirstFailure(driverResult);
    }

    const DWORD coreResult = UnInstallCore();
    if (coreResult != ERROR_SUCCESS) LOG(LogLevel::Debug, "Core UnInstall Failed. Error Code: %d", static_cast<int>(coreResult));
    else LOG(LogLevel::Debug, "Core UnInstall Successful");
    keepFirstFailure(coreResult);

    LOG(LogLevel::Detail, "%s %S", "End Installing Feature", tag.c_str());
    return scope.Result(result);
}

DWORD Feature::UnInstallCore() {
    FunctionScope scope(kLogModule, "Feature::UnInstallCore");
    const std::wstring installDirectory = InstallContext().installDirectory;
    DWORD result = ERROR_SUCCESS;
    // Every element is still visited after a failure; the first failure is the result.
    auto keepFirstFailure = [&result](DWORD code) {
        if (result == ERROR_SUCCESS) result = code;
    };

    {
        const std::vector<FileOperation*> run = FilesOfThisPlatform(files);
        FilesAhead ahead(FilesAhead::Work::Delete, PlannedFiles(run, false));
        for (size_t i = 0; i < run.size(); ++i) {
            const DWORD code = run[i]->UnInstall(&ahead, i);
            if (code != ERROR_SUCCESS) {
                LOG(LogLevel::Error, "Error while UnInstalling File %S, Error Code: %d", run[i]->FileName().c_str(),
                    static_cast<int>(code));
                keepFirstFailure(code);
            }
        }
    }

    // Files held open were scheduled for deletion at the restart above; when nothing else is
    // left, their folders go at the restart too and the uninstall has not failed. Anything else
    // left behind (a file of another program, held open) fails it.
    if (!DeleteDirectoryContents(installDirectory) && !ScheduleRemainderAtRestart(installDirectory)) {
        keepFirstFailure(ERROR_ACCESS_DENIED);
        LOG(LogLevel::Error, "Failed to delete Install Directory");
    }

    // Directories of their own are emptied and removed as well; what remains of them is left to
    // the next uninstall and does not fail this one.
    for (auto& directory : directoryOperations) {
        ReplaceEnvVariable(directory->Path());
        DeleteDirectoryContents(directory->Path());
        directory->UnInstall();
    }

    for (auto& registry : registryOperations) {
        keepFirstFailure(registry->UnInstall());
    }

    for (auto& executable : executables) {
        if (!IsPlatformMatch(*executable)) continue;
        const DWORD code = executable->UnInstall();
        if (code != ERROR_SUCCESS) LOG(LogLevel::Error, "Failed to uninstall Executables");
        keepFirstFailure(code);
    }
    return scope.Result(result);
}

DWORD Feature::Repair() {
    FunctionScope scope(kLogModule, "Feature::Repair");
    LOG(LogLevel::Detail, "%s %S", "Begin Repair Feature", tag.c_str());
    DWORD result = ERROR_SUCCESS;
    for (size_t i = 0; i < drivers.size(); ++i) {
        const DWORD code = drivers[i]->Repair();
        if (code != ERROR_SUCCESS) {
            LOG(LogLevel::Error, "Error while repairing Driver %d, Error Code: %d", static_cast<int>(i),
                static_cast<int>(code));
            if (result == ERROR_SUCCESS) result = code;
        }
    }
    const DWORD coreResult = RepairCore();
    if (coreResult != ERROR_SUCCESS) {
        LOG(LogLevel::Error, "Error while repairing Core, Error Code: %d", static_cast<int>(coreResult));
        if (result == ERROR_SUCCESS) result = coreResult;
    }
    for (size_t i = 0; i < services.size(); ++i) {
        const DWORD code = services[i]->Repair();
        if (code != ERROR_SUCCESS) {
            LOG(LogLevel::Error, "Error while repairing Service %d, Error Code: %d", static_cast<int>(i),
                static_cast<int>(code));
            if (result == ERROR_SUCCESS) result = code;
        }
    }
    LOG(LogLevel::Detail, "%s %S", "End Repair Feature", tag.c_str());
    return scope.Result(result);
}

DWORD Feature::RepairCore() {
    FunctionScope scope(kLogModule, "Feature::RepairCore");
    std::wstring programDirectory;
    const DWORD directoryResult = GetProgramDirectory(programDirectory);
    if (directoryResult != ERROR_SUCCESS) {
        LOG(LogLevel::Error, "Failed calling GetModuleFileName. Error Code %d", static_cast<int>(directoryResult));
        return scope.Result(directoryResult == ERROR_INSUFFICIENT_BUFFER ? kErrorImplementationLimit : directoryResult);
    }

    DWORD result = ERROR_SUCCESS;
    auto keepFirstFailure = [&result](DWORD code) {
        if (result == ERROR_SUCCESS) result = code;
    };
    for (auto& file : files) {
        if (!IsPlatformMatch(*file)) continue;
        const DWORD code = file->Repair();
        if (code != ERROR_SUCCESS) {
            LOG(LogLevel::Error, "Failed to Repair File %S. Error Code %d", file->FileName().c_str(),
                static_cast<int>(code));
            keepFirstFailure(code);
        }
    }
    for (auto& directory : directoryOperations) {
        const DWORD code = directory->Install();
        if (!IsDirectoryCreated(code)) {
            LOG(LogLevel::Error, "Failed to Repair Directory %S. Error Code %d", directory->Path().c_str(),
                static_cast<int>(code));
            keepFirstFailure(code);
        }
    }
    for (auto& registry : registryOperations) {
        const DWORD code = registry->Install();
        if (code != ERROR_SUCCESS) {
            LOG(LogLevel::Error, "Failed to Registry File. Error Code %d", static_cast<int>(code));
            keepFirstFailure(code);
        }
    }
    ValidateOemContentPresence();
    return scope.Result(result);
}

DWORD Feature::Upgrade() {
    FunctionScope scope(kLogModule, "Feature::Upgrade");
    LOG(LogLevel::Detail, "%s %S", "Begin Upgrade Feature", tag.c_str());
    DWORD result = ERROR_SUCCESS;
    for (auto& driver : drivers) {
        result = driver->Upgrade();
        if (result != ERROR_SUCCESS) break;
    }
    if (result == ERROR_SUCCESS) {
        result = UpgradeCore();
        if (result == ERROR_SUCCESS) {
            for (auto& service : services) {
                result = service->Upgrade();
                if (result != ERROR_SUCCESS) break;
            }
        }
    }
    LOG(LogLevel::Detail, "%s %S", "End Upgrade Feature", tag.c_str());
    return scope.Result(result);
}

DWORD Feature::UpgradeCore() {
    FunctionScope scope(kLogModule, "Feature::UpgradeCore");
    for (auto& registry : registryOperations) {
        const DWORD result = registry->Upgrade();
        if (result != ERROR_SUCCESS) return scope.Result(result);
    }
    for (auto& file : files) {
        if (!IsPlatformMatch(*file)) continue;
        const DWORD result = file->Upgrade();
        if (result != ERROR_SUCCESS) {
            LOG(LogLevel::Error, "Failed to install File %S. Error Code %d", file->FileName().c_str(),
                static_cast<int>(result));
            return scope.Result(result);
        }
    }
    for (auto& executable : executables) {
        if (!IsPlatformMatch(*executable)) continue;
        const DWORD result = executable->Install();
        if (result != ERROR_SUCCESS) return scope.Result(result);
    }
    return scope.Result(ERROR_SUCCESS);
}

DWORD Feature::Verify() {
    DWORD result = ERROR_SUCCESS;
    auto keepLastFailure = [&result](DWORD code) {
        if (code != ERROR_SUCCESS) result = code;
    };
    for (auto& driver : drivers) keepLastFailure(driver->Verify());
    for (auto& registry : registryOperations) keepLastFailure(registry->Verify());
    for (auto& file : files) {
        if (IsPlatformMatch(*file)) keepLastFailure(file->Verify());
    }
    for (auto& executable : executables) {
        if (IsPlatformMatch(*executable)) keepLastFailure(executable->Verify());
    }
    for (auto& service : services) keepLastFailure(service->Verify());
    return result;
}

void Feature::ValidateOemContentPresence() {
    FunctionScope scope(kLogModule, "Feature::ValidateOemContentPresence");
    HKEY root = nullptr;
    std::wstring subKey;
    const DWORD parsed = ParseKeyPath(kContentVersionKey, root, subKey);
    if (parsed != ERROR_SUCCESS) {
        LOG(LogLevel::Error, "Failed to extract Root and sub keys from %S. Error code: %d", kContentVersionKey,
            static_cast<int>(parsed));
        return;
    }
    UniqueKey key;
    const LSTATUS opened = ::RegOpenKeyW(root, subKey.c_str(), key.put());
    if (opened != ERROR_SUCCESS) {
        LOG(LogLevel::Error, "Failed to open key %S. Error code: %d", subKey.c_str(), static_cast<int>(opened));
        return;
    }

    DWORD versions[2] = {};
    const wchar_t* const names[2] = { kContentMajorValue, kContentMinorValue };
    for (int i = 0; i < 2; ++i) {
        DWORD type = 0;
        DWORD size = sizeof(versions[i]);
        const LSTATUS queried =
            ::RegQueryValueExW(key.get(), names[i], nullptr, &type, reinterpret_cast<BYTE*>(&versions[i]), &size);
        if (queried != ERROR_SUCCESS || type != REG_DWORD) {
            LOG(LogLevel::Error, "Failed to query value %S or invalid value type. Error code: %d", names[i],
                static_cast<int>(queried));
            return;
        }
    }
    LOG(LogLevel::Detail, "Content version in registry is %d.%d", static_cast<int>(versions[0]),
        static_cast<int>(versions[1]));

    if (versions[0] != 0 || versions[1] != 5) return;
    const std::wstring updateFile = InstallContext().contentPath + L"\\content\\tarnex\\update\\0.5\\amupdate.dat";
    if (PathExists(updateFile)) return;
    LOG(LogLevel::Detail, "Path %S does not exist. Deleting content version values", updateFile.c_str());
    for (const wchar_t* name : names) {
        const LSTATUS deleted = ::RegDeleteValueW(key.get(), name);
        if (deleted != ERROR_SUCCESS) LOG(LogLevel::Error, "Failed to delete %S. Error code: %d", name, static_cast<int>(deleted));
    }
}

bool RefuseProtectedDirectory(const std::wstring& path) {
    // "C:" names the current directory of drive C, but "C:" followed by "\*.*" is the root of C:
    // both spellings are checked.
    if (!IsProtectedDirectory(path) && !IsProtectedDirectory(path + L"\\")) return false;
    LOG(LogLevel::Error, "Refusing to delete protected directory %S", path.c_str());
    return true;
}

bool DeleteDirectoryContents(const std::wstring& path) {
    if (path.empty()) return false;
    if (RefuseProtectedDirectory(path)) return false;
    // A directory that is not there is already gone: an earlier feature of the same package, or
    // an earlier run, removed it.
    if (!PathExists(path)) {
        LOG(LogLevel::Detail, "DeleteDirectoryContents( %S ) directory does not exist", path.c_str());
        return true;
    }

    // The pattern ends with two NULs, as the shell's file operation requires of its source list.
    std::vector<wchar_t> pattern(2048, L'\0');
    const std::wstring text = path + L"\\*.*";
    if (text.size() + 2 > pattern.size()) {
        LOG(LogLevel::Error, "DeleteDirectoryContents( %S ) path is too long", path.c_str());
        return false;
    }
    text.copy(pattern.data(), text.size());
    if (text.size() >= MAX_PATH) {
        const bool emptied = DeleteTreeContentsLong(path);
        LOG(LogLevel::Detail, "DeleteDirectoryContents( %S )  returned %d", pattern.data(), emptied ? 0 : 1);
        if (!emptied) return false;
        return ::RemoveDirectoryW(ExtendedPath(path, MAX_PATH).c_str()) != FALSE;
    }

    SHFILEOPSTRUCTW operation{};
    operation.wFunc = FO_DELETE;
    operation.pFrom = pattern.data();
    operation.pTo = nullptr;
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;
    const int result = ::SHFileOperationW(&operation);
    LOG(LogLevel::Detail, "DeleteDirectoryContents( %S )  returned %d", pattern.data(), result);
    if (result != 0) return false;
    return ::RemoveDirectoryW(ExtendedPath(path, MAX_PATH).c_str()) != FALSE;
}
