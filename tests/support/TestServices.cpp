#include "support/TestServices.h"

#include <shlwapi.h>
#include <vector>
#include "shell/Handles.h"

namespace {

const wchar_t kDoublesKey[] = L"SOFTWARE\\InstallerTestDoubles";
const DWORD kEngineStopControl = 218;

UniqueServiceHandle OpenScm() { return UniqueServiceHandle(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)); }

UniqueKey CreateKey(const std::wstring& subKey) {
    UniqueKey key;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                          nullptr) != ERROR_SUCCESS)
        key.reset();
    return key;
}

std::wstring DoubleKey(const std::wstring& double_) { return std::wstring(kDoublesKey) + L"\\" + double_; }

} // namespace

std::optional<ServiceSnapshot> QueryTestService(const std::wstring& name) {
    UniqueServiceHandle scm = OpenScm();
    UniqueServiceHandle service(::OpenServiceW(scm.get(), name.c_str(), SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
    if (!service) return std::nullopt;
    ServiceSnapshot snapshot;
    SERVICE_STATUS status{};
    if (::QueryServiceStatus(service.get(), &status)) snapshot.state = status.dwCurrentState;

    DWORD needed = 0;
    ::QueryServiceConfigW(service.get(), nullptr, 0, &needed);
    std::vector<ULONGLONG> buffer(needed / sizeof(ULONGLONG) + 1);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (::QueryServiceConfigW(service.get(), config, static_cast<DWORD>(buffer.size() * sizeof(ULONGLONG)), &needed)) {
        snapshot.startType = config->dwStartType;
        snapshot.serviceType = config->dwServiceType;
        if (config->lpBinaryPathName) snapshot.binaryPath = config->lpBinaryPathName;
        if (config->lpDisplayName) snapshot.displayName = config->lpDisplayName;
    }
    needed = 0;
    ::QueryServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, nullptr, 0, &needed);
    std::vector<ULONGLONG> described(needed / sizeof(ULONGLONG) + 1);
    auto* description = reinterpret_cast<SERVICE_DESCRIPTIONW*>(described.data());
    if (needed > 0 &&
        ::QueryServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, reinterpret_cast<BYTE*>(description),
                               static_cast<DWORD>(described.size() * sizeof(ULONGLONG)), &needed) &&
        description->lpDescription) {
        snapshot.description = description->lpDescription;
    }
    return snapshot;
}

bool WaitForServiceState(const std::wstring& name, DWORD state, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        const auto snapshot = QueryTestService(name);
        if (snapshot && snapshot->state == state) return true;
        if (::GetTickCount() - start > timeoutMs) return false;
        ::Sleep(100);
    }
}

bool RemoveTestService(const std::wstring& name) {
    {
        UniqueServiceHandle scm = OpenScm();
        UniqueServiceHandle service(::OpenServiceW(scm.get(), name.c_str(), SERVICE_ALL_ACCESS));
        if (!service) return ::GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
        SERVICE_STATUS_PROCESS status{};
        DWORD needed = 0;
        ::QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                               &needed);
        if (status.dwCurrentState != SERVICE_STOPPED) {
            SERVICE_STATUS control{};
            ::ControlService(service.get(), kEngineStopControl, &control);
            if (!WaitForServiceState(name, SERVICE_STOPPED, 3000) && status.dwProcessId != 0) {
                // A double told to ignore the stop code: end its process.
                UniqueKernelHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, status.dwProcessId));
                if (process) {
                    ::TerminateProcess(process.get(), 1);
                    ::WaitForSingleObject(process.get(), 5000);
                }
            }
        }
        ::DeleteService(service.get());
    }
    const DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < 30000) {
        UniqueServiceHandle scm = OpenScm();
        UniqueServiceHandle service(::OpenServiceW(scm.get(), name.c_str(), SERVICE_QUERY_STATUS));
        if (!service && ::GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) return true;
        ::Sleep(200);
    }
    return false;
}

bool CreateTestService(const std::wstring& name, const std::wstring& binaryPath, DWORD startType) {
    UniqueServiceHandle scm = OpenScm();
    const std::wstring quoted = L"\"" + binaryPath + L"\"";
    UniqueServiceHandle service(::CreateServiceW(scm.get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                                 SERVICE_WIN32_OWN_PROCESS, startType, SERVICE_ERROR_NORMAL,
                                                 quoted.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    return static_cast<bool>(service);
}

void SetServiceDoubleMode(const std::wstring& serviceName, const std::wstring& mode) {
    SetDoubleText(L"Services\\" + serviceName, L"Mode", mode);
}

std::wstring ServiceDoubleControls(const std::wstring& serviceName) {
    return DoubleText(L"Services\\" + serviceName, L"Controls");
}

std::wstring ServiceDoubleStarts(const std::wstring& serviceName) {
    return DoubleText(L"Services\\" + serviceName, L"Starts");
}

void SetDoubleText(const std::wstring& double_, const std::wstring& name, const std::wstring& value) {
    UniqueKey key = CreateKey(DoubleKey(double_));
    ::RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void SetDoubleNumber(const std::wstring& double_, const std::wstring& name, DWORD value) {
    UniqueKey key = CreateKey(DoubleKey(double_));
    ::RegSetValueExW(key.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

std::wstring DoubleText(const std::wstring& double_, const std::wstring& name) {
    wchar_t buffer[4096] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, DoubleKey(double_).c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, buffer,
                       &size) != ERROR_SUCCESS)
        return {};
    return buffer;
}

void ClearDoubleSettings() { ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, kDoublesKey); }
