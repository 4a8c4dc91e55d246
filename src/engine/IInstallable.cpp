#include "engine/IInstallable.h"

#include <shlobj.h>
#include "engine/InstallContext.h"

std::wstring ArchitectureNameFor(unsigned short processorArchitecture) {
    switch (processorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64: return L"x64";
    case PROCESSOR_ARCHITECTURE_INTEL: return L"x86";
    case PROCESSOR_ARCHITECTURE_IA64: return L"ia64";
    default: return L"Unknown architecture";
    }
}

std::wstring RunningArchitectureName() {
    SYSTEM_INFO info{};
    ::GetSystemInfo(&info);
    return ArchitectureNameFor(info.wProcessorArchitecture);
}

bool PlatformMatches(const std::wstring& platform, const std::wstring& running) {
    if (platform == L"x64" && (running == L"x86" || running == L"ia64")) return false;
    if (platform == L"x86" && (running == L"x64" || running == L"ia64")) return false;
    if (platform == L"ia64" && (running == L"x64" || running == L"x86")) return false;
    return true;
}

bool IsPlatformMatch(const IInstallable& element) {
    return PlatformMatches(element.Platform(), RunningArchitectureName());
}

std::wstring ExpandLeadingVariable(const std::wstring& text, const ExpansionValues& values) {
    struct Variable { const wchar_t* name; const std::wstring* replacement; };
    const Variable variables[] = {
        { L"$INSTALL_PATH", &values.installDirectory },
        { L"$CONTENT_PATH", &values.contentPath },
        { L"$SYSTEM_DIR", &values.systemDirectory },
        { L"$REALTIME_SCAN_SD", &values.realtimeScanSddl },
        { L"$CONFIG_SD", &values.configurationSddl },
    };
    for (const auto& variable : variables) {
        const size_t length = wcslen(variable.name);
        if (text.compare(0, length, variable.name) == 0 && text.size() >= length) {
            return *variable.replacement + text.substr(length);
        }
    }
    return text;
}

namespace {
std::wstring SystemDirectoryWithBackslash() {
    wchar_t buffer[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_SYSTEM, nullptr, SHGFP_TYPE_CURRENT, buffer))) return L"";
    std::wstring directory(buffer);
    directory += L'\\';
    return directory;
}
} // namespace

// Neither value changes while the process runs; every element reads the same answer.
IInstallable::IInstallable() {
    static const std::wstring architecture = RunningArchitectureName();
    static const std::wstring systemDirectory = SystemDirectoryWithBackslash();
    platform_ = architecture;
    systemDirectory_ = systemDirectory;
}

void IInstallable::ReplaceEnvVariable(std::wstring& text) const {
    const InstallContextData& context = InstallContext();
    ExpansionValues values{ context.installDirectory, context.contentPath, systemDirectory_,
                            context.realtimeScanSddl, context.configurationSddl };
    text = ExpandLeadingVariable(text, values);
}
