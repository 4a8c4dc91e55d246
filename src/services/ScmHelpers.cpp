#include "services/ScmHelpers.h"

#include <vector>
#include "shell/Log.h"
#include "shell/Result.h"

namespace {
// Trace events of the configuration changes (trace only, never the log file).
const GUID kScmHelperMessageGuid = { 0x5B1E9C47, 0x2D3A, 0x4F60, { 0x9E, 0x71, 0x3C, 0x88, 0xA4, 0x0D, 0x52, 0xE6 } };
const USHORT kStartTypeMessage = 1;
const USHORT kBinaryPathMessage = 2;
const USHORT kQueryStartTypeMessage = 3;

void TraceOutcome(USHORT number, const char* operation, DWORD result) {
    TraceOwnMessage(kScmHelperMessageGuid, number, LogLevel::Detail, operation,
                    result == ERROR_SUCCESS ? "Succeeded" : "Failed");
}
} // namespace

UniqueServiceHandle OpenServiceManager(DWORD access) {
    return UniqueServiceHandle(::OpenSCManagerW(nullptr, nullptr, access));
}

bool ServiceExists(SC_HANDLE scm, const std::wstring& name) {
    DWORD size = 0;
    ::SetLastError(ERROR_SUCCESS);
    ::GetServiceDisplayNameW(scm, name.c_str(), nullptr, &size);
    return ::GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST;
}

DWORD SetServiceDescription(SC_HANDLE service, const std::wstring& description) {
    std::wstring text = description;   // the SCM takes a writable pointer
    SERVICE_DESCRIPTIONW info{};
    info.lpDescription = &text[0];
    return ResultFromBool(::ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &info));
}

DWORD SetServiceStartType(SC_HANDLE service, DWORD startType) {
    const DWORD result = ResultFromBool(::ChangeServiceConfigW(service, SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE,
                                                               nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                               nullptr));
    TraceOutcome(kStartTypeMessage, "SetServiceStartType", result);
    return result;
}

DWORD SetServiceBinaryPath(SC_HANDLE service, const std::wstring& binaryPath) {
    const DWORD result = ResultFromBool(::ChangeServiceConfigW(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                                               SERVICE_NO_CHANGE, binaryPath.c_str(), nullptr,
                                                               nullptr, nullptr, nullptr, nullptr, nullptr));
    TraceOutcome(kBinaryPathMessage, "SetServiceBinaryPath", result);
    return result;
}

DWORD GetServiceStartType(SC_HANDLE service, DWORD& startType) {
    DWORD needed = 0;
    if (!::QueryServiceConfigW(service, nullptr, 0, &needed)) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER) {
            TraceOutcome(kQueryStartTypeMessage, "GetServiceStartType", error);
            return error;
        }
    }
    // QUERY_SERVICE_CONFIGW holds pointers: keep the buffer aligned for them.
    std::vector<ULONGLONG> buffer(needed / sizeof(ULONGLONG) + 1);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    const DWORD result = ResultFromBool(
        ::QueryServiceConfigW(service, config, static_cast<DWORD>(buffer.size() * sizeof(ULONGLONG)), &needed));
    if (result != ERROR_SUCCESS) {
        TraceOutcome(kQueryStartTypeMessage, "GetServiceStartType", result);
        return result;
    }
    startType = config->dwStartType;
    return ERROR_SUCCESS;
}
