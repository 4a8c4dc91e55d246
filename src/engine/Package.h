#pragma once
// The installation document's root: its features, run in document order.
#include <memory>
#include <string>
#include <vector>
#include "engine/Feature.h"
#include "engine/IInstallable.h"
#include "xml/XmlDocument.h"

class Package : public IInstallable {
public:
    static const wchar_t* ElementName() { return L"Package"; }
    static const wchar_t* SchemaName() { return L"install.xsd"; }
    void Bind(const XmlNode& node);

    DWORD Install() override;
    DWORD UnInstall() override;
    DWORD Repair() override;
    DWORD Upgrade() override;
    DWORD Verify() override;

    DWORD IsPreRequisitesInstalled() const;

    std::vector<std::unique_ptr<Feature>> features;
    std::wstring tarnexVersion;
    std::wstring schemaVersion;
};

bool ReadRegistryString(const std::wstring& keyPath, const std::wstring& valueName, std::wstring& value);
DWORD RemoveInstallDirectory(const std::wstring& path);
