#pragma once
// The configuration document's root: scanning policies and install overrides.
#include <memory>
#include <string>
#include <vector>
#include "engine/IInstallable.h"
#include "xml/XmlDocument.h"

class CPolicy;

class InstallOverride : public virtual IInstallable {
public:
    static const wchar_t* ElementName() { return L"InstallOverride"; }
    void Bind(const XmlNode& node);

    DWORD Install() override;     // records the overrides
    DWORD Repair() override { return Install(); }
    DWORD Upgrade() override { return Install(); }
    DWORD Verify() override;      // records the overrides too, writes nothing

    // Records the four overrides in InstallOverrideTable (a name already recorded keeps its value).
    void Record() const;

    std::wstring productId;
    std::wstring serviceStartMode;
    std::wstring contentMajorVersion;
    std::wstring contentMinorVersion;
};

class Configuration : public IConfigInstallable {
public:
    Configuration();
    ~Configuration() override;

    static const wchar_t* ElementName() { return L"Configuration"; }
    static const wchar_t* SchemaName() { return L"nvxcrvconfig.xsd"; }
    void Bind(const XmlNode& node);

    DWORD Install() override;
    DWORD UnInstall() override;
    DWORD Verify() override;

    std::vector<std::unique_ptr<CPolicy>> oasPolicies;
    std::vector<std::unique_ptr<CPolicy>> odsPolicies;
    std::vector<std::unique_ptr<CPolicy>> globalPolicies;
    InstallOverride installOverride;
};
