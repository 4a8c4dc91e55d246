#pragma once
// Device paths: the object-manager form of a drive or UNC path, found through the object
// manager's symbolic links (ntdll, loaded at run time) and the machine's logon sessions, and the
// facts about the running process and system that the form depends on.
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

// Object-manager symbolic-link resolution and logon-session enumeration. The system's by
// default; tests stand in for them.
struct DeviceNameResolver {
    // Follows the links of an object name in place; false when resolution fails.
    std::function<bool(std::wstring& objectName)> resolveSymbolicLink;
    // The machine's logon sessions; a Win32 code.
    std::function<DWORD(std::vector<LUID>& sessions)> enumerateLogonSessions;
};
DeviceNameResolver SystemDeviceNameResolver();

// The object-manager form of a drive or UNC path ("C:\x" -> "\Device\HarddiskVolume1\x",
// "\\s\x" -> "\Device\Mup\s\x"). 0 with `devicePath` set, or 87 (not such a path), 3 (no
// device found) or the session enumeration's error.
DWORD DosPathToDevicePath(const wchar_t* path, LUID logonSession, DWORD versionNumber, std::wstring& devicePath,
                          const DeviceNameResolver& resolver);
DWORD DosPathToDevicePath(const wchar_t* path, LUID logonSession, DWORD versionNumber, std::wstring& devicePath);

// Follows object-manager symbolic links in place (at most 100); true when a final name was
// reached.
bool ResolveSymbolicLink(std::wstring& objectName);

// (major * 100 + minor) * 10 + the first run of digits in the service-pack text.
DWORD OperatingSystemVersionNumber(DWORD major, DWORD minor, const std::wstring& servicePack);
DWORD RunningVersionNumber();

// The authentication identifier of this process's token; 0:0 when it cannot be read.
LUID ProcessLogonSession();
