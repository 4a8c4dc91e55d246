#pragma once
// Process privileges and the owner of a service object.
#include <windows.h>
#include <string>
#include "shell/Handles.h"

namespace SecurityHelper {

// The program's own error code for a privilege that cannot be enabled (compared exactly,
// case included); 0 for a name without one.
DWORD PrivilegeErrorCode(const std::wstring& privilegeName);

// "Error message : Failed to enable required privilege: <name>, Detailed Error code <code>",
// the code as a signed decimal. The whole text, however long the name.
std::string PrivilegeFailureMessage(const std::wstring& privilegeName);

// Enables each privilege on the process token in order. Raises AVException (the privilege's
// code, PrivilegeFailureMessage) at the first that cannot be enabled, ERROR_NOT_ALL_ASSIGNED
// included. A token that cannot be opened enables nothing and raises nothing.
void EnablePrivileges(const wchar_t* const* privilegeNames, size_t count);

// A service's owner SID, valid while this object lives (it owns the descriptor that holds it).
struct ServiceOwner {
    PSID sid = nullptr;
    UniqueLocal descriptor;
};
// GetNamedSecurityInfoW(SE_SERVICE, OWNER_SECURITY_INFORMATION): its Win32 code; `owner` is
// filled only on success.
DWORD GetOwnerForService(const std::wstring& serviceName, ServiceOwner& owner);
// SetNamedSecurityInfoW(SE_SERVICE, OWNER_SECURITY_INFORMATION): its Win32 code.
DWORD SetOwnerForService(const std::wstring& serviceName, PSID owner);

// The step that enables one privilege on an open token and gives its code (the last error after
// AdjustTokenPrivileges). Tests put a failing one in place to reach the failure path.
using PrivilegeEnabler = DWORD (*)(HANDLE token, const wchar_t* privilegeName);
DWORD EnablePrivilegeOnToken(HANDLE token, const wchar_t* privilegeName);
// Replaces the step (null puts EnablePrivilegeOnToken back). Tests only.
void SetPrivilegeEnablerForTests(PrivilegeEnabler enabler);

} // namespace SecurityHelper
