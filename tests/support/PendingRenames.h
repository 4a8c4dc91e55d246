#pragma once
// The machine's restart-time rename list: kept as it was around a test, and read as the pairs
// the test scheduled.
#include <windows.h>
#include <string>
#include <vector>
#include "support/Registry.h"

constexpr wchar_t kSessionManagerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingRenamesValue[] = L"PendingFileRenameOperations";

// The raw REG_MULTI_SZ units, one entry per NUL-separated item, empty items kept (an empty
// target marks a deletion).
inline std::vector<std::wstring> PendingRenameItems() {
    std::vector<std::wstring> items;
    const hklm::StoredValue value = hklm::ReadValue(kSessionManagerKey, kPendingRenamesValue);
    if (!value.exists) return items;
    std::wstring units = value.Units();
    if (value.bytes.size() % sizeof(wchar_t) != 0) units.pop_back();   // not half a character
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

// Puts the list back as it was when the guard was made: operations a test scheduled for a
// restart that did not happen must not reach later tests.
class PendingRenamesGuard {
public:
    PendingRenamesGuard() : value_(kSessionManagerKey, kPendingRenamesValue) {}

private:
    hklm::ValueGuard value_;
};
