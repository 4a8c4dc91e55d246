#pragma once
// The pure parts of driver handling: the INF commands and section names of each architecture,
// the command line given to the INF engine, the NvxAddReg lines the verify reads back, the
// catalog member tag of a file hash, and the names derived from the INF and driver file names.
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

// The INF engine's arguments (narrow text following the INF path: section, cabinet, flags) and
// the services sections, chosen by the element's platform: "x86" uses the 32-bit names, every
// other platform the 64-bit ones.
struct InfCommands {
    const char* installArguments;
    const wchar_t* installServicesSection;
    const char* uninstallArguments;
    const wchar_t* uninstallServicesSection;
};
InfCommands InfCommandsFor(const std::wstring& platform);

// The command line given to LaunchINFSectionEx: the INF's full path as UTF-8 (in double quotes
// when it holds a blank or a comma, which would otherwise end the field) followed by the
// arguments. The INF engine accepts a full path with or without a cabinet; a relative one it
// rejects unless a cabinet is named.
std::string InfCommandLine(const std::wstring& infPath, const std::string& arguments);

// Registry type of an NvxAddReg flags field: "DWORD", "MULTI_SZ", "SZ", or the empty text.
std::wstring AddRegTypeName(const std::wstring& flags);

// Value of an INF string by name ([Strings] section); the empty text when it is absent.
using InfStringLookup = std::function<std::wstring(const std::wstring& name)>;

// A field with every "%name%" replaced by the string's value; "%%" stands for one "%", and a "%"
// without a closing partner is kept as it stands.
std::wstring ReplaceInfStrings(const std::wstring& field, const InfStringLookup& lookup);

// One NvxAddReg line ("root, subkey, value name, flags, data[, more data]") as the registry value
// it describes. `complete` is false for a line of fewer than five fields.
struct NvxAddRegValue {
    bool complete = false;
    std::wstring keyPath;   // root, a backslash and the subkey
    std::wstring name;
    std::wstring type;      // AddRegTypeName of the flags
    std::wstring data;      // MULTI_SZ parts joined with the two characters "\0"
};
NvxAddRegValue ParseNvxAddRegLine(const std::wstring& line, const InfStringLookup& lookup);

// The lines of a section as GetPrivateProfileSectionW returns them: texts separated by NULs, the
// block ending with two. `length` is the count the call returned.
std::vector<std::wstring> SplitSectionLines(const wchar_t* block, size_t length);

// The catalog member tag of a file: its hash bytes as upper-case hexadecimal digits.
std::wstring CatalogMemberTag(const BYTE* hash, DWORD size);

// Service name of a driver file: its name less the last four characters ("tnxflt.sys" gives
// "tnxflt"); empty for a name of four characters or fewer, which gets no tombstone.
std::wstring TombstoneServiceName(const std::wstring& sysFileName);
// The service key below HKEY_LOCAL_MACHINE that carries a driver's tombstone.
std::wstring DriverServiceKeyPath(const std::wstring& serviceName);
// The service an INF installs is named after the INF: its name up to the last ".".
std::wstring InfServiceName(const std::wstring& infName);
// The driver file named after the INF: its name up to and including the last "." followed by
// "sys" (a name without "." gets ".sys").
std::wstring InfDriverFileName(const std::wstring& infName);
