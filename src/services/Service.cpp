#include "services/Service.h"

#include <vector>
#include "engine/InstallContext.h"
#include "services/ScmHelpers.h"
#include "services/ServiceSettings.h"
#include "shell/Console.h"
#include "shell/Log.h"
#include "shell/ProgramDirectory.h"
#include "shell/Result.h"
#include "xml/Binding.h"

static const char kLogModule[] = ".\\Service";

namespace {
// ERROR_IMPLEMENTATION_LIMIT (not in every SDK's headers).
const DWORD kImplementationLimit = 1292;
} // namespace

void FailureRestart::Bind(const XmlNode& node) {
    BindChildInt(node, L"ResetPeriod", resetPeriod);
    BindChildInt(node, L"RestartCount", restartCount);
    BindChildInt(node, L"RestartDelay", restartDelay);
}

void Service::Bind(const XmlNode& node) {
    BindAttribute(node, L"location", location);
    BindAttribute(node, L"control", control);
    BindChildText(node, L"ServiceFile", serviceFile);
    BindChildText(node, L"ServiceName", serviceName);
    BindChildText(node, L"DisplayName", displayName);
    BindChildText(node, L"Description", description);
    BindChildText(node, L"DependOnService", dependOnService);
    BindChildInt(node, L"Start", start);
    BindChild(node, failureRestart);
}

std::wstring Service::BinaryPath() const {
    return L"\"" + InstallContext().installDirectory + L"\\" + serviceFile + L"\"";
}

DWORD Service::Install() {
    FunctionScope scope(kLogModule, "Service::Install");
    std::wstring programDirectory;
    const DWORD located = GetProgramDirectory(programDirectory);
    if (located != ERROR_SUCCESS) {
        LOG(LogLevel::Error, "%s", "Failed while calling GetModuleFileName for Service dir-path.");
        return scope.Result(located == ERROR_INSUFFICIENT_BUFFER ? kImplementationLimit : located);
    }
    const std::wstring binaryPath = BinaryPath();

    scm_.reset(::OpenSCManagerW(nullptr, SERVICES_ACTIVE_DATABASEW, SC_MANAGER_ALL_ACCESS));
    if (!scm_) {
        const DWORD error = ::GetLastError();
        LOG(LogLevel::Error, "%s", "Failed to open SCManager, while calling OpenSCManager.");
        return scope.Result(error);
    }

    // A dependency name that does not fit the list would be cut to another service's name.
    std::vector<wchar_t> dependencies;
    if (!BuildDependencyList(dependOnService, dependencies)) {
        LOG(LogLevel::Error, "DependOnService of service %S is longer than %u characters.", serviceName.c_str(),
            static_cast<unsigned>(kMaxDependencyLength));
        return scope.Result(ERROR_INVALID_PARAMETER);
    }

    service_.reset(::CreateServiceW(scm_.get(), serviceName.c_str(), displayName.c_str(), SERVICE_ALL_ACCESS,
                                    SERVICE_WIN32_OWN_PROCESS, static_cast<DWORD>(start), SERVICE_ERROR_NORMAL,
                                    binaryPath.c_str(), nullptr, nullptr, dependencies.data(), nullptr, nullptr));
    if (!service_) {
        const DWORD error = ::GetLastError();
        LOG(LogLevel::Error, "%s", "Failed to create service, while calling CreateService.");
        return scope.Result(error);
    }

    FailureActionTable table = BuildFailureActions(failureRestart.resetPeriod, failureRestart.restartCount,
                                                   failureRestart.restartDelay);
    if (table.skipped) {
        LOG(LogLevel::Warning, "No failure actions set for service %S: %s (%d).", serviceName.c_str(), table.skipReason,
            static_cast<int>(failureRestart.restartCount));
    } else {
        SERVICE_FAILURE_ACTIONSW actions{};
        actions.dwResetPeriod = table.resetPeriod;
        actions.cActions = table.actionCount;
        actions.lpsaActions = table.actions.data();
        const DWORD changed = ResultFromBool(::ChangeServiceConfig2W(service_.get(), SERVICE_CONFIG_FAILURE_ACTIONS,
                                                                     &actions));
        if (changed != ERROR_SUCCESS) {
            LOG(LogLevel::Error, "%s", "Failed to change Service Config.");
            return scope.Result(changed);
        }
    }

    const DWORD described = SetServiceDescription(service_.get(), description);
    if (described != ERROR_SUCCESS) {
        LOG(LogLevel::Detail, "%s", "Failed to install the Service.");
        return scope.Result(described);
    }

    StartTheDrivers();
    DWORD result = ERROR_SUCCESS;
    if (start == SERVICE_AUTO_START) result = StartTheService();
    LOG(LogLevel::Detail, "%s", "Successfully Installed the Service.");
    return scope.Result(result);
}

DWORD Service::UnInstall() {
    FunctionScope scope(kLogModule, "Service::UnInstall");
    const DWORD stopped = StopService();
    if (stopped != ERROR_SUCCESS) {
        LOG(LogLevel::Error, "Failed to Stop %S service.", serviceName.c_str());
        return scope.Result(stopped);
    }
    if (!::DeleteService(service_.get())) {
        const DWORD error = ::GetLastError();
        LOG(LogLevel::Error, "%s", "Failed to delete the service. Service Uninstall Failed.");
        return scope.Result(error);
    }
    LOG(LogLevel::Detail, "Succeeded uninstalling %S service.", serviceName.c_str());
    return scope.Result(ERROR_SUCCESS);
}

DWORD Service::RollBackInstall() {
    FunctionScope scope(kLogModule, "Service::RollBackInstall");
    const DWORD result = UnInstall();
    if (result != ERROR_SERVICE_REQUEST_TIMEOUT || !service_) return scope.Result(result);
    if (!::DeleteService(service_.get()) && ::GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
        return scope.Result(result);
    }
    LOG(LogLevel::Warning, "Service %S did not stop; it is marked for deletion and goes once it has stopped.",
        serviceName.c_str());
    return scope.Result(ERROR_SUCCESS);
}

DWORD Service::Repair() {
    FunctionScope scope(kLogModule, "Service::Repair");
    {
        const UniqueServiceHandle scm = OpenServiceManager(SC_MANAGER_ALL_ACCESS);
        if (!ServiceExists(scm.get(), serviceName)) return scope.Result(Install());
    }

    // Each repair runs on the handle of the stop that precedes a repair; a failure does not stop
    // the next one, and the last failure is the result.
    DWORD result = ERROR_SUCCESS;
    const DWORD described = SetServiceDescription(service_.get(), description);
    if (described != ERROR_SUCCESS) {
        LOG(LogLevel::Error, "Failed to repair Service description, Error Code: %d", static_cast<int>(described));
        result = described;
    }
    // The same quoted path as Install writes.
    const DWORD pathSet = SetServiceBinaryPath(service_.get(), BinaryPath());
    if (pathSet != ERROR_SUCCESS) {
        LOG(LogLevel::Error, "Failed to repair Service Binary-Path, Error Code: %d", static_cast<int>(pathSet));
        result = pathSet;
    }
    const DWORD startType = CheckAndSetServiceStartType();
    if (startType != ERROR_SUCCESS) {
        LOG(LogLevel::Error, "Failed to repair Service Start Type, Error Code: %d", static_cast<int>(startType));
        result = startType;
    }

    if (result != ERROR_SUCCESS) LOG(LogLevel::Error, "Failed to repair Service, Error Code: %d", static_cast<int>(result));
    else LOG(LogLevel::Detail, "%s", "Service Repair Successful.");
    return scope.Result(result);
}

DWORD Service::Verify() {
    FunctionScope scope(kLogModule, "Service::Verify");
    scm_.reset(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
    if (!scm_) {
        const DWORD error = ::GetLastError();
        ConsolePrintf(L"\nFailed to open SCManager. Error code %u", error);
        return scope.Result(error);
    }
    service_.reset(::OpenServiceW(scm_.get(), serviceName.c_str(), SERVICE_QUERY_STATUS));
    if (!service_) {
        const DWORD error = ::GetLastError();
        ConsolePrintf(L"\nVerification failed for registration of service with Windows Service Manager for %s. Error code %u",
                      serviceName.c_str(), error);
        return scope.Result(error);
    }
    if (start != SERVICE_AUTO_START) return scope.Result(ERROR_SUCCESS);

    SERVICE_STATUS status{};
    ::QueryServiceStatus(service_.get(), &status);
    if (status.dwCurrentState != SERVICE_RUNNING) {
        ConsolePrintf(L"\nVerification failed for service startup type for %s. Expected was %u, actual is %u",
                      serviceName.c_str(), static_cast<unsigned>(SERVICE_RUNNING),
                      static_cast<unsigned>(status.dwCurrentState));
        return scope.Result(ERROR_SERVICE_NOT_ACTIVE);
    }
    ConsolePrintf(L"\nVerification succeeded for service %s.", serviceName.c_str());
    return scope.Result(ERROR_SUCCESS);
}
