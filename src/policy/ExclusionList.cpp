#include "policy/ExclusionList.h"

#include <ntsecapi.h>
#include <cwchar>
#include <cwctype>
#include <memory>
#include "operations/RegistryHelpers.h"
#include "shell/AVException.h"
#include "shell/Handles.h"
#include "shell/Log.h"

static const char kLogModule[] = ".\\ExclusionList";

namespace {

constexpr DWORD kInvalidExclusion = 0xA7F40209;
constexpr int kMaxSymbolicLinks = 100;
constexpr ULONG kTargetBufferBytes = 520;
constexpr ACCESS_MASK kSymbolicLinkQuery = 0x0001;
constexpr ULONG kObjCaseInsensitive = 0x00000040;
constexpr DWORD kMupVersion = 6000;

[[noreturn]] void ThrowInvalidExclusion(unsigned line) {
    LOG(LogLevel::Error, "%s", "InValid Parameter for Exclusion List");
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

// ---- Object-manager functions of ntdll, looked up once ----

struct ObjectName {
    USHORT Length;
    USHORT MaximumLength;
    PWSTR Buffer;
};

struct ObjectAttributes {
    ULONG Length;
    HANDLE RootDirectory;
    ObjectName* ObjectNameField;
    ULONG Attributes;
    PVOID SecurityDescriptor;
    PVOID SecurityQualityOfService;
};

using NtOpenSymbolicLinkObjectFn = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, ObjectAttributes*);
using NtQuerySymbolicLinkObjectFn = LONG(NTAPI*)(HANDLE, ObjectName*, PULONG);
using NtCloseFn = LONG(NTAPI*)(HANDLE);

struct ObjectManagerFunctions {
    UniqueModule ntdll;
    NtOpenSymbolicLinkObjectFn open = nullptr;
    NtQuerySymbolicLinkObjectFn query = nullptr;
    NtCloseFn close = nullptr;
    DWORD failure = ERROR_SUCCESS;
};

template <typename Fn>
Fn ResolveFunction(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

ObjectManagerFunctions LoadObjectManagerFunctions() {
    ObjectManagerFunctions functions;
    wchar_t systemDirectory[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(systemDirectory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        functions.failure = length == 0 ? ::GetLastError() : ERROR_BUFFER_OVERFLOW;
        return functions;
    }
    const std::wstring path = std::wstring(systemDirectory) + L"\\ntdll.dll";
    functions.ntdll.reset(::LoadLibraryW(path.c_str()));
    if (!functions.ntdll) {
        functions.failure = ::GetLastError();
        return functions;
    }
    functions.open = ResolveFunction<NtOpenSymbolicLinkObjectFn>(functions.ntdll.get(), "NtOpenSymbolicLinkObject");
    functions.query = ResolveFunction<NtQuerySymbolicLinkObjectFn>(functions.ntdll.get(), "NtQuerySymbolicLinkObject");
    functions.close = ResolveFunction<NtCloseFn>(functions.ntdll.get(), "NtClose");
    if (!functions.open || !functions.query || !functions.close) functions.failure = ERROR_PROC_NOT_FOUND;
    return functions;
}

const ObjectManagerFunctions& ObjectManager() {
    static const ObjectManagerFunctions functions = LoadObjectManagerFunctions();
    return functions;
}

void CloseObjectManagerHandle(HANDLE handle) {
    ObjectManager().close(handle);
}
using UniqueObjectHandle = UniqueHandle<HANDLE, &CloseObjectManagerHandle>;

// ---- Logon sessions ----

struct LsaBufferFree {
    void operator()(void* buffer) const { ::LsaFreeReturnBuffer(buffer); }
};

DWORD EnumerateLogonSessions(std::vector<LUID>& sessions) {
    ULONG count = 0;
    PLUID list = nullptr;
    const NTSTATUS status = ::LsaEnumerateLogonSessions(&count, &list);
    std::unique_ptr<void, LsaBufferFree> owner(list);
    if (status != 0) return ::LsaNtStatusToWinError(status);
    sessions.assign(list, list + (list ? count : 0));
    return ERROR_SUCCESS;
}

bool SameLuid(const LUID& a, const LUID& b) {
    return a.LowPart == b.LowPart && a.HighPart == b.HighPart;
}

// Step of DosPathToDevicePath for one logon session's drive letters.
DWORD SessionDrivePath(wchar_t drive, const LUID& session, const wchar_t* remainder, std::wstring& devicePath,
                       const DeviceNameResolver& resolver) {
    wchar_t name[64] = {};
    swprintf(name, 64, L"\\Sessions\\0\\DosDevices\\%08lx-%08lx\\%lc:", static_cast<unsigned long>(session.HighPart),
             static_cast<unsigned long>(session.LowPart), static_cast<wint_t>(drive));
    std::wstring object = name;
    if (!resolver.resolveSymbolicLink(object) || object.compare(0, 10, L"\\Sessions\\") == 0) return ERROR_PATH_NOT_FOUND;
    devicePath = object + remainder;
    return ERROR_SUCCESS;
}

} // namespace

DeviceNameResolver SystemDeviceNameResolver() {
    return DeviceNameResolver{ &ResolveSymbolicLink, &EnumerateLogonSessions };
}

PatternEnvironment ProcessPatternEnvironment() {
    return PatternEnvironment{ ProcessLogonSession(), RunningVersionNumber(), SystemDeviceNameResolver() };
}

bool ResolveSymbolicLink(std::wstring& objectName) {
    const ObjectManagerFunctions& functions = ObjectManager();
    if (functions.failure != ERROR_SUCCESS) return false;

    for (int link = 0; link < kMaxSymbolicLinks; ++link) {
        ObjectName name{ static_cast<USHORT>(objectName.size() * sizeof(wchar_t)),
                         static_cast<USHORT>(objectName.size() * sizeof(wchar_t)), &objectName[0] };
        ObjectAttributes attributes{ sizeof(ObjectAttributes), nullptr, &name, kObjCaseInsensitive, nullptr, nullptr };
        UniqueObjectHandle handle;
        if (functions.open(handle.put(), kSymbolicLinkQuery, &attributes) < 0) return true;   // a final name

        wchar_t buffer[kTargetBufferBytes / sizeof(wchar_t)] = {};
        ObjectName target{ 0, static_cast<USHORT>(kTargetBufferBytes), buffer };
        ULONG returned = 0;
        const LONG status = functions.query(handle.get(), &target, &returned);
        handle.reset();
        // A target that does not fit (or any query failure) leaves nothing to follow.
        if (status < 0) return false;
        objectName.assign(buffer, target.Length / sizeof(wchar_t));
    }
    return false;
}

DWORD DosPathToDevicePath(const wchar_t* path, LUID logonSession, DWORD versionNumber, std::wstring& devicePath,
                          const DeviceNameResolver& resolver) {
    if (!path) return ERROR_INVALID_PARAMETER;
    const size_t length = wcslen(path);
    if (length < 2) return ERROR_INVALID_PARAMETER;
    const bool unc = path[0] == L'\\' && path[1] == L'\\';
    if (path[1] != L':' && !unc) return ERROR_INVALID_PARAMETER;

    if (unc) {
        devicePath = std::wstring(versionNumber < kMupVersion ? L"\\Device\\LanmanRedirector" : L"\\Device\\Mup") + (path + 1);
        return ERROR_SUCCESS;
    }

    const wchar_t drive = path[0];
    const wchar_t* remainder = path + 2;
    if (SessionDrivePath(drive, logonSession, remainder, devicePath, resolver) == ERROR_SUCCESS) return ERROR_SUCCESS;

    std::vector<LUID> sessions;
    const DWORD enumerated = resolver.enumerateLogonSessions(sessions);
    if (enumerated != ERROR_SUCCESS) return enumerated;
    for (const LUID& session : sessions) {
        if (SameLuid(session, logonSession)) continue;
        if (SessionDrivePath(drive, session, remainder, devicePath, resolver) == ERROR_SUCCESS) return ERROR_SUCCESS;
    }

    wchar_t name[32] = {};
    swprintf(name, 32, L"\\DosDevices\\%lc:", static_cast<wint_t>(drive));
    std::wstring object = name;
    if (!resolver.resolveSymbolicLink(object) || object.compare(0, 12, L"\\DosDevices\\") == 0) return ERROR_PATH_NOT_FOUND;
    devicePath = object + remainder;
    return ERROR_SUCCESS;
}

DWORD DosPathToDevicePath(const wchar_t* path, LUID logonSession, DWORD versionNumber, std::wstring& devicePath) {
    return DosPathToDevicePath(path, logonSession, versionNumber, devicePath, SystemDeviceNameResolver());
}

DWORD OperatingSystemVersionNumber(DWORD major, DWORD minor, const std::wstring& servicePack) {
    DWORD servicePackNumber = 0;
    const size_t digits = servicePack.find_first_of(L"0123456789");
    if (digits != std::wstring::npos) {
        for (size_t i = digits; i < servicePack.size() && iswdigit(servicePack[i]); ++i) {
            servicePackNumber = servicePackNumber * 10 + static_cast<DWORD>(servicePack[i] - L'0');
        }
    }
    return (major * 100 + minor) * 10 + servicePackNumber;
}

// The version as the system reports it to this program (not the manifest-independent one): the
// number only decides between the two network redirector names.
#ifdef _MSC_VER
#pragma warning(push)
#pragma warning(disable : 4996)   // GetVersionExW is declared deprecated
#endif
DWORD RunningVersionNumber() {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!::GetVersionExW(&info)) return 0;
    return OperatingSystemVersionNumber(info.dwMajorVersion, info.dwMinorVersion, info.szCSDVersion);
}
#ifdef _MSC_VER
#pragma warning(pop)
#endif

LUID ProcessLogonSession() {
    LUID session{};
    UniqueKernelHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return session;
    TOKEN_STATISTICS statistics{};
    DWORD returned = 0;
    if (::GetTokenInformation(token.get(), TokenStatistics, &statistics, sizeof(statistics), &returned)) {
        session = statistics.AuthenticationId;
    }
    return session;
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
