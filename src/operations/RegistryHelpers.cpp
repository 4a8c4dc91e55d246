#include "operations/RegistryHelpers.h"

#include <cstring>
#include "shell/Handles.h"

DWORD ParseKeyPath(const std::wstring& keyPath, HKEY& root, std::wstring& subKey) {
    const size_t slash = keyPath.find(L'\\');
    if (slash == std::wstring::npos) return ERROR_NO_MATCH;
    struct Root { const wchar_t* name; HKEY key; };
    const Root roots[] = {
        { L"HKLM", HKEY_LOCAL_MACHINE },
        { L"HKCR", HKEY_CLASSES_ROOT },
        { L"HKCC", HKEY_CURRENT_CONFIG },
        { L"HKU", HKEY_USERS },
        { L"HKCU", HKEY_CURRENT_USER },
    };
    const std::wstring name = keyPath.substr(0, slash);
    for (const auto& candidate : roots) {
        if (name == candidate.name) {
            root = candidate.key;
            subKey = keyPath.substr(slash + 1);
            return ERROR_SUCCESS;
        }
    }
    return ERROR_NO_MATCH;
}

bool KeyExists(HKEY root, const std::wstring& subKey) {
    UniqueKey key;
    return ::RegOpenKeyW(root, subKey.c_str(), key.put()) == ERROR_SUCCESS;
}

bool KeyOpensWithFullAccess(HKEY root, const std::wstring& subKey) {
    UniqueKey key;
    return ::RegOpenKeyExW(root, subKey.c_str(), 0, KEY_ALL_ACCESS, key.put()) == ERROR_SUCCESS;
}

bool ValueExists(HKEY key, const std::wstring& name) {
    return ::RegQueryValueExW(key, name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool ReadRawValue(HKEY key, const std::wstring& name, std::vector<BYTE>& data, DWORD& size) {
    DWORD needed = 0;
    if (::RegQueryValueExW(key, name.c_str(), nullptr, nullptr, nullptr, &needed) != ERROR_SUCCESS) return false;
    if (needed == 0) {
        data.clear();
        size = 0;
        return true;
    }
    data.assign(needed, 0);
    DWORD read = needed;
    const LSTATUS status = ::RegQueryValueExW(key, name.c_str(), nullptr, nullptr, data.data(), &read);
    size = read;
    return status == ERROR_SUCCESS;
}

bool ReadDwordValue(HKEY key, const std::wstring& name, DWORD& value) {
    std::vector<BYTE> data;
    DWORD size = 0;
    const bool read = ReadRawValue(key, name, data, size);
    if (read && size == sizeof(DWORD)) std::memcpy(&value, data.data(), sizeof(DWORD));
    return read;
}

bool ReadStringValue(HKEY key, const std::wstring& name, std::wstring& value) {
    std::vector<BYTE> data;
    DWORD size = 0;
    const bool read = ReadRawValue(key, name, data, size);
    if (read && size >= sizeof(wchar_t)) {
        std::wstring text(size / sizeof(wchar_t), L'\0');
        std::memcpy(&text[0], data.data(), text.size() * sizeof(wchar_t));
        if (text.back() == L'\0') text.pop_back();
        value = text;
    }
    return read;
}

bool ReadMultiStringValue(HKEY key, const std::wstring& name, std::vector<std::wstring>& values) {
    std::vector<BYTE> data;
    DWORD size = 0;
    const bool read = ReadRawValue(key, name, data, size);
    if (read && size > 0) {
        for (auto& item : DecodeMultiSz(data.data(), size)) values.push_back(std::move(item));
    }
    return read;
}

std::wstring EncodeMultiSzText(const std::wstring& text) {
    std::wstring units;
    units.reserve(text.size() + 2);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\\' && i + 1 < text.size() && text[i + 1] == L'0') {
            units.push_back(L'\0');
            ++i;
        } else {
            units.push_back(text[i]);
        }
    }
    units.push_back(L'\0');
    units.push_back(L'\0');
    return units;
}

std::vector<std::wstring> DecodeMultiSz(const BYTE* data, size_t size) {
    std::vector<std::wstring> items;
    const size_t count = size / sizeof(wchar_t);
    std::wstring current;
    for (size_t i = 0; i < count; ++i) {
        wchar_t unit;
        std::memcpy(&unit, data + i * sizeof(wchar_t), sizeof(wchar_t));
        if (unit == L'\0') {
            if (!current.empty()) items.push_back(current);
            current.clear();
        } else {
            current.push_back(unit);
        }
    }
    // A last string without its NUL still counts.
    if (!current.empty()) items.push_back(current);
    return items;
}

std::wstring JoinMultiSzText(const std::vector<std::wstring>& items) {
    std::wstring text;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0) text += L"\\0";
        text += items[i];
    }
    return text;
}
