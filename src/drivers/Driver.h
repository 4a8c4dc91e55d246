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

class Driver : public IInstallable {
public:
    static const wchar_t* ElementName() { return L"Driver"; }
    void Bind(const XmlNode& node);

    DWORD Install() override;
    DWORD UnInstall() override;
    DWORD Repair() override;
    DWORD Upgrade() override;
    DWORD Verify() override;

    std::wstring bootload;
    std::vector<std::unique_ptr<SysFile>> sysFiles;
    InfFile infFile;
};
