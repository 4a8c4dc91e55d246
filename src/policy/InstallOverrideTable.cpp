#include "policy/InstallOverrideTable.h"

#include <map>

namespace {
std::map<std::wstring, std::wstring>& Table() {
    static std::map<std::wstring, std::wstring> table;
    return table;
}
} // namespace

namespace InstallOverrideTable {

void Record(const std::wstring& name, const std::wstring& value) {
    Table().emplace(name, value);
}

bool HasOverride(const std::wstring& name) {
    const auto found = Table().find(name);
    return found != Table().end() && !found->second.empty();
}

std::wstring GetOverride(const std::wstring& name) {
    const auto found = Table().find(name);
    return found == Table().end() ? std::wstring() : found->second;
}

void ClearForTests() {
    Table().clear();
}

} // namespace InstallOverrideTable
