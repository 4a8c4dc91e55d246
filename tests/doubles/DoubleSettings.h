#pragma once
// Where the test doubles read the behaviour a test chose for them and record what they saw:
// HKEY_LOCAL_MACHINE\SOFTWARE\InstallerTestDoubles\<double>. Header-only, shared by the doubles.
#include <windows.h>
#include <string>

namespace doubles {

inline const wchar_t* SettingsRoot() { return L"SOFTWARE\\InstallerTestDoubles"; }

inline std::wstring ReadText(const std::wstring& subKey, const wchar_t* name, const std::wstring& fallback) {
    wchar_t buffer[1024] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    const std::wstring key = std::wstring(SettingsRoot()) + L"\\" + subKey;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return fallback;
    return buffer;
}

inline DWORD ReadNumber(const std::wstring& subKey, const wchar_t* name, DWORD fallback) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    const std::wstring key = std::wstring(SettingsRoot()) + L"\\" + subKey;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
        return fallback;
    return value;
}

// Appends `entry` and a ";" to the text value `name`.
inline void Append(const std::wstring& subKey, const wchar_t* name, const std::wstring& entry) {
    const std::wstring text = ReadText(subKey, name, L"") + entry + L";";
    const std::wstring key = std::wstring(SettingsRoot()) + L"\\" + subKey;
    HKEY handle = nullptr;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr,
                          &handle, nullptr) != ERROR_SUCCESS)
        return;
    ::RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(handle);
}

} // namespace doubles
