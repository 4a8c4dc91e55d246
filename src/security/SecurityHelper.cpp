#include "security/SecurityHelper.h"

#include <aclapi.h>
#include <cstdio>
#include <cstring>
#include <vector>
#include "shell/AVException.h"
#include "shell/Log.h"
#include "shell/Result.h"

namespace {

const char kSourceFile[] = "SecurityHelper";
// Trace events of this module (entry, exit, each privilege enabled): trace only.
const GUID kSecurityHelperMessageGuid = { 0x8E2F4C19, 0x61B7, 0x4A3D, { 0xB5, 0x0C, 0x27, 0xD9, 0x3E, 0x84, 0x1F, 0x6A } };
const USHORT kEntryMessage = 1;
const USHORT kExitMessage = 2;
const USHORT kPrivilegeEnabledMessage = 3;

SecurityHelper::PrivilegeEnabler g_enabler = nullptr;

class TraceScope {
public:
    explicit TraceScope(const char* name) : name_(name) {
        TraceOwnMessage(kSecurityHelperMessageGuid, kEntryMessage, LogLevel::Detail, "Entered function", name_);
    }
    ~TraceScope() { TraceOwnMessage(kSecurityHelperMessageGuid, kExitMessage, LogLevel::Detail, "Exiting function", name_); }
    TraceScope(const TraceScope&) = delete;
    TraceScope& operator=(const TraceScope&) = delete;

private:
    const char* name_;
};

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return {};
    const int bytes = ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                            nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0)
        ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], bytes, nullptr, nullptr);
    return out;
}

} // namespace

namespace SecurityHelper {

DWORD PrivilegeErrorCode(const std::wstring& privilegeName) {
    struct Entry { const wchar_t* name; DWORD code; };
    static const Entry kCodes[] = {
        { L"SeTcbPrivilege", 0xA7F4022B },
        { L"SeBackupPrivilege", 0xA7F4022B },
        { L"SeRestorePrivilege", 0xA7F4022D },
        { L"SeTakeOwnershipPrivilege", 0xA7F4022E },
        { L"SeDebugPrivilege", 0xA7F40234 },
    };
    for (const auto& entry : kCodes) {
        if (privilegeName == entry.name) return entry.code;
    }
    return 0;
}

std::string PrivilegeFailureMessage(const std::wstring& privilegeName) {
    const int code = static_cast<int>(PrivilegeErrorCode(privilegeName));
    char number[16] = {};
    std::snprintf(number, sizeof(number), "%d", code);
    return std::string("Error message :") + " " + "Failed to enable required privilege" + ": " + Narrow(privilegeName) +
           ", Detailed Error code " + number;
}

DWORD EnablePrivilegeOnToken(HANDLE token, const wchar_t* privilegeName) {
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!::LookupPrivilegeValueW(nullptr, privilegeName, &privileges.Privileges[0].Luid)) return ::GetLastError();
    ::SetLastError(ERROR_SUCCESS);
    ::AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    // ERROR_NOT_ALL_ASSIGNED comes with a TRUE result: the last error decides.
    return ::GetLastError();
}

void SetPrivilegeEnablerForTests(PrivilegeEnabler enabler) { g_enabler = enabler; }

void EnablePrivileges(const wchar_t* const* privilegeNames, size_t count) {
    TraceScope trace("SecurityHelper::EnablePrivileges");
    UniqueKernelHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) return;
    const PrivilegeEnabler enable = g_enabler ? g_enabler : &EnablePrivilegeOnToken;
    for (size_t i = 0; i < count; ++i) {
        const std::wstring name = privilegeNames[i];
        if (enable(token.get(), name.c_str()) != ERROR_SUCCESS) {
            throw AVException(PrivilegeFailureMessage(name), PrivilegeErrorCode(name), __LINE__, kSourceFile);
        }
        const std::string narrowName = Narrow(name);
        TraceOwnMessage(kSecurityHelperMessageGuid, kPrivilegeEnabledMessage, LogLevel::Detail, "Enabled privilege",
                        narrowName.c_str());
    }
}

DWORD GetOwnerForService(const std::wstring& serviceName, ServiceOwner& owner) {
    TraceScope trace("SecurityHelper::GetOwnerForService");
    PSID sid = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD result = ::GetNamedSecurityInfoW(serviceName.c_str(), SE_SERVICE, OWNER_SECURITY_INFORMATION, &sid,
                                                 nullptr, nullptr, nullptr, &descriptor);
    if (result != ERROR_SUCCESS) {
        if (descriptor) ::LocalFree(descriptor);
        return result;
    }
    owner.descriptor.reset(descriptor);
    owner.sid = sid;
    return ERROR_SUCCESS;
}

DWORD SetOwnerForService(const std::wstring& serviceName, PSID owner) {
    TraceScope trace("SecurityHelper::SetOwnerForService");
    std::wstring name = serviceName;   // the API takes a writable pointer
    return ::SetNamedSecurityInfoW(&name[0], SE_SERVICE, OWNER_SECURITY_INFORMATION, owner, nullptr, nullptr, nullptr);
}

} // namespace SecurityHelper
