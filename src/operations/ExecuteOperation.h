#pragma once
#include <string>
#include "engine/IInstallable.h"
#include "xml/XmlDocument.h"

// A packaged installer program run quietly during Install.
class ExecuteOperation : public IInstallable {
public:
    static const wchar_t* ElementName() { return L"ExecuteOperation"; }
    void Bind(const XmlNode& node);

    DWORD Install() override;

    const std::wstring& Source() const { return source_; }
    const std::wstring& FileName() const { return fileName_; }
    const std::wstring& Sha256() const { return sha256_; }

private:
    std::wstring source_;
    std::wstring fileName_;
    std::wstring sha256_;
};

// Pure: the command line that starts `fileName` from `programDirectory` + `source`, with the
// program path quoted and " /q" appended. Empty when it does not fit the 260-character buffer.
std::wstring BuildExecuteCommandLine(const std::wstring& programDirectory, const std::wstring& source,
                                     const std::wstring& fileName);
