#pragma once
// The restart-time rename list of the machine: saved before a test, put back after it, and read
// as the pairs the test scheduled.
#include <windows.h>
#include <cstring>
#include <string>
#include <utility>
#include <vector>
#include "operations/RegistryHelpers.h"
#include "shell/Handles.h"

constexpr wchar_t kSessionManagerKey[] = L"System\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingRenamesValue[] = L"PendingFileRenameOperations";

// The raw REG_MULTI_SZ units, one entry per NUL-separated item, empty items kept (an empty
// target marks a deletion).
inline std::vector<std::wstring> PendingRenameItems() {
    std::vector<std::wstring> items;
    UniqueKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return items;
    std::vector<BYTE> data;
    DWORD size = 0;
    if (!ReadRawValue(key.get(), kPendingRenamesValue, data, size)) return items;
    std::wstring units(size / sizeof(wchar_t), L'\0');
    if (!units.empty()) memcpy(&units[0], data.data(), units.size() * sizeof(wchar_t));
    while (!units.empty() && units.back() == L'\0') units.pop_back();
    size_t start = 0;
    for (;;) {
        const size_t end = units.find(L'\0', start);
        items.push_back(units.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    if (items.size() % 2 == 1) items.push_back(L"");   // the last deletion's empty target
    return items;
}

// Whether the list schedules `from` to become `to` (empty `to`: deletion).
inline bool HasPendingRename(const std::wstring& from, const std::wstring& to) {
    const auto items = PendingRenameItems();
    for (size_t i = 0; i + 1 < items.size(); i += 2) {
        const bool sameFrom = items[i] == L"\\??\\" + from;
        const bool sameTo = to.empty() ? items[i + 1].empty() : (items[i + 1] == L"\\??\\" + to || items[i + 1] == L"!\\??\\" + to);
        if (sameFrom && sameTo) return true;
    }
    return false;
}

inline bool AnyPendingRenameMentions(const std::wstring& path) {
    for (const auto& item : PendingRenameItems()) {
        if (item.find(path) != std::wstring::npos) return true;
    }
    return false;
}

// Puts the list back as it was when the guard was made.
class PendingRenamesGuard {
public:
    PendingRenamesGuard() {
        UniqueKey key;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_READ, key.put()) == ERROR_SUCCESS) {
            DWORD size = 0;
            existed_ = ReadRawValue(key.get(), kPendingRenamesValue, data_, size);
            data_.resize(size);
        }
    }
    ~PendingRenamesGuard() {
        UniqueKey key;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) return;
        if (existed_) {
            ::RegSetValueExW(key.get(), kPendingRenamesValue, 0, REG_MULTI_SZ, data_.data(), static_cast<DWORD>(data_.size()));
        } else {
            ::RegDeleteValueW(key.get(), kPendingRenamesValue);
        }
    }
    PendingRenamesGuard(const PendingRenamesGuard&) = delete;
    PendingRenamesGuard& operator=(const PendingRenamesGuard&) = delete;

private:
    bool existed_ = false;
    std::vector<BYTE> data_;
};
