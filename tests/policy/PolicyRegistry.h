#pragma once
// What the policy tests read back from HKLM, and configuration documents written for them.
#include <windows.h>
#include <shlwapi.h>
#include <gtest/gtest.h>
#include <cstring>
#include <memory>
#include <string>
#include <vector>
#include "engine/InstallContext.h"
#include "policy/Configuration.h"
#include "policy/InstallOverrideTable.h"
#include "shell/Handles.h"
#include "support/TestFiles.h"
#include "xml/Binding.h"

namespace policytest {

inline const wchar_t kRoot[] = L"SOFTWARE\\Norvex\\Coravel";
inline const wchar_t kOas[] = L"SOFTWARE\\Norvex\\Coravel\\OAS\\DEFAULT";
inline const wchar_t kGlobal[] = L"SOFTWARE\\Norvex\\Coravel\\BULWARKGLOBAL\\GLOBAL";
inline const wchar_t kBulwarkGlobal[] = L"SOFTWARE\\Norvex\\Coravel\\BULWARKGLOBAL\\BULWARKGLOBAL";

struct StoredValue {
    bool exists = false;
    DWORD type = REG_NONE;
    std::wstring units;   // the stored bytes as UTF-16 units, terminators included

    DWORD Number() const {
        DWORD number = 0;
        if (units.size() * sizeof(wchar_t) >= sizeof(number)) memcpy(&number, units.data(), sizeof(number));
        return number;
    }
};

inline StoredValue ReadStored(const std::wstring& subKey, const std::wstring& name) {
    StoredValue value;
    UniqueKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return value;
    DWORD size = 0;
    if (::RegQueryValueExW(key.get(), name.c_str(), nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS) return value;
    std::vector<BYTE> bytes(size + sizeof(wchar_t));
    if (::RegQueryValueExW(key.get(), name.c_str(), nullptr, &value.type, bytes.data(), &size) != ERROR_SUCCESS) return value;
    value.exists = true;
    value.units.assign(reinterpret_cast<const wchar_t*>(bytes.data()), (size + 1) / sizeof(wchar_t));
    return value;
}

// The value names a key holds.
inline std::vector<std::wstring> ValueNames(const std::wstring& subKey) {
    std::vector<std::wstring> names;
    UniqueKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256] = {};
        DWORD length = 256;
        if (::RegEnumValueW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    return names;
}

inline bool KeyPresent(const std::wstring& subKey) {
    UniqueKey key;
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

inline void WriteStored(const std::wstring& subKey, const std::wstring& name, DWORD type, const void* data, DWORD size) {
    UniqueKey key;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr), ERROR_SUCCESS);
    ASSERT_EQ(::RegSetValueExW(key.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
}

inline void WriteString(const std::wstring& subKey, const std::wstring& name, const std::wstring& text) {
    WriteStored(subKey, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

inline void WriteNumber(const std::wstring& subKey, const std::wstring& name, DWORD number) {
    WriteStored(subKey, name, REG_DWORD, &number, sizeof(number));
}

// The units of a REG_SZ value: the text and its terminator.
inline std::wstring Sz(const std::wstring& text) {
    return text + std::wstring(1, L'\0');
}

// The units of a REG_MULTI_SZ value: each string with its NUL, then the closing NUL.
inline std::wstring MultiSz(const std::vector<std::wstring>& strings) {
    std::wstring units;
    for (const auto& s : strings) units += s + std::wstring(1, L'\0');
    if (strings.empty()) units += std::wstring(1, L'\0');
    units += std::wstring(1, L'\0');
    return units;
}

inline std::wstring Expand(const std::wstring& text) {
    wchar_t buffer[1024] = {};
    ::ExpandEnvironmentStringsW(text.c_str(), buffer, 1024);
    return buffer;
}

// A configuration document with this content below its root, bound. Empty when it does not load
// or validate; `error` then holds the reason.
inline std::unique_ptr<Configuration> LoadConfiguration(const std::wstring& body, std::wstring* error = nullptr) {
    TempDir directory(L"cfg");
    const std::wstring path = directory / L"configuration.xml";
    const std::wstring text = L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Configuration schemaVersion=\"1.1\">\n" + body +
                              L"\n</Configuration>\n";
    if (!WriteTextFile(path, text)) return nullptr;
    auto configuration = std::make_unique<Configuration>();
    std::wstring reason;
    if (!Deserialize(path, *configuration, reason)) {
        if (error) *error = reason;
        return nullptr;
    }
    return configuration;
}

// Every test starts and ends without the policy root, the process-wide overrides or context.
class PolicyRegistryTest : public testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }

    static void Clean() {
        ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, kRoot);
        ResetInstallContext();
        InstallOverrideTable::ClearForTests();
    }
};

} // namespace policytest
