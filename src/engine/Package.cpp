#include "engine/Package.h"

#include <vector>
#include "engine/InstallContext.h"
#include "engine/InstallHelper.h"
#include "operations/FileHelpers.h"
#include "operations/RegistryHelpers.h"
#include "shell/Handles.h"
#include "shell/Log.h"
#include "shell/Result.h"
#include "xml/Binding.h"

static const char kLogModule[] = ".\\Package";

namespace {

const wchar_t kPlatformKey[] = L"SOFTWARE\\Norvex\\Keelson";
const wchar_t kPlatformKeyWow[] = L"SOFTWARE\\Wow6432Node\\Norvex\\Keelson";

// The install directory the install reference records. An empty one is refused like a missing
// one: every "$INSTALL_PATH" would otherwise resolve to the root of the current drive.
bool ReadRecordedInstallDirectory(std::wstring& directory) {
    return ReadRegistryString(kInstallReferenceKey, L"szInstallPath", directory) && !directory.empty();
}

} // namespace

void Package::Bind(const XmlNode& node) {
    BindAttribute(node, L"TarnexVersion", tarnexVersion);
    BindAttribute(node, L"schemaVersion", schemaVersion);
    BindChildren(node, features);
}

DWORD Package::Install() {
    FunctionScope scope(kLogModule, "Package::Install");
    LOG(LogLevel::Information, "Begin Installing Package");
    DWORD result = ERROR_SUCCESS;
    for (auto& feature : features) {
        result = feature->Install();
        if (result != ERROR_SUCCESS) break;
    }
    LOG(LogLevel::Information, "End Installing Package");
    return scope.Result(result);
}

DWORD Package::UnInstall() {
    FunctionScope scope(kLogModule, "Package::UnInstall");
    LOG(LogLevel::Information, "Begin UnInstalling Package");
    DWORD result = ERROR_SUCCESS;
    std::wstring installDirectory;
    if (!ReadRecordedInstallDirectory(installDirectory)) {
        result = ERROR_CANTREAD;
    } else {
        InstallContextData& context = InstallContext();
        context.installDirectory = installDirectory;
        std::wstring contentPath;
        if (ReadRegistryString(kInstallReferenceKey, L"szContentPath", contentPath)) context.contentPath = contentPath;

        for (auto& feature : features) {
            const DWORD code = feature->UnInstall();
            if (code != ERROR_SUCCESS) LOG(LogLevel::Debug, "Feature UnInstall Failed. Error Code: %d", static_cast<int>(code));
            else LOG(LogLevel::Debug, "Feature UnInstall Successful.");
            // A later feature's success does not hide an earlier one's failure.
            if (result == ERROR_SUCCESS) result = code;
        }

        const DWORD removal = RemoveInstallDirectory(context.installDirectory);
        if (result == ERROR_SUCCESS && removal == ERROR_SUCCESS) {
            LOG(LogLevel::Debug, "Package UnInstall Successful.");
        } else {
            if (result == ERROR_SUCCESS) result = removal;
            LOG(LogLevel::Debug, "Package UnInstall Failed. Error Code: %d", static_cast<int>(result));
        }
    }
    LOG(LogLevel::Information, "End UnInstalling Package");
    return scope.Result(result);
}

DWORD Package::Repair() {
    FunctionScope scope(kLogModule, "Package::Repair");
    LOG(LogLevel::Detail, "Begin Package Repair");
    DWORD result = ERROR_SUCCESS;
    for (size_t i = 0; i < features.size(); ++i) {
        const DWORD code = features[i]->Repair();
        if (code != ERROR_SUCCESS) {
            LOG(LogLevel::Error, "Error while repairing Feature %d. Error Code: %d", static_cast<int>(i),
                static_cast<int>(code));
            if (result == ERROR_SUCCESS) result = code;
        }
    }
    LOG(LogLevel::Detail, "End Package Repair");
    return scope.Result(result);
}

DWORD Package::Upgrade() {
    FunctionScope scope(kLogModule, "Package::Upgrade");
    LOG(LogLevel::Detail, "Begin Package Upgrade");
    DWORD result = ERROR_SUCCESS;
    std::wstring installDirectory;
    if (!ReadRecordedInstallDirectory(installDirectory)) {
        result = ERROR_CANTREAD;
    } else {
        InstallContext().installDirectory = installDirectory;
        for (auto& feature : features) {
            result = feature->Upgrade();
            if (result != ERROR_SUCCESS) break;
        }
    }
    LOG(LogLevel::Detail, "End Package Upgrade");
    return scope.Result(result);
}

DWORD Package::Verify() {
    for (auto& feature : features) {
        const DWORD result = feature->Verify();
        if (result != ERROR_SUCCESS) return result;
    }
    return ERROR_SUCCESS;
}

DWORD Package::IsPreRequisitesInstalled() const {
    FunctionScope scope(kLogModule, "Package::IsPreRequisitesInstalled");
    if (features.empty() || features.front()->drivers.empty()) return scope.Result(ERROR_SUCCESS);
    if (KeyOpensWithFullAccess(HKEY_LOCAL_MACHINE, kPlatformKey) ||
        KeyOpensWithFullAccess(HKEY_LOCAL_MACHINE, kPlatformKeyWow)) {
        return scope.Result(ERROR_SUCCESS);
    }
    LOG(LogLevel::Debug, "IsPreRequisitesInstalled - neither %S nor %S exist", kPlatformKey, kPlatformKeyWow);
    return scope.Result(ERROR_SERVICE_DOES_NOT_EXIST);
}

bool ReadRegistryString(const std::wstring& keyPath, const std::wstring& valueName, std::wstring& value) {
    LOG(LogLevel::Detail, "Reading Value from the key %S\\%S", keyPath.c_str(), valueName.c_str());
    UniqueKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return false;
    // 4096 bytes of data, and one unit more that stays NUL so that a value without a terminator
    // still ends.
    std::vector<wchar_t> buffer(2049, L'\0');
    DWORD size = 4096;
    if (::RegQueryValueExW(key.get(), valueName.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()),
                           &size) != ERROR_SUCCESS) {
        return false;
    }
    value = buffer.data();
    return true;
}

DWORD RemoveInstallDirectory(const std::wstring& path) {
    if (RefuseProtectedDirectory(path)) return ERROR_ACCESS_DENIED;
    return RemoveDirectoryNowOrAtRestart(kLogModule, path, false);
}
