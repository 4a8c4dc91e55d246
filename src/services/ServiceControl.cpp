// Service control: start and wait, stop and wait, the start type, the network-control library
// after an install, and the lockdown lifted before a stop.
#include "services/Service.h"

#include <functional>
#include <memory>
#include <utility>
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

namespace {

// The scanner client library and the client's state. The calls into the library run on worker
// threads (a library that never returns must not hold the installer forever), so the library and
// every slot it is given live here, owned by the wait and by every worker still inside a call.
struct ScannerSession {
    std::unique_ptr<ScannerClient> client;
    // The client handle and, right after it, the slot the state query is given.
    struct {
        void* handle = nullptr;
        void* slot = nullptr;
    } slots;
    DWORD state = MAXDWORD;
};

// One bounded call into the library; false, with the line that says so, when it did not return.
bool CallScanner(const char* function, DWORD timeoutMs, std::function<DWORD()> call, DWORD& result) {
    if (CallWithTimeout(std::move(call), timeoutMs, result)) return true;
    LOG(LogLevel::Error, "Scanner client function %s did not return within %u ms; the wait for the scanner ends.",
        function, static_cast<unsigned>(timeoutMs));
    return false;
}

} // namespace

DWORD Service::WaitForScanner(DWORD intervalMs) {
    DWORD result = ERROR_SERVICE_NOT_ACTIVE;
    auto session = std::make_shared<ScannerSession>();
    // A missing library or function is an AVException for the top level, which logs nothing for
    // it: say here what was missing.
    try {
        session->client = std::make_unique<ScannerClient>();
    } catch (const AVException& exception) {
        LOG(LogLevel::Error, "Scanner client library \"BulwarkClient.dll\": %s. Error code %d",
            exception.Message().c_str(), static_cast<int>(exception.Code()));
        throw;
    }
    // A library still inside a call is left loaded and is not called again (AVUnInitialize
    // included): its worker holds the session until the process ends.
    const DWORD timeoutMs = ScannerCallTimeout(intervalMs);
    DWORD initialized = ERROR_SUCCESS;
    if (!CallScanner("AVInitialize", timeoutMs, [session] {
            return session->client->Initialize(&session->slots.handle, kScannerClientFlags);
        }, initialized)) {
        return result;
    }
    if (initialized != ERROR_SUCCESS) {
        LOG(LogLevel::Error, "Failed to initialize the Client. Error code %d", static_cast<int>(initialized));
    } else {
        for (int poll = 0; poll < kScannerPolls; ++poll) {
            session->state = MAXDWORD;
            DWORD queried = ERROR_SUCCESS;
            if (!CallScanner("AVGetSystemState", timeoutMs, [session] {
                    return session->client->GetSystemState(&session->slots.slot, &session->state);
                }, queried)) {
                return result;
            }
            const DWORD state = session->state;
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
    DWORD ignored = ERROR_SUCCESS;
    CallScanner("AVUnInitialize", timeoutMs, [session] { return session->client->UnInitialize(session->slots.handle); },
                ignored);
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
