#include "services/ScmHelpers.h"

UniqueServiceHandle OpenServiceManager(DWORD access) {
    return UniqueServiceHandle(::OpenSCManagerW(nullptr, nullptr, access));
}

bool ServiceExists(SC_HANDLE scm, const std::wstring& name) {
    DWORD size = 0;
    ::SetLastError(ERROR_SUCCESS);
    ::GetServiceDisplayNameW(scm, name.c_str(), nullptr, &size);
    return ::GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST;
}
