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

// Removes an empty directory now or, when it is there but cannot be removed now, at the next
// restart (setting RebootPending): 0, or the error of scheduling it. The lines it logs carry
// `logModule`, the caller's module name; `reportRetry` adds the line announcing the restart.
DWORD RemoveDirectoryNowOrAtRestart(const char* logModule, const std::wstring& path, bool reportRetry);
