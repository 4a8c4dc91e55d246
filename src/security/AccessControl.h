#pragma once
// The security descriptors of the engine's clients as SDDL text: the two defaults and the check
// of a text given on the command line.
#include <windows.h>
#include <string>
#include "shell/Handles.h"

// A self-relative security descriptor allocated by the system; freed with LocalFree.
class SecurityDescriptorHolder {
public:
    PSECURITY_DESCRIPTOR get() const { return static_cast<PSECURITY_DESCRIPTOR>(descriptor_.get()); }
    explicit operator bool() const { return static_cast<bool>(descriptor_); }
    void reset() { descriptor_.reset(); }
    // Takes over a descriptor the system allocated with LocalAlloc.
    void reset(PSECURITY_DESCRIPTOR descriptor) { descriptor_.reset(static_cast<HLOCAL>(descriptor)); }

private:
    UniqueLocal descriptor_;
};

namespace AccessControl {
// Frees what `holder` owns, then converts `sddl` into it. Raises AVException("Failed to SDDL
// string to Security Descriptor", last error, source "AccessControl") when the text does not
// convert.
void ConvertSddlToSecurityDescriptor(const std::wstring& sddl, SecurityDescriptorHolder& holder);
} // namespace AccessControl

// The shape of the SDDL grammar: owner, group, DACL and SACL parts ("O:", "G:", "D:", "S:"),
// each at most once, SIDs as aliases or "S-1-..." texts, ACEs in balanced parentheses with their
// six fields, printable characters only. Pure; the system's conversion sees only such texts.
bool IsWellFormedSddl(const std::wstring& sddl);

// True when `sddl` converts to a security descriptor.
bool IsValidSddl(const std::wstring& sddl);

// Real-time scanning clients: denied to anonymous logons and built-in guests, allowed to everyone.
std::wstring GetDefaultOASSecurityDescriptor();
// Configuration clients: allowed to built-in Administrators only.
std::wstring GetDefaultConfigSecurityDescriptor();
