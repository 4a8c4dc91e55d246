#include "policy/DevicePath.h"

#include <ntsecapi.h>
#include <cwchar>
#include <cwctype>
#include <memory>
#include "shell/Handles.h"

namespace {

constexpr int kMaxSymbolicLinks = 100;
constexpr ULONG kTargetBufferBytes = 520;
constexpr ACCESS_MASK kSymbolicLinkQuery = 0x0001;
constexpr ULONG kObjCaseInsensitive = 0x00000040;
constexpr DWORD kMupVersion = 6000;

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
