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
