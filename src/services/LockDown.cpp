#include "services/LockDown.h"

#include <memory>
#include "security/SecurityHelper.h"
#include "services/ScmHelpers.h"
#include "shell/AVException.h"
#include "shell/Handles.h"
#include "shell/Result.h"

namespace LockDown {

const AccessEntry kUnlockTable[] = {
    { kLocalSystem, 1, 0, SERVICE_ALL_ACCESS },
    { kAdministrators, 1, 0, SERVICE_ALL_ACCESS },
    { kAuthenticatedUsers, 1, 0, kServiceRead },
    { kEndOfTable, 0, 0, 0 },
};

namespace {

const char kSourceFile[] = "LockDown";

struct FreeSid {
    void operator()(void* sid) const { ::FreeSid(sid); }
};
using UniqueSid = std::unique_ptr<void, FreeSid>;

// The SIDs of the six indices, each owned as a byte buffer.
class WellKnownSids {
public:
    WellKnownSids() {
        Make(kLocalSystem, WinLocalSystemSid);
        Make(kCreatorOwner, WinCreatorOwnerSid);
        Make(kAdministrators, WinBuiltinAdministratorsSid);
        Make(kAuthenticatedUsers, WinAuthenticatedUserSid);
        Make(kEveryone, WinWorldSid);
        MakeCurrentUser();
    }
    const std::array<PSID, kSidCount>& Sids() const { return sids_; }

private:
    void Make(DWORD index, WELL_KNOWN_SID_TYPE type) {
        DWORD size = SECURITY_MAX_SID_SIZE;
        buffers_[index].assign(size, 0);
        if (::CreateWellKnownSid(type, nullptr, buffers_[index].data(), &size)) sids_[index] = buffers_[index].data();
    }
    // The user of the thread's token, else of the process token, else a copy of Creator Owner.
    void MakeCurrentUser() {
        UniqueKernelHandle token;
        if (!::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, token.put()) &&
            !::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) {
            token.reset();
        }
        if (token) {
            DWORD size = 0;
            ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
            std::vector<BYTE> user(size);
            if (size > 0 && ::GetTokenInformation(token.get(), TokenUser, user.data(), size, &size)) {
                const PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
                buffers_[kCurrentUser].assign(static_cast<BYTE*>(sid), static_cast<BYTE*>(sid) + ::GetLengthSid(sid));
                sids_[kCurrentUser] = buffers_[kCurrentUser].data();
                return;
            }
        }
        if (sids_[kCreatorOwner]) {
            buffers_[kCurrentUser] = buffers_[kCreatorOwner];
            sids_[kCurrentUser] = buffers_[kCurrentUser].data();
        }
    }

    std::array<std::vector<BYTE>, kSidCount> buffers_;
    std::array<PSID, kSidCount> sids_{};
};

DWORD AddEntries(const AccessEntry* table, const std::array<PSID, kSidCount>& sids, PACL acl, BYTE kind) {
    for (const AccessEntry* entry = table; entry->sidIndex != kEndOfTable; ++entry) {
        if (entry->allow != kind) continue;
        const PSID sid = entry->sidIndex < kSidCount ? sids[entry->sidIndex] : nullptr;
        const BOOL added = kind ? ::AddAccessAllowedAceEx(acl, ACL_REVISION, entry->aceFlags, entry->accessMask, sid)
                                : ::AddAccessDeniedAceEx(acl, ACL_REVISION, entry->aceFlags, entry->accessMask, sid);
        if (!added) return ::GetLastError();
    }
    return ERROR_SUCCESS;
}

} // namespace

DWORD BuildAccessTableAcl(const AccessEntry* table, const std::array<PSID, kSidCount>& sids, std::vector<BYTE>& acl) {
    DWORD size = sizeof(ACL);
    for (const AccessEntry* entry = table; entry->sidIndex != kEndOfTable; ++entry) {
        const PSID sid = entry->sidIndex < kSidCount ? sids[entry->sidIndex] : nullptr;
        if (!sid || !::IsValidSid(sid)) return ERROR_INVALID_SID;
        size += 12 + ::GetLengthSid(sid);
    }
    acl.assign(size, 0);
    const PACL list = reinterpret_cast<PACL>(acl.data());
    if (!::InitializeAcl(list, size, ACL_REVISION)) return ::GetLastError();
    // Deny entries first: an allow entry before them would grant what they mean to refuse.
    DWORD result = AddEntries(table, sids, list, 0);
    if (result == ERROR_SUCCESS) result = AddEntries(table, sids, list, 1);
    return result;
}

DWORD Unlock(const std::wstring& serviceName) {
    const wchar_t* const privileges[] = { L"SeTakeOwnershipPrivilege" };
    SecurityHelper::EnablePrivileges(privileges, 1);

    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!::AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                    0, 0, &administrators)) {
        return ::GetLastError();
    }
    const UniqueSid administratorsOwner(administrators);

    SecurityHelper::ServiceOwner previousOwner;
    const DWORD ownerRead = SecurityHelper::GetOwnerForService(serviceName, previousOwner);
    const DWORD ownerChanged = SecurityHelper::SetOwnerForService(serviceName, administrators);
    if (ownerChanged != ERROR_SUCCESS) return ownerChanged;

    UniqueServiceHandle scm = OpenServiceManager(SC_MANAGER_CONNECT);
    UniqueServiceHandle service;
    if (scm) service.reset(::OpenServiceW(scm.get(), serviceName.c_str(), WRITE_DAC | WRITE_OWNER));
    if (!service) {
        const DWORD error = ::GetLastError();
        scm.reset();
        throw AVException("Unable To Open Service Handle.", error, __LINE__, kSourceFile);
    }

    const WellKnownSids sids;
    std::vector<BYTE> acl;
    DWORD result = BuildAccessTableAcl(kUnlockTable, sids.Sids(), acl);
    if (result == ERROR_SUCCESS) {
        SECURITY_DESCRIPTOR descriptor{};
        result = ResultFromBool(::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
        if (result == ERROR_SUCCESS)
            result = ResultFromBool(
                ::SetSecurityDescriptorDacl(&descriptor, TRUE, reinterpret_cast<PACL>(acl.data()), FALSE));
        if (result == ERROR_SUCCESS)
            result = ResultFromBool(::SetServiceObjectSecurity(service.get(), DACL_SECURITY_INFORMATION, &descriptor));
    }

    // The previous owner comes back whatever the DACL change gave.
    if (ownerRead == ERROR_SUCCESS && previousOwner.sid)
        SecurityHelper::SetOwnerForService(serviceName, previousOwner.sid);
    return result;
}

} // namespace LockDown
