#pragma once
// One feature of the installation document: its elements, visited kind by kind in a fixed order.
#include <memory>
#include <string>
#include <vector>
#include "engine/IInstallable.h"
#include "drivers/Driver.h"
#include "operations/DirectoryOperation.h"
#include "operations/ExecuteOperation.h"
#include "operations/FileOperation.h"
#include "operations/RegistryOperation.h"
#include "services/Service.h"
#include "xml/XmlDocument.h"

class Feature : public IInstallable {
public:
    static const wchar_t* ElementName() { return L"Feature"; }
    void Bind(const XmlNode& node);

    DWORD Install() override;
    DWORD UnInstall() override;
    DWORD Repair() override;
    DWORD Upgrade() override;
    DWORD Verify() override;

    DWORD InstallCore();
    DWORD UnInstallCore();
    DWORD RepairCore();
    DWORD UpgradeCore();
    void ValidateOemContentPresence();

    std::wstring tag;
    std::vector<std::unique_ptr<ExecuteOperation>> executables;
    std::vector<std::unique_ptr<FileOperation>> files;
    std::vector<std::unique_ptr<RegistryOperation>> registryOperations;
    std::vector<std::unique_ptr<DirectoryOperation>> directoryOperations;
    std::vector<std::unique_ptr<Service>> services;
    std::vector<std::unique_ptr<Driver>> drivers;
};

// True, with the refusal logged, for a directory that no install step may empty or remove
// (IsProtectedDirectory).
bool RefuseProtectedDirectory(const std::wstring& path);

// Empties and removes a directory; true when it is gone.
bool DeleteDirectoryContents(const std::wstring& path);
