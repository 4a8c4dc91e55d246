#pragma once
// The action controller: one action over the bound package and the optional configuration.
#include <windows.h>
#include <string>
#include "engine/Package.h"
#include "shell/CommandLine.h"

// `configurationPath` and `quarantineDirectory` are null when not given.
DWORD PerformAction(Package& package, Action action, const std::wstring* configurationPath,
                    const std::wstring& installDirectory, const std::wstring& contentPath,
                    const std::wstring* quarantineDirectory, bool waitForService);

DWORD Install(Package& package, const std::wstring& installDirectory);
DWORD UnInstall(Package& package);
DWORD Repair(Package& package, const std::wstring* configurationPath, const std::wstring& installDirectory,
             const std::wstring& contentPath, const std::wstring* quarantineDirectory);
DWORD RepairFiles(const std::wstring& installDirectory, const std::wstring& contentPath, Package& package);
DWORD Upgrade(Package& package);
DWORD InstallConfiguration(const std::wstring& path);
DWORD UnInstallConfiguration(const std::wstring& path);
DWORD VerifyConfiguration(const std::wstring& path);
void SetQuarantineDirectory(const std::wstring& directory);
bool IsDirectoryEmpty(const std::wstring& directory);
