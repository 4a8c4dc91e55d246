#pragma once
// One policy element of the configuration document (OASPolicy, ODSPolicy or GlobalPolicy); its
// value elements are CPolicyData.
#include <memory>
#include <string>
#include <vector>
#include "engine/IInstallable.h"
#include "policy/CPolicyData.h"
#include "xml/XmlDocument.h"

class CPolicy : public IConfigInstallable {
public:
    // kind: "OAS", "ODS" or "BULWARKGLOBAL"
    explicit CPolicy(std::wstring kind) : kind_(std::move(kind)) {}

    void Bind(const XmlNode& node);

    DWORD Install() override;
    DWORD UnInstall() override;
    DWORD Verify() override;

    // "HKLM\SOFTWARE\Norvex\Coravel\<kind>\<key>"
    std::wstring KeyPath() const;

    std::wstring key;
    const std::wstring& Kind() const { return kind_; }
    std::vector<std::unique_ptr<CPolicyData>> values;

private:
    std::wstring kind_;
};
