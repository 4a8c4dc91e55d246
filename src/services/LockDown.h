#pragma once
// The engine's scanner service guards itself with a restrictive DACL on its service object (its
// lockdown). Before a stop the installer replaces that DACL with a standard one.
#include <windows.h>
#include <array>
#include <string>
#include <vector>

namespace LockDown {

// Well-known SIDs of an access table, by index: 1 LocalSystem, 2 Creator Owner, 3 Administrators,
// 4 Authenticated Users, 5 Everyone, 6 the current user. Index 0 ends a table.
enum SidIndex : DWORD {
    kEndOfTable = 0,
    kLocalSystem = 1,
    kCreatorOwner = 2,
    kAdministrators = 3,
    kAuthenticatedUsers = 4,
    kEveryone = 5,
    kCurrentUser = 6,
};
constexpr size_t kSidCount = 7;   // index 0 unused

// SERVICE_READ: STANDARD_RIGHTS_READ with query config, query status, interrogate and enumerate
// dependents (not in every SDK's headers).
constexpr DWORD kServiceRead = 0x2008D;

struct AccessEntry {
    DWORD sidIndex;
    BYTE allow;       // 1 allow, 0 deny
    BYTE aceFlags;
    DWORD accessMask;
};

// The table that lifts the lockdown: full access for LocalSystem and Administrators, read access
// for Authenticated Users.
extern const AccessEntry kUnlockTable[];

// The DACL of an access table: an ACL of revision 2 sized 8 bytes plus, per entry, 12 bytes and
// the SID's length; every deny entry in table order, then every allow entry in table order.
// `sids[i]` is the SID of index i. 0, or the error of the ACL call that failed.
DWORD BuildAccessTableAcl(const AccessEntry* table, const std::array<PSID, kSidCount>& sids, std::vector<BYTE>& acl);

// Replaces the service's DACL by kUnlockTable's: the take-ownership privilege, Administrators
// made owner for the change, the previous owner given back afterwards. 0, or the Win32 code of
// the failing step. Raises AVException when the privilege cannot be enabled or the service
// cannot be opened ("Unable To Open Service Handle.").
DWORD Unlock(const std::wstring& serviceName);

} // namespace LockDown
