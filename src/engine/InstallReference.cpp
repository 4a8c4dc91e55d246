#include "engine/InstallReference.h"

#include <shlwapi.h>
#include "engine/InstallHelper.h"
#include "operations/RegistryOperation.h"
#include "shell/Handles.h"
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

DWORD RestoreInstallReference(const std::wstring& installPath, const std::wstring& contentPath) {
    const std::wstring key = std::wstring(L"HKLM\\") + kInstallReferenceKey;
    DWORD result = RegValue(key, L"szInstallPath", L"SZ", installPath, false).Install();
    if (result == ERROR_SUCCESS) result = RegValue(key, L"szContentPath", L"SZ", contentPath, false).Install();
    if (result != ERROR_SUCCESS) {
        LOG(LogLevel::Error, "Failed to write back the install reference of the existing installation: %S. Error Code: %d",
            installPath.c_str(), static_cast<int>(result));
        return result;
    }
    LOG(LogLevel::Error, "Kept the install reference of the existing installation: %S", installPath.c_str());
    return ERROR_SUCCESS;
}

InstallReferenceSnapshot InstallReferenceSnapshot::Take() {
    InstallReferenceSnapshot snapshot;
    UniqueKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstallReferenceKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return snapshot;
    std::vector<wchar_t> name(16384);
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD type = REG_NONE;
        DWORD size = 0;
        if (::RegEnumValueW(key.get(), index, name.data(), &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        Value value{ std::wstring(name.data(), nameLength), type, std::vector<BYTE>(size) };
        DWORD read = size;
        if (::RegQueryValueExW(key.get(), value.name.c_str(), nullptr, &value.type,
                               value.data.empty() ? nullptr : value.data.data(), &read) != ERROR_SUCCESS) {
            continue;
        }
        value.data.resize(read);
        snapshot.values_.push_back(std::move(value));
    }
    return snapshot;
}

DWORD InstallReferenceSnapshot::PutBack() const {
    if (values_.empty()) return ERROR_SUCCESS;
    UniqueKey key;
    DWORD result = ResultFromStatus(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kInstallReferenceKey, 0, nullptr,
                                                      REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, key.put(), nullptr));
    for (const auto& value : values_) {
        if (result != ERROR_SUCCESS) break;
        result = ResultFromStatus(::RegSetValueExW(key.get(), value.name.c_str(), 0, value.type,
                                                   value.data.empty() ? nullptr : value.data.data(),
                                                   static_cast<DWORD>(value.data.size())));
    }
    return result;
}
