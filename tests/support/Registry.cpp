#include "support/Registry.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>
#include <shlwapi.h>
#include "shell/Handles.h"

namespace hklm {

namespace {

UniqueKey OpenKey(const std::wstring& subKey, REGSAM access) {
    UniqueKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, access | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS)
        key.reset();
    return key;
}

std::wstring WideFromBytes(const std::string& bytes) {
    std::wstring text(bytes.size() / sizeof(wchar_t), L'\0');
    if (!text.empty()) memcpy(&text[0], bytes.data(), text.size() * sizeof(wchar_t));
    return text;
}

} // namespace

std::wstring StoredValue::Units() const {
    std::wstring units((bytes.size() + 1) / sizeof(wchar_t), L'\0');
    if (!units.empty()) memcpy(&units[0], bytes.data(), bytes.size());
    return units;
}

DWORD StoredValue::Number() const {
    DWORD number = 0;
    if (bytes.size() == sizeof(number)) memcpy(&number, bytes.data(), sizeof(number));
    return number;
}

bool KeyExists(const std::wstring& subKey) { return static_cast<bool>(OpenKey(subKey, KEY_READ)); }

bool CreateKey(const std::wstring& subKey) {
    UniqueKey key;
    return ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_READ | KEY_WOW64_64KEY, nullptr, key.put(), nullptr) == ERROR_SUCCESS;
}

bool DeleteKey(const std::wstring& subKey) {
    ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, subKey.c_str());
    return !KeyExists(subKey);
}

bool ValueExists(const std::wstring& subKey, const std::wstring& name) { return ReadValue(subKey, name).exists; }

StoredValue ReadValue(const std::wstring& subKey, const std::wstring& name) {
    StoredValue value;
    UniqueKey key = OpenKey(subKey, KEY_QUERY_VALUE);
    if (!key) return value;
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (::RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return value;
    std::string bytes(size, '\0');
    if (size > 0 && ::RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&bytes[0]),
                                       &size) != ERROR_SUCCESS)
        return value;
    bytes.resize(size);
    value.exists = true;
    value.type = type;
    value.bytes = std::move(bytes);
    return value;
}

std::optional<std::wstring> ReadString(const std::wstring& subKey, const std::wstring& name) {
    const StoredValue value = ReadValue(subKey, name);
    if (!value.exists || value.type != REG_SZ) return std::nullopt;
    std::wstring text = WideFromBytes(value.bytes);
    const size_t end = text.find(L'\0');
    if (end != std::wstring::npos) text.resize(end);
    return text;
}

std::optional<DWORD> ReadDword(const std::wstring& subKey, const std::wstring& name) {
    const StoredValue value = ReadValue(subKey, name);
    if (!value.exists || value.type != REG_DWORD || value.bytes.size() != sizeof(DWORD)) return std::nullopt;
    return value.Number();
}

std::optional<std::vector<std::wstring>> ReadMultiString(const std::wstring& subKey, const std::wstring& name) {
    const StoredValue value = ReadValue(subKey, name);
    if (!value.exists || value.type != REG_MULTI_SZ) return std::nullopt;
    const std::wstring block = WideFromBytes(value.bytes);
    std::vector<std::wstring> strings;
    size_t start = 0;
    while (start < block.size()) {
        const size_t end = block.find(L'\0', start);
        const std::wstring item = block.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        if (item.empty()) break;
        strings.push_back(item);
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    return strings;
}

std::vector<std::wstring> ValueNames(const std::wstring& subKey) {
    std::vector<std::wstring> names;
    UniqueKey key = OpenKey(subKey, KEY_QUERY_VALUE);
    if (!key) return names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[16384];
        DWORD length = static_cast<DWORD>(std::size(name));
        if (::RegEnumValueW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool WriteValue(const std::wstring& subKey, const std::wstring& name, DWORD type, const void* data, DWORD size) {
    UniqueKey key;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
        return false;
    return ::RegSetValueExW(key.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
}

bool WriteString(const std::wstring& subKey, const std::wstring& name, const std::wstring& data) {
    return WriteValue(subKey, name, REG_SZ, data.c_str(), static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
}

bool WriteDword(const std::wstring& subKey, const std::wstring& name, DWORD data) {
    return WriteValue(subKey, name, REG_DWORD, &data, sizeof(data));
}

bool WriteMultiString(const std::wstring& subKey, const std::wstring& name, const std::vector<std::wstring>& strings) {
    const std::wstring units = MultiSzUnits(strings);
    return WriteValue(subKey, name, REG_MULTI_SZ, units.data(), static_cast<DWORD>(units.size() * sizeof(wchar_t)));
}

bool DeleteValue(const std::wstring& subKey, const std::wstring& name) {
    UniqueKey key = OpenKey(subKey, KEY_SET_VALUE);
    return key && ::RegDeleteValueW(key.get(), name.c_str()) == ERROR_SUCCESS;
}

std::wstring SzUnits(const std::wstring& text) { return text + std::wstring(1, L'\0'); }

std::wstring MultiSzUnits(const std::vector<std::wstring>& strings) {
    std::wstring units;
    for (const auto& s : strings) units += s + std::wstring(1, L'\0');
    if (strings.empty()) units += std::wstring(1, L'\0');
    units += std::wstring(1, L'\0');
    return units;
}

ValueGuard::ValueGuard(std::wstring subKey, std::wstring name)
    : subKey_(std::move(subKey)), name_(std::move(name)), saved_(ReadValue(subKey_, name_)) {}

ValueGuard::~ValueGuard() {
    if (saved_.exists) {
        WriteValue(subKey_, name_, saved_.type, saved_.bytes.data(), static_cast<DWORD>(saved_.bytes.size()));
    } else {
        DeleteValue(subKey_, name_);
    }
}

} // namespace hklm
