#pragma once
#include <string>
#include "engine/IInstallable.h"
#include "xml/XmlDocument.h"

class FilesAhead;

// One file of the package: copied into place with its digest checked, deleted, repaired,
// upgraded by version, and verified.
class FileOperation : public IInstallable {
public:
    static const wchar_t* ElementName() { return L"FileOperation"; }
    void Bind(const XmlNode& node);

    DWORD Install() override;
    DWORD UnInstall() override;
    // As Install and UnInstall, taking the file's work from `ahead` (file `index` of its run)
    // when it was done there.
    DWORD Install(FilesAhead* ahead, size_t index);
    DWORD UnInstall(FilesAhead* ahead, size_t index);
    DWORD Repair() override;
    DWORD Upgrade() override;
    DWORD Verify() override;

    const std::wstring& FileName() const { return fileName_; }
    const std::wstring& Source() const { return source_; }
    const std::wstring& Destination() const { return destination_; }
    const std::wstring& Sha256() const { return sha256_; }
    const std::wstring& Operation() const { return operation_; }

    std::wstring SourcePath() const;
    std::wstring TargetPath();   // expands the destination in place
    std::wstring PlannedTargetPath() const;   // the same path, leaving the destination as it is

private:
    std::wstring TargetIn(const std::wstring& destination) const;   // the expanded destination, or the install directory

    std::wstring operation_;
    std::wstring source_;
    std::wstring destination_;
    std::wstring sha256_;
    std::wstring fileName_;
};
