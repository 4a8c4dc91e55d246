#pragma once
// Registry access shared by the registry elements and the install records. None of them logs.
#include <windows.h>
#include <string>
#include <vector>

// "HKLM\SOFTWARE\..." into its predefined root and sub-key: 0 or ERROR_NO_MATCH (1169).
DWORD ParseKeyPath(const std::wstring& keyPath, HKEY& root, std::wstring& subKey);

bool KeyExists(HKEY root, const std::wstring& subKey);
// The key opens with full access (KEY_ALL_ACCESS); it is closed again at once.
bool KeyOpensWithFullAccess(HKEY root, const std::wstring& subKey);
bool ValueExists(HKEY key, const std::wstring& name);
bool ReadRawValue(HKEY key, const std::wstring& name, std::vector<BYTE>& data, DWORD& size);
// True when the raw read succeeded; `value` is set only for data of exactly four bytes.
bool ReadDwordValue(HKEY key, const std::wstring& name, DWORD& value);
bool ReadStringValue(HKEY key, const std::wstring& name, std::wstring& value);
bool ReadMultiStringValue(HKEY key, const std::wstring& name, std::vector<std::wstring>& values);

// Pure forms of the multi-string texts.
// "a\0b" (the two characters backslash and zero as separator) into the REG_MULTI_SZ units,
// both final NULs included.
std::wstring EncodeMultiSzText(const std::wstring& text);
// REG_MULTI_SZ bytes into their non-empty strings.
std::vector<std::wstring> DecodeMultiSz(const BYTE* data, size_t size);
// Strings joined with the two characters "\0".
std::wstring JoinMultiSzText(const std::vector<std::wstring>& items);
