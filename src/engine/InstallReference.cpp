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

// Deletes the empty keys below the open key, deepest first; true when the key itself is then
// empty (no sub-key, no value).
static bool PruneEmptySubKeys(HKEY key, const std::wstring& path) {
    std::vector<std::wstring> children;
    std::vector<wchar_t> name(256);
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(name.size());
        if (::RegEnumKeyExW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        children.emplace_back(name.data(), length);
    }
    for (const auto& child : children) {
        UniqueKey sub;
        if (::RegOpenKeyExW(key, child.c_str(), 0, KEY_READ, sub.put()) != ERROR_SUCCESS) continue;
        const bool empty = PruneEmptySubKeys(sub.get(), path + L"\\" + child);
        sub.reset();
        if (!empty) continue;
        const DWORD deleted = ResultFromStatus(::RegDeleteKeyW(key, child.c_str()));
        if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) {
            LOG(LogLevel::Warning, "Failed to delete the empty key %S\\%S. Error Code: %d", path.c_str(), child.c_str(),
                static_cast<int>(deleted));
        }
    }
    DWORD subKeys = 0;
    DWORD values = 0;
    if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                           nullptr) != ERROR_SUCCESS) {
        return false;
    }
    return subKeys == 0 && values == 0;
}

// The install created the family key as the reference's parent, and the document's registry
// elements leave the parents of the keys they remove. Once the reference is gone, the keys of
// the family that hold nothing go too, the family key last; a key with anything in it (what the
// engine or the administrator keeps there) stays, with the keys above it.
static void DeleteEmptyFamilyKeys() {
    bool empty = false;
    {
        UniqueKey family;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kFamilyKey, 0, KEY_READ, family.put()) != ERROR_SUCCESS) return;
        empty = PruneEmptySubKeys(family.get(), kFamilyKey);
    }
    if (!empty) return;
    const DWORD deleted = ResultFromStatus(::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kFamilyKey));
    if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) {
        LOG(LogLevel::Warning, "Failed to delete the empty key %S. Error Code: %d", kFamilyKey, static_cast<int>(deleted));
    }
}

// Whether or not the document's own registry elements own the product key, a successful
// uninstall removes the reference; a failed one keeps it, so that a retry still finds the
// installed directory.
DWORD RemoveInstallReferenceAfterUnInstall(DWORD packageResult) {
    if (!IsSuccessOrRestart(packageResult)) return ERROR_SUCCESS;
    const DWORD deleted = DeleteInstallReference();
    if (deleted == ERROR_SUCCESS) DeleteEmptyFamilyKeys();
    return deleted;
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
