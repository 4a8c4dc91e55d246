#pragma once
// Process-wide table of install overrides recorded from the configuration document, read by the
// registry value writer and the service starter.
#include <string>

namespace InstallOverrideTable {
// Records the pair unless the name is already present (the first value recorded stays).
void Record(const std::wstring& name, const std::wstring& value);
// True when the name is present with a non-empty value.
bool HasOverride(const std::wstring& name);
// The value, or the empty string.
std::wstring GetOverride(const std::wstring& name);
// Empties the table (tests only).
void ClearForTests();
} // namespace InstallOverrideTable
