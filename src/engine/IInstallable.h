#pragma once
// The base of every element of both documents: five operations, one per action, each returning
// a Win32 code. A slot an element does not implement does nothing and returns 0.
#include <windows.h>
#include <string>

// The running processor's name: "x64", "x86", "ia64" or "Unknown architecture".
std::wstring RunningArchitectureName();
// Pure form of the name mapping, for a PROCESSOR_ARCHITECTURE_* value.
std::wstring ArchitectureNameFor(unsigned short processorArchitecture);

// Pure form of the platform filter: whether an element meant for `platform` suits `running`.
bool PlatformMatches(const std::wstring& platform, const std::wstring& running);

// Pure form of the leading-variable expansion. Returns the expanded text.
struct ExpansionValues {
    std::wstring installDirectory;
    std::wstring contentPath;
    std::wstring systemDirectory;   // ends with a backslash
    std::wstring realtimeScanSddl;
    std::wstring configurationSddl;
};
std::wstring ExpandLeadingVariable(const std::wstring& text, const ExpansionValues& values);

class IInstallable {
public:
    IInstallable();
    // Owners hold elements by their concrete type; the virtual destructor keeps owning vectors of
    // base pointers safe as well.
    virtual ~IInstallable() = default;

    virtual DWORD Install() { return ERROR_SUCCESS; }
    virtual DWORD UnInstall() { return ERROR_SUCCESS; }
    virtual DWORD Repair() { return ERROR_SUCCESS; }
    virtual DWORD Upgrade() { return ERROR_SUCCESS; }
    virtual DWORD Verify() { return ERROR_SUCCESS; }

    // Expands a leading "$INSTALL_PATH", "$CONTENT_PATH", "$SYSTEM_DIR", "$REALTIME_SCAN_SD" or
    // "$CONFIG_SD" in place, from the install context.
    void ReplaceEnvVariable(std::wstring& text) const;

    const std::wstring& Platform() const { return platform_; }
    void SetPlatform(const std::wstring& platform) { platform_ = platform; }
    const std::wstring& SystemDirectory() const { return systemDirectory_; }

protected:
    std::wstring platform_;
    std::wstring systemDirectory_;
};

// Configuration-side elements: Repair and Upgrade write exactly what Install writes.
class IConfigInstallable : public IInstallable {
public:
    DWORD Repair() override { return Install(); }
    DWORD Upgrade() override { return Install(); }
};

// Whether the element's platform suits the running processor.
bool IsPlatformMatch(const IInstallable& element);
