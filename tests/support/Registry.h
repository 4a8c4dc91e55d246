#pragma once
// Keys and values under HKEY_LOCAL_MACHINE (the 64-bit view), as tests set up the machine and
// look at it afterwards. Sub-keys are given without the root: L"SOFTWARE\\Norvex\\Coravel".
#include <windows.h>
#include <optional>
#include <string>
#include <vector>

namespace hklm {

// A value as stored: its type and its bytes.
struct StoredValue {
    bool exists = false;
    DWORD type = REG_NONE;
    std::string bytes;

    // The bytes as UTF-16 units, terminators included (an odd last byte makes a unit of its own).
    std::wstring Units() const;
    // The bytes as a number when there are exactly four; 0 otherwise.
    DWORD Number() const;
};

bool KeyExists(const std::wstring& subKey);
// Creates the key and its missing parents; true when it exists afterwards.
bool CreateKey(const std::wstring& subKey);
// Deletes the key with everything below it; true when it is gone afterwards.
bool DeleteKey(const std::wstring& subKey);

bool ValueExists(const std::wstring& subKey, const std::wstring& name);
// Any value; `exists` is false (no type, no bytes) when the key or the value cannot be read.
StoredValue ReadValue(const std::wstring& subKey, const std::wstring& name);
// A REG_SZ value up to its first NUL; nothing for another type.
std::optional<std::wstring> ReadString(const std::wstring& subKey, const std::wstring& name);
// A REG_DWORD value of four bytes; nothing otherwise.
std::optional<DWORD> ReadDword(const std::wstring& subKey, const std::wstring& name);
// The strings of a REG_MULTI_SZ value, up to the first empty one; nothing for another type.
std::optional<std::vector<std::wstring>> ReadMultiString(const std::wstring& subKey, const std::wstring& name);
// Names of the key's values, sorted; empty when the key cannot be opened.
std::vector<std::wstring> ValueNames(const std::wstring& subKey);

// Writers create the key when it is missing; true on success.
bool WriteValue(const std::wstring& subKey, const std::wstring& name, DWORD type, const void* data, DWORD size);
bool WriteString(const std::wstring& subKey, const std::wstring& name, const std::wstring& data);   // with its NUL
bool WriteDword(const std::wstring& subKey, const std::wstring& name, DWORD data);
// Each string with its NUL, then the closing NUL.
bool WriteMultiString(const std::wstring& subKey, const std::wstring& name, const std::vector<std::wstring>& strings);
bool DeleteValue(const std::wstring& subKey, const std::wstring& name);

// The units of a REG_SZ value as stored: the text and its terminator.
std::wstring SzUnits(const std::wstring& text);
// The units of a REG_MULTI_SZ value as stored: each string with its NUL, then the closing NUL
// (an empty list is two NULs).
std::wstring MultiSzUnits(const std::vector<std::wstring>& strings);

// Puts one value back as it was when the guard was made (written again, or deleted when it did
// not exist), e.g. the machine's restart-time rename list around a test that schedules renames.
class ValueGuard {
public:
    ValueGuard(std::wstring subKey, std::wstring name);
    ~ValueGuard();
    ValueGuard(const ValueGuard&) = delete;
    ValueGuard& operator=(const ValueGuard&) = delete;

private:
    std::wstring subKey_;
    std::wstring name_;
    StoredValue saved_;
};

} // namespace hklm
