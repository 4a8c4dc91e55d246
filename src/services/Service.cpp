#include "services/Service.h"

#include "shell/Log.h"
#include "xml/Binding.h"

static const char kLogModule[] = ".\\Service";

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

// This build binds service elements but cannot yet create, configure, start or stop services:
// every machine operation below says so in the log and fails with ERROR_CALL_NOT_IMPLEMENTED, so
// that a document with services never reports an install it did not do.
namespace {
DWORD NotSupported(const char* operation, const std::wstring& serviceName) {
    LOG(LogLevel::Error, "%s: service elements are not supported by this build (service %S)", operation,
        serviceName.c_str());
    return ERROR_CALL_NOT_IMPLEMENTED;
}
} // namespace

DWORD Service::Install() { return NotSupported("Service::Install", serviceName); }
DWORD Service::UnInstall() { return NotSupported("Service::UnInstall", serviceName); }
DWORD Service::Repair() { return NotSupported("Service::Repair", serviceName); }
DWORD Service::Verify() { return NotSupported("Service::Verify", serviceName); }
DWORD Service::StartTheService() { return NotSupported("Service::StartTheService", serviceName); }
DWORD Service::StopService() { return NotSupported("Service::StopService", serviceName); }
void Service::StartTheDrivers() { NotSupported("Service::StartTheDrivers", serviceName); }
