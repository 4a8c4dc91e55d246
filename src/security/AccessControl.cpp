#include "security/AccessControl.h"

#include <windows.h>
#include <sddl.h>

#include "shell/AVException.h"
#include "shell/Log.h"

static const char kLogModule[] = ".\\InstallHelper";

namespace {

bool IsTagAt(const std::wstring& text, size_t at) {
    if (at + 1 >= text.size() || text[at + 1] != L':') return false;
    const wchar_t c = text[at];
    return c == L'O' || c == L'G' || c == L'D' || c == L'S';
}

bool IsSidCharacter(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'-';
}

// One ACE from its "(" on: balanced parentheses (conditional expressions nest), at least the five
// ";" of its six fields at the outer level. `at` moves past the closing ")".
bool ReadAce(const std::wstring& text, size_t& at) {
    int depth = 0;
    int separators = 0;
    for (; at < text.size(); ++at) {
        const wchar_t c = text[at];
        if (c == L'(') {
            ++depth;
        } else if (c == L')') {
            if (--depth == 0) {
                ++at;
                return separators >= 5;
            }
        } else if (c == L';' && depth == 1) {
            ++separators;
        }
    }
    return false;
}

} // namespace

bool IsWellFormedSddl(const std::wstring& sddl) {
    if (sddl.empty()) return true;   // the conversion decides, as for any text it accepts
    for (const wchar_t c : sddl) {
        if (c < 0x20 || c > 0x7E) return false;
    }
    if (sddl.find(L"::") != std::wstring::npos) return false;
    bool seen[4] = {};
    size_t at = 0;
    while (at < sddl.size()) {
        if (!IsTagAt(sddl, at)) return false;
        const wchar_t tag = sddl[at];
        const size_t index = tag == L'O' ? 0 : tag == L'G' ? 1 : tag == L'D' ? 2 : 3;
        if (seen[index]) return false;
        seen[index] = true;
        at += 2;
        if (tag == L'O' || tag == L'G') {
            const size_t start = at;
            while (at < sddl.size() && !IsTagAt(sddl, at)) {
                if (!IsSidCharacter(sddl[at])) return false;
                ++at;
            }
            if (at == start) return false;
            continue;
        }
        // DACL or SACL: flags ("P", "AI", "AR", ...), then the ACEs.
        while (at < sddl.size() && sddl[at] != L'(' && !IsTagAt(sddl, at)) {
            if (!((sddl[at] >= L'A' && sddl[at] <= L'Z') || sddl[at] == L'_')) return false;
            ++at;
        }
        while (at < sddl.size() && sddl[at] == L'(') {
            if (!ReadAce(sddl, at)) return false;
        }
    }
    return true;
}

void AccessControl::ConvertSddlToSecurityDescriptor(const std::wstring& sddl, SecurityDescriptorHolder& holder) {
    holder.reset();
    // The system's conversion is not safe on every malformed text (some end the process): only
    // a text of the SDDL grammar's shape reaches it; any other fails as the conversion does for
    // text it cannot read.
    if (!IsWellFormedSddl(sddl)) {
        throw AVException("Failed to SDDL string to Security Descriptor", ERROR_INVALID_PARAMETER, __LINE__,
                          "AccessControl");
    }
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
