#pragma once
// Registry elements: RegistryOperation groups RegKey elements, each RegKey groups RegValue
// elements. RegValue and RegKey are also the general registry writers built in code.
#include <memory>
#include <string>
#include <vector>
#include "engine/IInstallable.h"
#include "xml/XmlDocument.h"

class RegValue : public IInstallable {
public:
    RegValue() = default;
    // Built in code: the platform stays the running one, so the value always passes the filter.
    // Empty type and name create the key alone.
    RegValue(std::wstring keyPath, std::wstring name, std::wstring type, std::wstring data, bool keepExisting);

    // A data text as the registry stores it. `type` is REG_NONE, with no bytes, for a type word
    // other than "DWORD", "SZ" and "MULTI_SZ" (nothing is written); `error` is ERROR_INVALID_DATA,
    // with no bytes, for a MULTI_SZ text of more than 16383 characters.
    struct Encoded {
        DWORD type = REG_NONE;
        std::vector<BYTE> bytes;
        DWORD error = ERROR_SUCCESS;
    };
    // DWORD: the number the text starts with as "%u" reads it (0 when none), 4 bytes; SZ: the
    // text and its terminating NUL; MULTI_SZ: the text with one NUL for each "\0" pair, then two
    // NULs. No variable is expanded and no override applied: the caller does both first.
    static Encoded Encode(const std::wstring& type, const std::wstring& data);

    static const wchar_t* ElementName() { return L"RegValue"; }
    void Bind(const XmlNode& node);

    DWORD Install() override;
    DWORD Verify() override;

    void SetKeyPath(const std::wstring& keyPath) { keyPath_ = keyPath; }
    const std::wstring& KeyPath() const { return keyPath_; }
    const std::wstring& Name() const { return name_; }
    const std::wstring& Type() const { return type_; }
    const std::wstring& Data() const { return data_; }
    bool KeepExisting() const { return keepExisting_; }

private:
    std::wstring type_;
    std::wstring name_;
    std::wstring data_;
    std::wstring keyPath_;
    bool keepExisting_ = false;
};

class RegKey : public IInstallable {
public:
    RegKey() = default;
    explicit RegKey(std::wstring keyPath) : keyPath_(std::move(keyPath)) {}

    static const wchar_t* ElementName() { return L"RegKey"; }
    void Bind(const XmlNode& node);

    DWORD Install() override;
    DWORD UnInstall() override;   // deletes the key tree
    DWORD Verify() override;

    const std::wstring& KeyPath() const { return keyPath_; }
    const std::vector<std::unique_ptr<RegValue>>& Values() const { return values_; }

private:
    std::wstring keyPath_;
    std::vector<std::unique_ptr<RegValue>> values_;
};

class RegistryOperation : public IInstallable {
public:
    static const wchar_t* ElementName() { return L"RegistryOperation"; }
    void Bind(const XmlNode& node);

    DWORD Install() override;
    DWORD UnInstall() override;
    DWORD Repair() override;
    DWORD Upgrade() override;
    DWORD Verify() override;

    const std::vector<std::unique_ptr<RegKey>>& Keys() const { return keys_; }
    const std::wstring& Operation() const { return operation_; }

private:
    std::vector<std::unique_ptr<RegKey>> keys_;
    std::wstring operation_;
};
