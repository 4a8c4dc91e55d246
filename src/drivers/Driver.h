#pragma once
// A kernel driver installed from an INF file: bound from the installation document.
#include <memory>
#include <string>
#include <vector>
#include "engine/IInstallable.h"
#include "xml/XmlDocument.h"

struct SysFile {
    static const wchar_t* ElementName() { return L"SysFile"; }
    void Bind(const XmlNode& node);

    std::wstring sha256;
    std::wstring fileName;
};

class InfFile : public IInstallable {
public:
    static const wchar_t* ElementName() { return L"InfFile"; }
    void Bind(const XmlNode& node);

    std::wstring sha256;
    std::wstring fileName;
};

// The INF, its catalog and the driver files ship next to the program; install checks their
// digests, runs the INF's install section and services section, and keeps a copy of the INF in
// the drivers directory, from which uninstall and verify work.
class Driver : public IInstallable {
public:
    static const wchar_t* ElementName() { return L"Driver"; }
    void Bind(const XmlNode& node);

    DWORD Install() override;
    DWORD UnInstall() override;
    DWORD Repair() override;
    DWORD Upgrade() override;
    DWORD Verify() override;

    // Runs one section through the INF engine (advpack.dll) with the INF's directory as the
    // current directory: 0, or the low 16 bits of the engine's failure.
    DWORD ExecuteSectionFromInfFile(const std::wstring& infPath, const std::string& arguments) const;
    DWORD InstallDriver(const std::wstring& infPath) const;
    DWORD InstallFromDirectory(const std::wstring& directory) const;
    DWORD UnInstallServices(const std::wstring& infPath) const;
    // True when the INF and every driver file in `directory` pass their digest checks; otherwise
    // false with the failing check's code.
    bool CheckPackageFiles(const std::wstring& directory, DWORD& errorCode) const;
    // Whether the service named after the INF is registered.
    bool DriverServiceExists() const;
    // Compares the values the installed INF's NvxAddReg section adds with the registry.
    DWORD VerifyAddReg() const;
    // Digest and catalog membership of the installed driver files.
    DWORD VerifyDriverFiles() const;

    // Tombstone of a driver service: "DeleteFlag" 1 and "Start" 4 (disabled) on its key; removing
    // it deletes "DeleteFlag" and sets "Start" 3. Both only log; they always return 0.
    static DWORD EnsureTombStoneIsPresent(const std::wstring& serviceName);
    static DWORD RemoveTombStoneIfPresent(const std::wstring& serviceName);
    // Reruns the INF and replaces the installed INF and driver files whose digests differ from
    // the package's, at the next restart when a file is busy and the action allows it.
    DWORD RepairDriverFile() const;

    // The system's drivers directory, with a trailing backslash.
    std::wstring DriversDirectory() const { return systemDirectory_ + L"drivers\\"; }

    std::wstring bootload;
    std::vector<std::unique_ptr<SysFile>> sysFiles;
    InfFile infFile;

private:
    DWORD ReplaceDriverFile(const std::wstring& programDirectory, const std::wstring& name,
                            const std::wstring& sha256) const;
};

// The catalog an INF names ("CatalogFile" of its [Version] section): true with the name when the
// entry is present and not empty.
bool GetCatalogFileName(const std::wstring& infPath, std::wstring& catalogName);
