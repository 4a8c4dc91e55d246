#pragma once
// Exclusion and unwanted-file lists: the document records go out as texts, are parsed back into
// the engine's list records (which validates them), pattern exclusions are expanded and given
// their device form, and the records are written out as the REG_MULTI_SZ items.
#include <windows.h>
#include <optional>
#include <string>
#include <vector>
#include "policy/DevicePath.h"

// The engine's exclusion structures. `size` fields carry the engine's structure sizes.
struct ExclusionRecord {
    DWORD size = 32;
    LONG type = 0;                          // 0 write date, 1 read date, 2 create date, 3 pattern, 4 extension
    WORD flags = 0;
    std::optional<std::wstring> pattern;    // none for the date types
    WORD days = 0;
};

struct ExclusionRecordList {
    DWORD size = 16;
    DWORD count = 0;
    std::vector<ExclusionRecord> records;
};

struct UnwantedFileRecord {
    DWORD size = 24;
    std::optional<std::wstring> detectionName;
    std::optional<std::wstring> filePath;
};

struct UnwantedFileRecordList {
    DWORD size = 16;
    DWORD count = 0;
    std::vector<UnwantedFileRecord> records;
};

// What pattern expansion needs to know about the running process and system.
struct PatternEnvironment {
    LUID logonSession{};
    DWORD versionNumber = 0;
    DeviceNameResolver resolver;
};
// This process's logon session, the running system's version number and the system resolver.
PatternEnvironment ProcessPatternEnvironment();

namespace ExclusionList {

// A list record from the document's fields: numbers cut to their low 16 bits.
ExclusionRecord MakeExclusionRecord(unsigned long type, unsigned long flags, unsigned long numDays,
                                    const std::wstring& pattern);

// "type|flags|days" for the date types, "type|flags|pattern" for pattern and extension,
// "type|flags|" otherwise; numbers from their low 16 bits.
std::wstring FormatExclusion(const ExclusionRecord& record);

// Raises AVException "InValid Parameter for Exclusion List" (0xA7F40209) for a text that is not
// three non-empty pieces with a type of 0 to 4, or a pattern text made only of ">".
ExclusionRecordList ParseExclusions(const std::vector<std::wstring>& texts);

// Rewrites every pattern record's pattern as "<device form>><expanded pattern>".
void ExpandPatterns(ExclusionRecordList& list, const PatternEnvironment& environment);
void ExpandPatterns(ExclusionRecordList& list);

// "detection name|file path".
std::wstring FormatUnwantedFile(const UnwantedFileRecord& record);
UnwantedFileRecordList ParseUnwantedFiles(const std::vector<std::wstring>& texts);

// The registry data of a whole list: final item texts joined with "\0". The exclusion form
// raises AVException as ParseExclusions does, and for a pattern or extension holding "|".
std::wstring ExclusionRegistryData(const std::vector<ExclusionRecord>& records, const PatternEnvironment& environment);
std::wstring UnwantedFileRegistryData(const std::vector<UnwantedFileRecord>& records);

} // namespace ExclusionList
