#pragma once
// Small helpers on the Service Control Manager shared by the service and driver elements.
#include <windows.h>
#include <string>
#include "shell/Handles.h"

// OpenSCManagerW on the local machine's default database with `access`; empty on failure (the
// last error says why).
UniqueServiceHandle OpenServiceManager(DWORD access);

// False only when the SCM says the name is not registered (ERROR_SERVICE_DOES_NOT_EXIST); any
// other outcome of the display-name query counts as existing.
bool ServiceExists(SC_HANDLE scm, const std::wstring& name);

// ChangeServiceConfig2W with SERVICE_CONFIG_DESCRIPTION: 0, or the last error.
DWORD SetServiceDescription(SC_HANDLE service, const std::wstring& description);
// ChangeServiceConfigW changing only the start type: 0, or the last error.
DWORD SetServiceStartType(SC_HANDLE service, DWORD startType);
// ChangeServiceConfigW changing only the binary path: 0, or the last error.
DWORD SetServiceBinaryPath(SC_HANDLE service, const std::wstring& binaryPath);
// The configured start type (QueryServiceConfigW sized by a first call): 0, or the error of the
// query that failed.
DWORD GetServiceStartType(SC_HANDLE service, DWORD& startType);
