#include "drivers/DriverInf.h"

#include <cwchar>
#include "shell/Text.h"

InfCommands InfCommandsFor(const std::wstring& platform) {
    if (platform == L"x86") {
        return {",,,36", L"DefaultInstall.Services", ",DefaultUninstall,,36", L"DefaultUninstall.Services"};
    }
    return {",DefaultInstall.NTamd64,,36", L"DefaultInstall.NTamd64.Services", ",DefaultUninstall.NTamd64,,36",
            L"DefaultUninstall.NTamd64.Services"};
}

std::string InfCommandLine(const std::wstring& infPath, const std::string& arguments) {
    const std::string path = Utf8FromUtf16(infPath);
    const bool quote = infPath.find_first_of(L" \t,") != std::wstring::npos;
    return quote ? "\"" + path + "\"" + arguments : path + arguments;
}

std::wstring AddRegTypeName(const std::wstring& flags) {
    if (flags == L"0x00010001") return L"DWORD";
    if (flags == L"0x00010000") return L"MULTI_SZ";
    if (flags == L"0x00000000") return L"SZ";
    return L"";
}

std::wstring ReplaceInfStrings(const std::wstring& field, const InfStringLookup& lookup) {
    std::wstring result;
    size_t position = 0;
    while (position < field.size()) {
        const size_t open = field.find(L'%', position);
        if (open == std::wstring::npos) break;
        const size_t close = field.find(L'%', open + 1);
        if (close == std::wstring::npos) break;
        result.append(field, position, open - position);
        if (close == open + 1) result.push_back(L'%');
        else result += lookup(field.substr(open + 1, close - open - 1));
        position = close + 1;
    }
    result.append(field, position, std::wstring::npos);
    return result;
}

namespace {

std::wstring Trimmed(const std::wstring& text) {
    const size_t first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos) return L"";
    const size_t last = text.find_last_not_of(L" \t");
    return text.substr(first, last - first + 1);
}

// The INF engine reads a field in double quotes as the text between them.
std::wstring Unquoted(const std::wstring& field) {
    if (field.size() >= 2 && field.front() == L'"' && field.back() == L'"') return field.substr(1, field.size() - 2);
    return field;
}

std::wstring WithoutQuotes(std::wstring text) {
    std::wstring result;
    for (wchar_t c : text)
        if (c != L'"') result.push_back(c);
    return result;
}

std::vector<std::wstring> SplitFields(const std::wstring& line) {
    std::vector<std::wstring> fields;
    size_t start = 0;
    for (;;) {
        const size_t comma = line.find(L',', start);
        fields.push_back(Trimmed(line.substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start)));
        if (comma == std::wstring::npos) break;
        start = comma + 1;
    }
    return fields;
}

// A registry value element reads DWORD data as decimal text; the INF engine also takes
// hexadecimal ("0x10") and octal ("010") numbers, so the number is written out in decimal.
std::wstring DecimalDword(const std::wstring& field) {
    if (field.empty()) return field;
    wchar_t* end = nullptr;
    const unsigned long value = wcstoul(field.c_str(), &end, 0);
    if (end == nullptr || *end != L'\0') return field;
    return std::to_wstring(value);
}

} // namespace

NvxAddRegValue ParseNvxAddRegLine(const std::wstring& line, const InfStringLookup& lookup) {
    NvxAddRegValue value;
    const std::vector<std::wstring> fields = SplitFields(line);
    if (fields.size() < 5) return value;
    value.complete = true;
    value.keyPath = fields[0] + L"\\" + ReplaceInfStrings(Unquoted(fields[1]), lookup);
    value.name = ReplaceInfStrings(Unquoted(fields[2]), lookup);
    value.type = AddRegTypeName(fields[3]);
    if (value.type == L"MULTI_SZ") {
        for (size_t i = 4; i < fields.size(); ++i) {
            if (i > 4) value.data += L"\\0";
            value.data += WithoutQuotes(fields[i]);
        }
    } else if (value.type == L"SZ") {
        value.data = ReplaceInfStrings(Unquoted(fields[4]), lookup);
    } else if (value.type == L"DWORD") {
        value.data = DecimalDword(fields[4]);
    } else {
        value.data = fields[4];
    }
    return value;
}

std::vector<std::wstring> SplitSectionLines(const wchar_t* block, size_t length) {
    std::vector<std::wstring> lines;
    size_t start = 0;
    while (start < length && block[start] != L'\0') {
        size_t end = start;
        while (end < length && block[end] != L'\0') ++end;
        lines.emplace_back(block + start, end - start);
        start = end + 1;
    }
    return lines;
}

std::wstring CatalogMemberTag(const BYTE* hash, DWORD size) {
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring tag;
    tag.reserve(static_cast<size_t>(size) * 2);
    for (DWORD i = 0; i < size; ++i) {
        tag.push_back(digits[hash[i] >> 4]);
        tag.push_back(digits[hash[i] & 15]);
    }
    return tag;
}

std::wstring TombstoneServiceName(const std::wstring& sysFileName) {
    if (sysFileName.size() <= 4) return L"";
    return sysFileName.substr(0, sysFileName.size() - 4);
}

std::wstring DriverServiceKeyPath(const std::wstring& serviceName) {
    return L"system\\CurrentControlSet\\Services\\" + serviceName;
}

std::wstring InfServiceName(const std::wstring& infName) {
    const size_t dot = infName.rfind(L'.');
    return dot == std::wstring::npos ? infName : infName.substr(0, dot);
}

std::wstring InfDriverFileName(const std::wstring& infName) {
    const size_t dot = infName.rfind(L'.');
    return (dot == std::wstring::npos ? infName + L"." : infName.substr(0, dot + 1)) + L"sys";
}
