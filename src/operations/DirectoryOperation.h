#pragma once
#include <string>
#include "engine/IInstallable.h"
#include "xml/XmlDocument.h"

// One directory: created on install, removed (or at restart) on uninstall, checked on verify.
class DirectoryOperation : public IInstallable {
public:
    static const wchar_t* ElementName() { return L"DirectoryOperation"; }
    void Bind(const XmlNode& node);

    DWORD Install() override;
    DWORD UnInstall() override;
    DWORD Verify() override;

    // The owner expands and empties the directory before UnInstall.
    std::wstring& Path() { return path_; }
    const std::wstring& Operation() const { return operation_; }

private:
    std::wstring path_;
    std::wstring operation_;
};
