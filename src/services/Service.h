#pragma once
// The engine's Windows service element: bound from the installation document.
#include <string>
#include "engine/IInstallable.h"
#include "shell/Handles.h"
#include "xml/XmlDocument.h"

class FailureRestart {
public:
    static const wchar_t* ElementName() { return L"FailureRestart"; }
    void Bind(const XmlNode& node);

    long resetPeriod = 0;
    long restartCount = 0;
    long restartDelay = 0;
};

class Service : public IInstallable {
public:
    static const wchar_t* ElementName() { return L"Service"; }
    void Bind(const XmlNode& node);

    DWORD Install() override;
    DWORD UnInstall() override;
    DWORD Repair() override;
    DWORD Verify() override;
    // The rollback of a failed install that registered this service: UnInstall, and when the
    // service does not stop (an engine that died while starting may stay "start pending" in the
    // SCM), it is marked for deletion all the same, so that no registration of the failed install
    // outlives it: the SCM deletes it once it has stopped, at the latest at the restart.
    DWORD RollBackInstall();

    // Service control, used by the element and by the action controller around uninstall,
    // repair and upgrade. StartTheService and CheckAndSetServiceStartType need the service handle
    // of Install or of a preceding StopService; StopService opens both handles itself and leaves
    // them open for the operation that follows.
    DWORD StartTheService();
    DWORD StopService();
    DWORD CheckAndSetServiceStartType();
    // Initialises the network-control library once; failures are only logged.
    void StartTheDrivers();
    // Lifts the service's lockdown: 0, or the lockdown's error code.
    DWORD DisableServiceLockdown();

    std::wstring location;
    std::wstring control;
    std::wstring serviceFile;
    std::wstring serviceName;
    std::wstring displayName;
    std::wstring description;
    std::wstring dependOnService;
    long start = 0;
    FailureRestart failureRestart;

private:
    // The binary path as the SCM is given it: quoted, so that a space in the install directory
    // cannot make the SCM start another program.
    std::wstring BinaryPath() const;
    // After the start succeeded: waits until the scanner reports that it has initialised.
    DWORD WaitForScanner(DWORD intervalMs);

    UniqueServiceHandle scm_;
    UniqueServiceHandle service_;
};
