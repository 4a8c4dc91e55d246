#include "pkgtool/InfSections.h"

#include <windows.h>
#include <cwctype>
#include "drivers/DriverInf.h"

namespace {

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

std::wstring Trim(const std::wstring& text) {
    const size_t first = text.find_first_not_of(L" \t\r\n");
    if (first == std::wstring::npos) return L"";
    const size_t last = text.find_last_not_of(L" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::wstring WithoutComment(const std::wstring& line) {
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == L'"') quoted = !quoted;
        else if (line[i] == L';' && !quoted) return line.substr(0, i);
    }
    return line;
}

std::wstring Unquoted(const std::wstring& text) {
    if (text.size() >= 2 && text.front() == L'"' && text.back() == L'"') return text.substr(1, text.size() - 2);
    return text;
}

const std::vector<std::wstring> kNoLines;

} // namespace

bool InfSections::Has(const std::wstring& name) const { return sections.count(Lower(name)) != 0; }

const std::vector<std::wstring>& InfSections::Lines(const std::wstring& name) const {
    const auto found = sections.find(Lower(name));
    return found == sections.end() ? kNoLines : found->second;
}

std::wstring InfSections::Value(const std::wstring& section, const std::wstring& key) const {
    for (const auto& line : Lines(section)) {
        const size_t equals = line.find(L'=');
        if (equals == std::wstring::npos) continue;
        if (Lower(Trim(line.substr(0, equals))) == Lower(key)) return Unquoted(Trim(line.substr(equals + 1)));
    }
    return L"";
}

InfSections ParseInfText(const std::wstring& text) {
    InfSections inf;
    std::vector<std::wstring>* current = nullptr;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        const std::wstring line = Trim(WithoutComment(text.substr(start, end - start)));
        start = end + 1;
        if (line.empty()) continue;
        if (line.front() == L'[') {
            const size_t close = line.find(L']');
            const std::wstring name = Lower(Trim(line.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1)));
            current = &inf.sections[name];
            continue;
        }
        if (current) current->push_back(line);
    }
    return inf;
}

InfNeededSections NeededInfSections(const std::wstring& platform) {
    const InfCommands commands = InfCommandsFor(platform);
    return {SectionOfArguments(commands.installArguments), commands.installServicesSection,
            SectionOfArguments(commands.uninstallArguments), commands.uninstallServicesSection};
}

std::wstring SectionOfArguments(const std::string& arguments) {
    // The arguments follow the INF path: ",section,cabinet,flags".
    const size_t first = arguments.find(',');
    if (first == std::string::npos) return L"DefaultInstall";
    const size_t second = arguments.find(',', first + 1);
    const std::string section = arguments.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
    if (section.empty()) return L"DefaultInstall";
    return std::wstring(section.begin(), section.end());
}

bool SectionReferences(const InfSections& inf, const std::wstring& section, const std::wstring& target) {
    for (const auto& line : inf.Lines(section)) {
        const size_t equals = line.find(L'=');
        if (equals == std::wstring::npos) continue;
        const std::wstring directive = Lower(Trim(line.substr(0, equals)));
        if (directive != L"addreg" && directive != L"delreg") continue;
        std::wstring list = line.substr(equals + 1);
        size_t at = 0;
        while (at <= list.size()) {
            size_t comma = list.find(L',', at);
            if (comma == std::wstring::npos) comma = list.size();
            if (Lower(Trim(list.substr(at, comma - at))) == Lower(target)) return true;
            at = comma + 1;
        }
    }
    return false;
}
