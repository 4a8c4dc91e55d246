#pragma once
// One policy value element of the configuration document and the list records it may hold.
#include <memory>
#include <string>
#include <vector>
#include "engine/IInstallable.h"
#include "xml/XmlDocument.h"

// Bound "Exclusion" record. Numbers absent from the document stay 0.
struct Exclusion {
    static const wchar_t* ElementName() { return L"Exclusion"; }
    void Bind(const XmlNode& node);

    unsigned long flags = 0;
    unsigned long type = 0;
    unsigned long numDays = 0;
    std::wstring pattern;
};

// Bound "UnwantedFile" record.
struct UnwantedFile {
    static const wchar_t* ElementName() { return L"UnwantedFile"; }
    void Bind(const XmlNode& node);

    std::wstring detectionName;
    std::wstring filePath;
};

// One policy value element, written as one registry value of its policy's key.
class CPolicyData : public IConfigInstallable {
public:
    CPolicyData() = default;
    // Built in code (the backup-directory entry).
    CPolicyData(std::wstring name, std::wstring valueText, std::wstring keepExisting, std::wstring keyPath);

    static const wchar_t* ElementName() { return L"./*"; }
    void Bind(const XmlNode& node);

    DWORD Install() override;
    DWORD Verify() override;

    // The registry type word ("DWORD", "SZ", "MULTI_SZ") and data text of this value; 87 with
    // both left empty for an element the catalogue does not know.
    DWORD GetRegistryValue(std::wstring& type, std::wstring& data) const;

    void SetKeyPath(const std::wstring& keyPath) { keyPath_ = keyPath; }
    const std::wstring& KeyPath() const { return keyPath_; }

    std::wstring name;
    std::wstring keepExisting;
    std::wstring valueText;
    std::vector<std::wstring> listItems;
    std::vector<std::unique_ptr<Exclusion>> exclusions;
    std::vector<std::unique_ptr<UnwantedFile>> unwantedFiles;

private:
    std::wstring keyPath_;
};
