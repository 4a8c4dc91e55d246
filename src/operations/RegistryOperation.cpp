#include "operations/RegistryOperation.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <shlwapi.h>
#include "engine/InstallJournal.h"
#include "operations/RegistryHelpers.h"
#include "policy/InstallOverrideTable.h"
#include "shell/Console.h"
#include "shell/Handles.h"
#include "shell/Log.h"
#include "shell/Result.h"
#include "xml/Binding.h"

static const char kLogModule[] = ".\\RegistryOperation";

namespace {

const size_t kMaxValueLength = 16383;

bool IsContentVersionName(const std::wstring& name) {
    return name == L"dwContentMajorVersion" || name == L"dwContentMinorVersion";
}

// The number a DWORD data text stands for when written ("%u"); 0 when it is no number.
DWORD DwordFromDataText(const std::wstring& text) {
    unsigned int number = 0;
    if (swscanf(text.c_str(), L"%u", &number) != 1) return 0;
    return number;
}

DWORD DwordOf(const std::vector<BYTE>& bytes) {
    DWORD number = 0;
    std::memcpy(&number, bytes.data(), sizeof(number));
    return number;
}

// An installed content version stays: where the key holds the value as a REG_DWORD, its number
// replaces the document's.
void KeepInstalledContentVersion(HKEY key, const std::wstring& name, std::vector<BYTE>& bytes) {
    DWORD storedType = REG_NONE;
    DWORD stored = 0;
    DWORD size = sizeof(stored);
    if (::RegQueryValueExW(key, name.c_str(), nullptr, &storedType, reinterpret_cast<BYTE*>(&stored), &size) ==
            ERROR_SUCCESS &&
        storedType == REG_DWORD && size == sizeof(stored)) {
        std::memcpy(bytes.data(), &stored, sizeof(stored));
    }
}

template <typename Unit>
std::vector<BYTE> BytesOf(const Unit* units, size_t count) {
    const BYTE* first = reinterpret_cast<const BYTE*>(units);
    return std::vector<BYTE>(first, first + count * sizeof(Unit));
}

// The type and length of a stored value; false when it does not exist.
bool StoredValueShape(HKEY key, const std::wstring& name, DWORD& type, DWORD& size) {
    type = REG_NONE;
    size = 0;
    return ::RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
}

} // namespace

// RegValue --------------------------------------------------------------------------------------

RegValue::RegValue(std::wstring keyPath, std::wstring name, std::wstring type, std::wstring data, bool keepExisting)
    : type_(std::move(type)), name_(std::move(name)), data_(std::move(data)), keyPath_(std::move(keyPath)),
      keepExisting_(keepExisting) {}

RegValue::Encoded RegValue::Encode(const std::wstring& type, const std::wstring& data) {
    Encoded value;
    if (type == L"DWORD") {
        const DWORD number = DwordFromDataText(data);
        value.type = REG_DWORD;
        value.bytes = BytesOf(&number, 1);
    } else if (type == L"SZ") {
        value.type = REG_SZ;
        value.bytes = BytesOf(data.c_str(), data.size() + 1);   // with the terminating NUL
    } else if (type == L"MULTI_SZ") {
        value.type = REG_MULTI_SZ;
        if (data.size() > kMaxValueLength) {
            value.error = ERROR_INVALID_DATA;
            return value;
        }
        const std::wstring units = EncodeMultiSzText(data);
        value.bytes = BytesOf(units.data(), units.size());
    }
    return value;
}

void RegValue::Bind(const XmlNode& node) {
    BindAttribute(node, L"type", type_);
    BindAttribute(node, L"name", name_);
    BindAttribute(node, L"data", data_);
    BindAttribute(node, L"platform", platform_);
    BindBoolAttribute(node, L"keepexisting", keepExisting_);
}

DWORD RegValue::Install() {
    FunctionScope scope(kLogModule, "RegValue::Install");
    LOG(LogLevel::Detail, "%s %S", "Begin Installing RegValue. ValueName: ", name_.c_str());

    HKEY root = nullptr;
    std::wstring subKey;
    const DWORD parsed = ParseKeyPath(keyPath_, root, subKey);
    if (parsed != ERROR_SUCCESS) return scope.Result(parsed);

    InstallJournal* journal = ActiveInstallJournal();
    const std::wstring firstMissing = journal ? InstallJournal::FirstMissingKey(root, subKey) : std::wstring();
    UniqueKey key;
    const LSTATUS created = ::RegCreateKeyExW(root, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                              nullptr, key.put(), nullptr);
    if (created != ERROR_SUCCESS) {
        LOG(LogLevel::Detail, "Failed to create or open Sub key: %S. Error Code %d", subKey.c_str(),
            static_cast<int>(created));
        return scope.Result(ResultFromStatus(created));
    }
    if (journal) journal->KeyCreated(root, firstMissing);
    LOG(LogLevel::Detail, "Created or Opened the Sub key : %S.", subKey.c_str());

    if (InstallOverrideTable::HasOverride(name_)) data_ = InstallOverrideTable::GetOverride(name_);

    if (keepExisting_ && ValueExists(key.get(), name_)) {
        LOG(LogLevel::Detail, "Retaining the value for registry key: %S\\%S.", subKey.c_str(), name_.c_str());
        return scope.Result(ERROR_SUCCESS);
    }

    if (type_ == L"SZ") ReplaceEnvVariable(data_);
    Encoded value = Encode(type_, data_);
    if (value.error != ERROR_SUCCESS) {
        // The one text Encode refuses: a MULTI_SZ beyond the registry's value length.
        LOG(LogLevel::Detail,
            "Failed to set the MULTI_SZ value for registry key: %S\\%S. Length is longer than MAX_VALUE_LENGTH(16383).",
            subKey.c_str(), name_.c_str());
        return scope.Result(value.error);
    }
    if (journal && value.type != REG_NONE) journal->BeforeValueWrite(key.get(), root, subKey, name_);
    LSTATUS written = ERROR_SUCCESS;
    if (value.type != REG_NONE) {
        if (value.type == REG_DWORD && IsContentVersionName(name_)) KeepInstalledContentVersion(key.get(), name_, value.bytes);
        written = ::RegSetValueExW(key.get(), name_.c_str(), 0, value.type, value.bytes.data(),
                                   static_cast<DWORD>(value.bytes.size()));
        if (written == ERROR_SUCCESS && value.type == REG_DWORD) {
            LOG(LogLevel::Detail, "Succeeded set the value for registry key: %S\\%S. Value %d", subKey.c_str(), name_.c_str(),
                static_cast<int>(DwordOf(value.bytes)));
        } else if (written == ERROR_SUCCESS) {
            LOG(LogLevel::Detail, "Succeeded set the value for registry key: %S\\%S. Value %S", subKey.c_str(), name_.c_str(),
                data_.c_str());
        }
    }
    if (written != ERROR_SUCCESS) {
        LOG(LogLevel::Detail, "Failed to set the value for registry key: %S\\%S. Error Code %d", subKey.c_str(),
            name_.c_str(), static_cast<int>(written));
        return scope.Result(ResultFromStatus(written));
    }

    key.reset();
    LOG(LogLevel::Detail, "%s %S", "End Installing RegValue. ValueName: ", name_.c_str());
    return scope.Result(ERROR_SUCCESS);
}

DWORD RegValue::Verify() {
    HKEY root = nullptr;
    std::wstring subKey;
    const DWORD parsed = ParseKeyPath(keyPath_, root, subKey);
    if (parsed != ERROR_SUCCESS) {
        ConsolePrintf(L"\nFailed to parse registry path %s. Error code %u", keyPath_.c_str(), parsed);
        return parsed;
    }
    UniqueKey key;
    const LSTATUS opened = ::RegOpenKeyW(root, subKey.c_str(), key.put());
    if (opened != ERROR_SUCCESS) {
        ConsolePrintf(L"\nFailed to open registry key %s. Error code %u", keyPath_.c_str(), static_cast<unsigned>(opened));
        return ResultFromStatus(opened);
    }

    DWORD storedType = REG_NONE;
    DWORD storedSize = 0;
    const bool exists = StoredValueShape(key.get(), name_, storedType, storedSize);
    if (!exists) {
        ConsolePrintf(L"\nVerification failed for existance of value %s under Registry key %s.", name_.c_str(), keyPath_.c_str());
    }

    if (InstallOverrideTable::HasOverride(name_)) data_ = InstallOverrideTable::GetOverride(name_);

    // The comparisons are the verify's own (the number read as wcstoul reads it, the stored
    // strings joined again): only the registry type comes from the encoding.
    const DWORD expectedType = Encode(type_, data_).type;
    bool match = false;
    if (exists && keepExisting_) {
        // Install leaves an existing value alone whatever it holds.
        match = true;
    } else if (exists && expectedType == REG_DWORD && IsContentVersionName(name_) && storedType == REG_DWORD &&
               storedSize == sizeof(DWORD)) {
        // Install keeps the installed content version whatever its number.
        match = true;
    } else if (exists && expectedType == REG_DWORD) {
        std::vector<BYTE> data;
        DWORD size = 0;
        if (ReadRawValue(key.get(), name_, data, size) && size == sizeof(DWORD)) {
            DWORD stored = 0;
            std::memcpy(&stored, data.data(), sizeof(stored));
            match = stored == static_cast<DWORD>(wcstoul(data_.c_str(), nullptr, 10));
        }
    } else if (exists && expectedType == REG_SZ) {
        ReplaceEnvVariable(data_);
        std::wstring stored;
        match = ReadStringValue(key.get(), name_, stored) && stored == data_;
    } else if (exists && expectedType == REG_MULTI_SZ) {
        std::vector<std::wstring> stored;
        match = ReadMultiStringValue(key.get(), name_, stored) && JoinMultiSzText(stored) == data_;
    }

    if (match) {
        ConsolePrintf(L"\nVerification succeeded for value %s under Registry key %s.", name_.c_str(), keyPath_.c_str());
        return ERROR_SUCCESS;
    }
    ConsolePrintf(L"\nVerification failed for value data of value %s under Registry key %s.", name_.c_str(), keyPath_.c_str());
    return ERROR_INVALID_DATA;
}

// RegKey ----------------------------------------------------------------------------------------

void RegKey::Bind(const XmlNode& node) {
    BindAttribute(node, L"key", keyPath_);
    BindChildren(node, values_);
}

DWORD RegKey::Install() {
    FunctionScope scope(kLogModule, "RegKey::Install");
    LOG(LogLevel::Detail, "%s %S", "Begin Installing RegKey. KeyName: ", keyPath_.c_str());
    LOG(LogLevel::Detail, "Creating registry key %S", keyPath_.c_str());
    RegValue keyOnly(keyPath_, L"", L"", L"", false);
    const DWORD created = keyOnly.Install();
    if (created != ERROR_SUCCESS) {
        LOG(LogLevel::Detail, "Failed to create registry key: %S", keyPath_.c_str());
        return scope.Result(created);
    }
    for (const auto& value : values_) {
        if (!IsPlatformMatch(*value)) continue;
        LOG(LogLevel::Detail, "Creating registry key %S\\%S", keyPath_.c_str(), value->Name().c_str());
        value->SetKeyPath(keyPath_);
        const DWORD result = value->Install();
        if (result != ERROR_SUCCESS) {
            LOG(LogLevel::Detail, "Failed to create registry: %S\\%S", keyPath_.c_str(), value->Name().c_str());
            return scope.Result(result);
        }
    }
    LOG(LogLevel::Detail, "%s %S", "End Installing RegKey. KeyName: ", keyPath_.c_str());
    return scope.Result(ERROR_SUCCESS);
}

DWORD RegKey::UnInstall() {
    FunctionScope scope(kLogModule, "RegKey::UnInstall");
    LOG(LogLevel::Detail, "%s %S", "Begin Uninstalling RegKey. KeyName: ", keyPath_.c_str());
    HKEY root = nullptr;
    std::wstring subKey;
    DWORD result = ParseKeyPath(keyPath_, root, subKey);
    if (result == ERROR_SUCCESS) {
        if (subKey.find_first_not_of(L'\\') == std::wstring::npos) {
            // "HKLM\" names a whole hive: deleting its tree would wipe the machine's registry.
            LOG(LogLevel::Detail, "Refusing to delete the root of %S", keyPath_.c_str());
            result = ERROR_INVALID_PARAMETER;
        } else {
            LOG(LogLevel::Detail, "Deleting Registry Key %S", subKey.c_str());
            result = ResultFromStatus(::SHDeleteKeyW(root, subKey.c_str()));
            // A key that is already gone is what the removal is for (an earlier key of the same
            // document may have held it): not a failure of the uninstall.
            if (result == ERROR_FILE_NOT_FOUND) result = ERROR_SUCCESS;
        }
    }
    LOG(LogLevel::Detail, "%s %S", "End Uninstalling RegKey. KeyName: ", keyPath_.c_str());
    return scope.Result(result);
}

DWORD RegKey::Verify() {
    HKEY root = nullptr;
    std::wstring subKey;
    const DWORD parsed = ParseKeyPath(keyPath_, root, subKey);
    if (parsed != ERROR_SUCCESS) {
        ConsolePrintf(L"\nFailed to parse registry path %s. Error code %u", keyPath_.c_str(), parsed);
        return parsed;
    }
    if (!KeyExists(root, subKey)) {
        ConsolePrintf(L"\nVerification failed for existance of Registry key %s.", subKey.c_str());
        return ERROR_PATH_NOT_FOUND;
    }
    ConsolePrintf(L"\nVerification succeeded for existance of Registry path %s.", subKey.c_str());
    DWORD result = ERROR_SUCCESS;
    for (const auto& value : values_) {
        // Install writes only the values meant for this processor; the others are not expected.
        if (!IsPlatformMatch(*value)) continue;
        value->SetKeyPath(keyPath_);
        const DWORD verified = value->Verify();
        if (verified != ERROR_SUCCESS) result = verified;
    }
    return result;
}

// RegistryOperation -----------------------------------------------------------------------------

void RegistryOperation::Bind(const XmlNode& node) {
    BindAttribute(node, L"operation", operation_);
    BindChildren(node, keys_);
}

DWORD RegistryOperation::Install() {
    FunctionScope scope(kLogModule, "RegistryOperation::Install");
    LOG(LogLevel::Detail, "%s %S", "Begin Installing RegistryOperation, Operation: ", operation_.c_str());
    DWORD result = ERROR_SUCCESS;
    for (const auto& key : keys_) {
        result = key->Install();
        if (result != ERROR_SUCCESS) break;
    }
    LOG(LogLevel::Detail, "%s %S", "End Installing RegistryOperation, Operation: ", operation_.c_str());
    return scope.Result(result);
}

DWORD RegistryOperation::UnInstall() {
    FunctionScope scope(kLogModule, "RegistryOperation::UnInstall");
    LOG(LogLevel::Detail, "Begin Uninstalling RegistryOperation");
    DWORD result = ERROR_SUCCESS;
    for (const auto& key : keys_) {
        result = key->UnInstall();
        if (result != ERROR_SUCCESS) LOG(LogLevel::Debug, "RegistryKey UnInstall Failed. Error Code: %d", static_cast<int>(result));
        else LOG(LogLevel::Debug, "RegistryKey UnInstall Successful.");
    }
    LOG(LogLevel::Detail, "End Uninstalling RegistryOperation");
    return scope.Result(result);
}

DWORD RegistryOperation::Repair() {
    FunctionScope scope(kLogModule, "RegistryOperation::Repair");
    DWORD first = ERROR_SUCCESS;
    for (const auto& key : keys_) {
        const DWORD result = key->Repair();
        if (result != ERROR_SUCCESS) {
            LOG(LogLevel::Error, "Error while repairing Registry %S, Error Code: %d", key->KeyPath().c_str(),
                static_cast<int>(result));
            if (first == ERROR_SUCCESS) first = result;
        }
    }
    return scope.Result(first);
}

DWORD RegistryOperation::Upgrade() {
    FunctionScope scope(kLogModule, "RegistryOperation::Upgrade");
    for (const auto& key : keys_) {
        const DWORD result = key->Upgrade();
        if (result != ERROR_SUCCESS) {
            LOG(LogLevel::Error, "Error while Upgrading Registry %S, Error Code: %d", key->KeyPath().c_str(),
                static_cast<int>(result));
            return scope.Result(result);
        }
    }
    return scope.Result(ERROR_SUCCESS);
}

DWORD RegistryOperation::Verify() {
    DWORD result = ERROR_SUCCESS;
    for (const auto& key : keys_) {
        const DWORD verified = key->Verify();
        if (verified != ERROR_SUCCESS) result = verified;
    }
    return result;
}
