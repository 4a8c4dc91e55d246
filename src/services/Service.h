#pragma once
// The engine's Windows service element: bound from the installation document.
#include <string>
#include "engine/IInstallable.h"
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

    // Service control used by the action controller around repair and upgrade.
    DWORD StartTheService();
    DWORD StopService();
    // Failures are only logged.
    void StartTheDrivers();

    std::wstring location;
    std::wstring control;
    std::wstring serviceFile;
    std::wstring serviceName;
    std::wstring displayName;
    std::wstring description;
    std::wstring dependOnService;
    long start = 0;
    FailureRestart failureRestart;
};
