// Service control: start and wait, stop and wait, the start type, the network-control library
// after an install, and the lockdown lifted before a stop.
#include "services/Service.h"

#include <memory>
#include "engine/InstallContext.h"
#include "policy/InstallOverrideTable.h"
#include "services/LockDown.h"
#include "services/ScannerClient.h"
#include "services/ScmHelpers.h"
#include "services/ServiceSettings.h"
#include "services/ServiceWait.h"
#include "services/nc_api.h"
#include "shell/AVException.h"
#include "shell/Log.h"

static const char kLogModule[] = ".\\Service";

namespace {
// The engine's service stops on this service-defined control code, not on SERVICE_CONTROL_STOP.
const DWORD kEngineStopControl = 218;
const DWORD kStopTimeoutMs = 30000;
const DWORD kStopPollMs = 1000;
const int kStartAttempts = 2;
const int kStartPolls = 4;
const int kScannerPolls = 10;
} // namespace

DWORD Service::CheckAndSetServiceStartType() {
    FunctionScope scope(kLogModule, "Service::CheckAndSetServiceStartType");
    DWORD current = 0;
    const DWORD read = GetServiceStartType(service_.get(), current);
    if (read != ERROR_SUCCESS) {
        LOG(LogLevel::Error, "Failed to get Service start-type.Error-code: %d", static_cast<int>(read));
        return scope.Result(read);
    }
    if (current != static_cast<DWORD>(start)) return scope.Result(SetServiceStartType(service_.get(), static_cast<DWORD>(start)));
    return scope.Result(ERROR_SUCCESS);
}

DWORD Service::StartTheService() {
    FunctionScope scope(kLogModule, "Service::StartTheService");
    std::wstring startOverride = L"1";
    if (InstallOverrideTable::HasOverride(L"Start")) startOverride = InstallOverrideTable::GetOverride(L"Start");

    const DWORD startType = CheckAndSetServiceStartType();
    if (startType != ERROR_SUCCESS) return scope.Result(startType);
    // "0" keeps the service installed with its start type but does not start it now.
    if (startOverride == L"0") return scope.Result(ERROR_SUCCESS);

    const ServiceWaitInterval interval =
        ComputeServiceWaitInterval(failureRestart.restartDelay, failureRestart.restartCount);
    if (interval.capped) {
        LOG(LogLevel::Warning, "Service wait interval held at %u ms (RestartDelay %d x RestartCount %d asks for more).",
            static_cast<unsigned>(interval.milliseconds), static_cast<int>(failureRestart.restartDelay),
            static_cast<int>(failureRestart.restartCount));
    }

    DWORD result = ERROR_SERVICE_REQUEST_TIMEOUT;
    bool running = false;
    for (int attempt = 1; attempt <= kStartAttempts && !running; ++attempt) {
        LOG(LogLevel::Information, "Attempting StartService: %d time", attempt);
        if (!::StartServiceW(service_.get(), 0, nullptr)) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_SERVICE_REQUEST_TIMEOUT) {
                LOG(LogLevel::Error, "Failed to start the Service. Error Code=%d", static_cast<int>(error));
                return scope.Result(error);
            }
        }
        result = ERROR_SERVICE_REQUEST_TIMEOUT;
        for (int poll = 0; poll < kStartPolls; ++poll) {
            SERVICE_STATUS status{};
            if (!::QueryServiceStatus(service_.get(), &status)) {
                const DWORD error = ::GetLastError();
                LOG(LogLevel::Error, "Failed to query the Service. Error Code=%d", static_cast<int>(error));
                if (error != ERROR_SERVICE_REQUEST_TIMEOUT) return scope.Result(error);
                break;
            }
            if (status.dwCurrentState == SERVICE_RUNNING) {
                running = true;
                break;
            }
            LOG(LogLevel::Error, "Waiting for the Service. Current State=%d", static_cast<int>(status.dwCurrentState));
            ServiceSleep(interval.milliseconds);
        }
        if (!running) LOG(LogLevel::Error, "%s", "Failed to start the Service.");
    }
    if (!running) return scope.Result(result);
    if (!InstallContext().waitForService) return scope.Result(ERROR_SUCCESS);
    return scope.Result(WaitForScanner(interval.milliseconds));
}

DWORD Service::WaitForScanner(DWORD intervalMs) {
    DWORD result = ERROR_SERVICE_NOT_ACTIVE;
    // A missing library or function is an AVException for the top level, which logs nothing for
    // it: say here what was missing.
    std::unique_ptr<ScannerClient> loaded;
    try {
        loaded = std::make_unique<ScannerClient>();
    } catch (const AVException& exception) {
        LOG(LogLevel::Error, "Scanner client library \"BulwarkClient.dll\": %s. Error code %d",
            exception.Message().c_str(), static_cast<int>(exception.Code()));
        throw;
    }
    ScannerClient& client = *loaded;
    // The client handle and, right after it, the slot the state query is given.
    struct {
        void* handle = nullptr;
        void* slot = nullptr;
    } session;
    const DWORD initialized = client.Initialize(&session.handle, kScannerClientFlags);
    if (initialized != ERROR_SUCCESS) {
        LOG(LogLevel::Error, "Failed to initialize the Client. Error code %d", static_cast<int>(initialized));
    } else {
        for (int poll = 0; poll < kScannerPolls; ++poll) {
            DWORD state = MAXDWORD;
            const DWORD queried = client.GetSystemState(&session.slot, &state);
            LOG(LogLevel::Detail, "Server State : %S", ServiceStateName(state));
            if (queried != ERROR_SUCCESS) break;
            if (state == kScannerInitialized) {
                result = ERROR_SUCCESS;
                break;
            }
            if (state != kScannerInitializing) break;
            ServiceSleep(intervalMs);
        }
    }
    client.UnInitialize(session.handle);
    return result;
}

DWORD Service::StopService() {
    FunctionScope scope(kLogModule, "Service::StopService");
    const DWORD unlocked = DisableServiceLockdown();
    if (unlocked != ERROR_SUCCESS) {
        LOG(LogLevel::Error, "%s", "Failed to Disable Lockdown.");
        return scope.Result(unlocked);
    }
    scm_ = OpenServiceManager(SC_MANAGER_ALL_ACCESS);
    if (!scm_) {
        const DWORD error = ::GetLastError();
        LOG(LogLevel::Error, "%s", "Failed to open SCManager. Service Uninstall Failed.");
        return scope.Result(error);
    }
    service_.reset(::OpenServiceW(scm_.get(), serviceName.c_str(), SERVICE_ALL_ACCESS));
    if (!service_) {
        const DWORD error = ::GetLastError();
        LOG(LogLevel::Error, "%s", "Failed to open service. Service Uninstall Failed.");
        return scope.Result(error);
    }

    SERVICE_STATUS status{};
    ::QueryServiceStatus(service_.get(), &status);
    if (status.dwCurrentState == SERVICE_STOPPED) return scope.Result(ERROR_SUCCESS);

    status = SERVICE_STATUS{};
    ::ControlService(service_.get(), kEngineStopControl, &status);
    const DWORD sent = ::GetTickCount();
    if (status.dwCurrentState == SERVICE_STOPPED) return scope.Result(ERROR_SUCCESS);
    // Unsigned difference: a wrap of the tick counter does not end the wait early.
    while (::GetTickCount() - sent <= kStopTimeoutMs) {
        ServiceSleep(kStopPollMs);
        if (::QueryServiceStatus(service_.get(), &status) && status.dwCurrentState == SERVICE_STOPPED)
            return scope.Result(ERROR_SUCCESS);
    }
    LOG(LogLevel::Error, "%s", "Failed to stop the service. Timed Out.");
    return scope.Result(ERROR_SERVICE_REQUEST_TIMEOUT);
}

void Service::StartTheDrivers() {
    FunctionScope scope(kLogModule, "Service::StartTheDrivers");
    NcApi ncApi;
    try {
        if (!ncApi.Initialize()) LOG(LogLevel::Error, "%s", "Failed to Initialise NCAPI");
        ncApi.Release();
    } catch (const AVException&) {
        LOG(LogLevel::Error, "%s", "Failed to Get NCAPI Interface");
    }
}

DWORD Service::DisableServiceLockdown() {
    FunctionScope scope(kLogModule, "Service::DisableServiceLockdown");
    const std::wstring name = serviceName;
    try {
        return scope.Result(LockDown::Unlock(name));
    } catch (const AVException& exception) {
        return scope.Result(exception.Code());
    }
}
