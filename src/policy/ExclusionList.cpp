#include "policy/ExclusionList.h"

#include <cwchar>
#include <cwctype>
#include "operations/RegistryHelpers.h"
#include "shell/AVException.h"
#include "shell/Handles.h"
#include "shell/Log.h"

static const char kLogModule[] = ".\\ExclusionList";

namespace {

constexpr DWORD kInvalidExclusion = 0xA7F40209;

[[noreturn]] void ThrowInvalidExclusion(unsigned line) {
    LOG(LogLevel::Error, "InValid Parameter for Exclusion List");
    throw AVException("InValid Parameter for Exclusion List", kInvalidExclusion, line, "ExclusionList");
}

std::vector<std::wstring> SplitDroppingEmpty(const std::wstring& text, wchar_t separator) {
    std::vector<std::wstring> pieces;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(separator, start);
        if (end == std::wstring::npos) end = text.size();
        if (end > start) pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

std::wstring FormatNumber(unsigned long value) {
    wchar_t buffer[8] = {};
    swprintf(buffer, 8, L"%hu", static_cast<unsigned short>(value));
    return buffer;
}

} // namespace

PatternEnvironment ProcessPatternEnvironment() {
    return PatternEnvironment{ ProcessLogonSession(), RunningVersionNumber(), SystemDeviceNameResolver() };
}

namespace ExclusionList {

ExclusionRecord MakeExclusionRecord(unsigned long type, unsigned long flags, unsigned long numDays,
                                    const std::wstring& pattern) {
    ExclusionRecord record;
    record.type = static_cast<LONG>(type);
    record.flags = static_cast<WORD>(flags);
    record.pattern = pattern;
    record.days = static_cast<WORD>(numDays);
    return record;
}

std::wstring FormatExclusion(const ExclusionRecord& record) {
    std::wstring text = FormatNumber(static_cast<unsigned long>(record.type)) + L"|" + FormatNumber(record.flags) + L"|";
    if (record.type >= 0 && record.type <= 2) {
        text += FormatNumber(record.days);
    } else if ((record.type == 3 || record.type == 4) && record.pattern) {
        text += *record.pattern;
    }
    return text;
}

ExclusionRecordList ParseExclusions(const std::vector<std::wstring>& texts) {
    FunctionScope scope(kLogModule, "ExclusionList::ParseExclusions");
    ExclusionRecordList list;
    list.count = static_cast<DWORD>(texts.size());
    list.records.reserve(texts.size());
    for (const std::wstring& text : texts) {
        const std::vector<std::wstring> pieces = SplitDroppingEmpty(text, L'|');
        if (pieces.size() != 3) ThrowInvalidExclusion(__LINE__);
        const short type = static_cast<short>(wcstol(pieces[0].c_str(), nullptr, 10));
        if (type < 0 || type > 4) ThrowInvalidExclusion(__LINE__);

        ExclusionRecord record;
        record.type = type;
        record.flags = static_cast<WORD>(wcstoul(pieces[1].c_str(), nullptr, 10));
        if (type <= 2) {
            record.days = static_cast<WORD>(wcstoul(pieces[2].c_str(), nullptr, 10));
        } else if (type == 3) {
            const std::vector<std::wstring> parts = SplitDroppingEmpty(pieces[2], L'>');
            if (parts.empty()) ThrowInvalidExclusion(__LINE__);
            record.pattern = parts[0];
        } else {
            record.pattern = pieces[2];
        }
        list.records.push_back(std::move(record));
    }
    return list;
}

void ExpandPatterns(ExclusionRecordList& list, const PatternEnvironment& environment) {
    FunctionScope scope(kLogModule, "ExclusionList::ExpandPatterns");
    for (ExclusionRecord& record : list.records) {
        if (record.type != 3) continue;
        const std::wstring pattern = record.pattern.value_or(std::wstring());
        record.pattern = pattern + L">" + pattern;

        ::SetLastError(ERROR_SUCCESS);
        const DWORD needed = ::ExpandEnvironmentStringsW(pattern.c_str(), nullptr, 0);
        if (needed == 0) continue;
        std::vector<wchar_t> buffer(needed);
        ::SetLastError(ERROR_SUCCESS);
        const DWORD written = ::ExpandEnvironmentStringsW(pattern.c_str(), buffer.data(), needed);
        if (written == 0 || written > needed) continue;
        const std::wstring expanded(buffer.data());

        std::wstring devicePath;
        if (DosPathToDevicePath(expanded.c_str(), environment.logonSession, environment.versionNumber, devicePath,
                                environment.resolver) == ERROR_SUCCESS) {
            record.pattern = devicePath + L">" + expanded;
        } else {
            record.pattern = expanded + L">" + expanded;
        }
    }
}

void ExpandPatterns(ExclusionRecordList& list) {
    ExpandPatterns(list, ProcessPatternEnvironment());
}

std::wstring FormatUnwantedFile(const UnwantedFileRecord& record) {
    return record.detectionName.value_or(std::wstring()) + L"|" + record.filePath.value_or(std::wstring());
}

UnwantedFileRecordList ParseUnwantedFiles(const std::vector<std::wstring>& texts) {
    FunctionScope scope(kLogModule, "ExclusionList::ParseUnwantedFiles");
    UnwantedFileRecordList list;
    list.count = static_cast<DWORD>(texts.size());
    list.records.reserve(texts.size());
    for (const std::wstring& text : texts) {
        UnwantedFileRecord record;
        if (text.empty() || text[0] != L'|') {
            const std::vector<std::wstring> pieces = SplitDroppingEmpty(text, L'|');
            if (!pieces.empty()) record.detectionName = pieces[0];
            if (pieces.size() > 1) record.filePath = pieces[1];
        }
        list.records.push_back(std::move(record));
    }
    return list;
}

std::wstring ExclusionRegistryData(const std::vector<ExclusionRecord>& records, const PatternEnvironment& environment) {
    std::vector<std::wstring> texts;
    texts.reserve(records.size());
    for (const ExclusionRecord& record : records) {
        // The engine splits its items at "|": a pattern holding one cannot be stored as written.
        if ((record.type == 3 || record.type == 4) && record.pattern && record.pattern->find(L'|') != std::wstring::npos) {
            ThrowInvalidExclusion(__LINE__);
        }
        texts.push_back(FormatExclusion(record));
    }
    ExclusionRecordList list = ParseExclusions(texts);
    ExpandPatterns(list, environment);
    std::vector<std::wstring> items;
    items.reserve(list.records.size());
    for (const ExclusionRecord& record : list.records) items.push_back(FormatExclusion(record));
    return JoinMultiSzText(items);
}

std::wstring UnwantedFileRegistryData(const std::vector<UnwantedFileRecord>& records) {
    std::vector<std::wstring> texts;
    texts.reserve(records.size());
    for (const UnwantedFileRecord& record : records) texts.push_back(FormatUnwantedFile(record));
    const UnwantedFileRecordList list = ParseUnwantedFiles(texts);
    std::vector<std::wstring> items;
    items.reserve(list.records.size());
    for (const UnwantedFileRecord& record : list.records) items.push_back(FormatUnwantedFile(record));
    return JoinMultiSzText(items);
}

} // namespace ExclusionList
