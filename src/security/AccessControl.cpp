#include "security/AccessControl.h"

#include <windows.h>
#include <sddl.h>

#include "shell/AVException.h"
#include "shell/Log.h"

static const char kLogModule[] = ".\\InstallHelper";

void AccessControl::ConvertSddlToSecurityDescriptor(const std::wstring& sddl, SecurityDescriptorHolder& holder) {
    holder.reset();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
        throw AVException("Failed to SDDL string to Security Descriptor", ::GetLastError(), __LINE__, "AccessControl");
    }
    holder.reset(descriptor);
}

bool IsValidSddl(const std::wstring& sddl) {
    try {
        SecurityDescriptorHolder holder;
        AccessControl::ConvertSddlToSecurityDescriptor(sddl, holder);
        return true;
    } catch (const AVException&) {
        return false;
    }
}

std::wstring GetDefaultOASSecurityDescriptor() {
    FunctionScope scope(kLogModule, "GetDefaultOASSecurityDescriptor");
    // Standard rights (delete, read control, write DAC, write owner, synchronize); the deny
    // entries come first.
    return std::wstring(L"O:BAG:BAD:") + L"(D;;0x001F0000;;;AN)" + L"(D;;0x001F0000;;;BG)" + L"(A;;0x001F0000;;;WD)";
}

std::wstring GetDefaultConfigSecurityDescriptor() {
    FunctionScope scope(kLogModule, "GetDefaultConfigSecurityDescriptor");
    return std::wstring(L"O:BAG:BAD:") + L"(A;;0x001F0000;;;BA)";
}
