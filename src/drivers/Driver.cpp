#include "drivers/Driver.h"

#include <setupapi.h>
#include <vector>
#include "drivers/Catalog.h"
#include "drivers/DriverInf.h"
#include "engine/InstallContext.h"
#include "operations/FileDigest.h"
#include "operations/FileHelpers.h"
#include "operations/RegistryOperation.h"
#include "services/ScmHelpers.h"
#include "shell/ChangeDir.h"
#include "shell/Console.h"
#include "shell/Handles.h"
#include "shell/Log.h"
#include "shell/Result.h"
#include "xml/Binding.h"

static const char kLogModule[] = ".\\Driver";

void SysFile::Bind(const XmlNode& node) {
    BindAttribute(node, L"sha256", sha256);
    BindText(node, fileName);
}

// The schema allows a "platform" attribute here; it is deliberately not bound, so an INF file
// always suits the running platform.
void InfFile::Bind(const XmlNode& node) {
    BindAttribute(node, L"sha256", sha256);
    BindText(node, fileName);
}

void Driver::Bind(const XmlNode& node) {
    BindAttribute(node, L"bootload", bootload);
    BindChildren(node, sysFiles);
    BindChild(node, infFile);
}

namespace {

inline void CloseInf(HINF inf) { ::SetupCloseInfFile(inf); }
using UniqueInf = UniqueHandle<HINF, &CloseInf, InvalidValue::MinusOne>;

typedef HRESULT(WINAPI* LaunchInfSectionFunction)(HWND, HINSTANCE, PSTR, INT);

const wchar_t kAddRegSection[] = L"NvxAddReg";
const DWORD kInitialSectionUnits = 1024;
// A section beyond this is not an INF anyone wrote; reading stops rather than growing forever.
const DWORD kMaximumSectionUnits = 16 * 1024 * 1024;
const DWORD kStringUnits = 512;
const DWORD kLongestInfStringUnits = 8192;   // holds 4096 characters, the quotes and the NUL
const DWORD kErrorImplementationLimit = 1292;   // ERROR_IMPLEMENTATION_LIMIT

#ifdef _MSC_VER
#pragma warning(push)
#pragma warning(disable : 4996)   // GetVersionExW is declared deprecated
#endif
// Systems before major version 6 check a driver's embedded signature before the install.
bool IsVistaOrLater() {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!::GetVersionExW(&info)) return true;
    return info.dwMajorVersion >= 6;
}
#ifdef _MSC_VER
#pragma warning(pop)
#endif

// A string of the INF's Strings section. Most fit kStringUnits; one that may have been cut (the
// system cuts a quoted value one unit short of the buffer) is read again in larger buffers up to
// the longest an INF may hold (4096 characters and its quotes), so that a long value is never
// compared cut short.
std::wstring ReadInfString(const std::wstring& infPath, const std::wstring& name) {
    std::vector<wchar_t> value;
    DWORD length = 0;
    for (DWORD units = kStringUnits;; units *= 2) {
        value.assign(units, L'\0');
        length = ::GetPrivateProfileStringW(L"Strings", name.c_str(), L"", value.data(), units, infPath.c_str());
        if (length + 2 < units || units >= kLongestInfStringUnits) break;
    }
    return std::wstring(value.data(), length);
}

DWORD ProgramDirectoryFailure(DWORD code) {
    LOG(LogLevel::Error, "Failed while calling GetModuleFileName for Service dir-path.");
    return code == ERROR_INSUFFICIENT_BUFFER ? kErrorImplementationLimit : code;
}

bool IsLibraryMissing(DWORD code) { return code == ERROR_MOD_NOT_FOUND || code == ERROR_PROC_NOT_FOUND; }

// Opens the INF and runs one of its services sections; the INF is closed again on return.
// `opened` tells which of the two steps the code belongs to.
DWORD RunServicesSection(const std::wstring& infPath, const wchar_t* section, bool& opened) {
    UniqueInf inf(::SetupOpenInfFileW(infPath.c_str(), nullptr, INF_STYLE_OLDNT | INF_STYLE_WIN4, nullptr));
    opened = static_cast<bool>(inf);
    if (!opened) return ::GetLastError();
    return ResultFromBool(::SetupInstallServicesFromInfSectionW(inf.get(), section, SPSVCINST_NOCLOBBER_DISPLAYNAME));
}

} // namespace

bool GetCatalogFileName(const std::wstring& infPath, std::wstring& catalogName) {
    wchar_t buffer[MAX_PATH] = {};
    ::GetPrivateProfileStringW(L"Version", L"CatalogFile", L"", buffer, MAX_PATH, infPath.c_str());
    catalogName = buffer;
    return !catalogName.empty();
}

DWORD Driver::ExecuteSectionFromInfFile(const std::wstring& infPath, const std::string& arguments) const {
    FunctionScope scope(kLogModule, "Driver::ExecuteSectionFromInfFile");
    UniqueModule advpack(::LoadLibraryExW((systemDirectory_ + L"advpack.dll").c_str(), nullptr,
                                          LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!advpack) {
        const DWORD error = ::GetLastError();
        LOG(LogLevel::Error, "Failed to load dll advpack.dll");
        return scope.Result(error);
    }
    const auto launch = reinterpret_cast<LaunchInfSectionFunction>(
        reinterpret_cast<void*>(::GetProcAddress(advpack.get(), "LaunchINFSectionEx")));
    if (!launch) return scope.Result(::GetLastError());

    const size_t slash = infPath.rfind(L'\\');
    const std::wstring directory = slash == std::wstring::npos ? std::wstring() : infPath.substr(0, slash + 1);

    HRESULT outcome = E_FAIL;
    {
        CChangeDir change(directory);
        if (change.Changed()) {
            const std::string commandLine = InfCommandLine(infPath, arguments);
            std::vector<char> buffer(commandLine.begin(), commandLine.end());
            buffer.push_back('\0');
            outcome = launch(nullptr, nullptr, buffer.data(), 0);
        }
    }
    DWORD result = ERROR_SUCCESS;
    if (outcome != S_OK) {
        result = static_cast<DWORD>(outcome) & 0xFFFF;
        LOG(LogLevel::Error, "Failed Driver Install. launchINFSection for %S", infPath.c_str());
    }
    return scope.Result(result);
}

DWORD Driver::InstallDriver(const std::wstring& infPath) const {
    FunctionScope scope(kLogModule, "Driver::InstallDriver");
    const InfCommands commands = InfCommandsFor(platform_);
    const DWORD result = ExecuteSectionFromInfFile(infPath, commands.installArguments);
    if (IsLibraryMissing(result)) return scope.Result(result);

    bool opened = false;
    const DWORD services = RunServicesSection(infPath, commands.installServicesSection, opened);
    if (!opened) {
        LOG(LogLevel::Error, "Failed Driver Install, while calling SetupOpenInfFile for %S", infPath.c_str());
        return scope.Result(services);
    }
    if (services != ERROR_SUCCESS) {
        LOG(LogLevel::Error, "Failed Driver Install, while calling SetupInstallServicesFromInfSection, Error: %d  for %S",
            static_cast<int>(services), infPath.c_str());
        return scope.Result(services);
    }
    // A failed install section fails the install even when the services went in.
    return scope.Result(result);
}

DWORD Driver::InstallFromDirectory(const std::wstring& directory) const {
    FunctionScope scope(kLogModule, "Driver::InstallFromDirectory");
    if (!IsPlatformMatch(infFile)) return scope.Result(ERROR_SUCCESS);
    const std::wstring infPath = directory + infFile.fileName;
    const DWORD installed = InstallDriver(infPath);
    if (installed != ERROR_SUCCESS) return scope.Result(installed);
    LOG(LogLevel::Error, "Successfully installed driver(s) using Inf file %S", infFile.fileName.c_str());

    // Uninstall and verify work from this copy; neither it nor the catalog fails the install.
    InstallHelper::CopyAndReplaceFile(infPath, DriversDirectory() + infFile.fileName);
    std::wstring catalog;
    if (GetCatalogFileName(infPath, catalog) && PathExists(directory + catalog)) AddCatalog(directory + catalog);
    return scope.Result(ERROR_SUCCESS);
}

DWORD Driver::UnInstallServices(const std::wstring& infPath) const {
    FunctionScope scope(kLogModule, "Driver::UnInstallServices");
    const InfCommands commands = InfCommandsFor(platform_);
    const DWORD result = ExecuteSectionFromInfFile(infPath, commands.uninstallArguments);
    if (IsLibraryMissing(result)) return scope.Result(result);

    bool opened = false;
    const DWORD services = RunServicesSection(infPath, commands.uninstallServicesSection, opened);
    if (!opened) {
        LOG(LogLevel::Error, "SetupOpenInfFile Failed");
        return scope.Result(services);
    }
    if (services != ERROR_SUCCESS) {
        LOG(LogLevel::Error, "UnInstallServicesFromInfSection Failed");
        return scope.Result(services);
    }
    DeleteFileLong(infPath);
    return scope.Result(result);
}

bool Driver::CheckPackageFiles(const std::wstring& directory, DWORD& errorCode) const {
    FunctionScope scope(kLogModule, "Driver::CheckPackageFiles");
    errorCode = ERROR_SUCCESS;
    const std::wstring infPath = directory + infFile.fileName;
    if (!VerifyFileDigest(infPath, infFile.sha256, errorCode)) {
        LOG(LogLevel::Error, "Missing/corrupt inf file %S", infPath.c_str());
        scope.Result(errorCode);
        return false;
    }
    for (const auto& sysFile : sysFiles) {
        const std::wstring path = directory + sysFile->fileName;
        if (!VerifyFileDigest(path, sysFile->sha256, errorCode)) {
            LOG(LogLevel::Error, "Missing/corrupt sys file %S", path.c_str());
            scope.Result(errorCode);
            return false;
        }
    }
    scope.Result(ERROR_SUCCESS);
    return true;
}

bool Driver::DriverServiceExists() const {
    FunctionScope scope(kLogModule, "DriverServiceExists");
    UniqueServiceHandle manager = OpenServiceManager(SC_MANAGER_CONNECT);
    if (!manager) return false;
    return ServiceExists(manager.get(), InfServiceName(infFile.fileName));
}

DWORD Driver::Install() {
    FunctionScope scope(kLogModule, "Driver::Install");
    LOG(LogLevel::Information, "Begin installing driver(s) using Inf file %S", infFile.fileName.c_str());
    std::wstring programDirectory;
    const DWORD found = GetProgramDirectory(programDirectory);
    if (found != ERROR_SUCCESS) return scope.Result(ProgramDirectoryFailure(found));

    if (!IsVistaOrLater() && !sysFiles.empty()) {
        const std::wstring first = programDirectory + sysFiles.front()->fileName;
        const DWORD signature = VerifySignature(first);
        LOG(LogLevel::Information, "VerifySignature for XP returned %d for %S", static_cast<int>(signature), first.c_str());
    }

    DWORD result = ERROR_SUCCESS;
    if (!CheckPackageFiles(programDirectory, result)) return scope.Result(result);
    result = InstallFromDirectory(programDirectory);
    LOG(LogLevel::Information, "End installing driver(s) using Inf file %S", infFile.fileName.c_str());
    return scope.Result(result);
}

DWORD Driver::UnInstall() {
    FunctionScope scope(kLogModule, "Driver::UnInstall");
    LOG(LogLevel::Information, "Begin installing driver(s) using Inf file %S", infFile.fileName.c_str());
    // The copy made at install: when it is missing or altered the drivers stay installed.
    const std::wstring installedInf = DriversDirectory() + infFile.fileName;
    DWORD result = ERROR_SUCCESS;
    if (!VerifyFileDigest(installedInf, infFile.sha256, result)) return scope.Result(result);

    if (IsPlatformMatch(infFile)) {
        result = UnInstallServices(installedInf);
        for (const auto& sysFile : sysFiles) {
            const std::wstring service = TombstoneServiceName(sysFile->fileName);
            if (!service.empty()) EnsureTombStoneIsPresent(service);
        }
    }
    return scope.Result(result);
}

DWORD Driver::Verify() {
    DWORD result = ERROR_SUCCESS;
    if (!DriverServiceExists()) {
        ConsolePrintf(L"\nVerification failed for registration of %s with Windows Service Manager.", infFile.fileName.c_str());
        result = ERROR_SERVICE_DOES_NOT_EXIST;
    }
    // Each check below only ever adds a failure: a passing one keeps an earlier code.
    const std::wstring installedInf = DriversDirectory() + infFile.fileName;
    DWORD checked = ERROR_SUCCESS;
    if (!VerifyFileDigest(installedInf, infFile.sha256, checked)) {
        ConsolePrintf(L"\nVerification failed for existance and integrity of file %s.", installedInf.c_str());
        result = checked;
    }
    const DWORD values = VerifyAddReg();
    if (values != ERROR_SUCCESS) result = values;
    const DWORD files = VerifyDriverFiles();
    if (files != ERROR_SUCCESS) result = files;
    if (result == ERROR_SUCCESS)
        ConsolePrintf(L"\nVerification succeeded for Driver installation using %s.", infFile.fileName.c_str());
    return result;
}

DWORD Driver::VerifyDriverFiles() const {
    FunctionScope scope(kLogModule, "Driver::VerifyDriverFiles");
    const std::wstring drivers = DriversDirectory();
    std::wstring catalog;
    const bool hasCatalog = GetCatalogFileName(drivers + infFile.fileName, catalog) && PathExists(drivers + catalog);
    DWORD result = ERROR_SUCCESS;
    for (const auto& sysFile : sysFiles) {
        const std::wstring path = drivers + sysFile->fileName;
        DWORD checked = ERROR_SUCCESS;
        if (!VerifyFileDigest(path, sysFile->sha256, checked)) {
            ConsolePrintf(L"\nVerification failed for existance and integrity of file %s.", path.c_str());
            result = checked;
        }
        if (hasCatalog) {
            const DWORD member = VerifyCatalogMembership(path);
            if (member != ERROR_SUCCESS) {
                ConsolePrintf(L"\nVerification failed for Catalog of %s. Error code: %u", sysFile->fileName.c_str(), member);
                result = member;
            }
        }
    }
    return scope.Result(result);
}

DWORD Driver::VerifyAddReg() const {
    FunctionScope scope(kLogModule, "Driver::VerifyAddReg");
    const std::wstring infPath = DriversDirectory() + infFile.fileName;

    // The whole section: a buffer that is too small comes back filled to its size less two, and
    // the lines past it would go unchecked.
    std::vector<wchar_t> section(kInitialSectionUnits);
    DWORD length = 0;
    for (;;) {
        const DWORD size = static_cast<DWORD>(section.size());
        length = ::GetPrivateProfileSectionW(kAddRegSection, section.data(), size, infPath.c_str());
        if (length + 2 < size) break;
        if (size >= kMaximumSectionUnits) {
            LOG(LogLevel::Error, "Section %S of %S is too long to verify", kAddRegSection, infPath.c_str());
            ConsolePrintf(L"\nVerification failed for registry values of %s.", infPath.c_str());
            return scope.Result(ERROR_INSUFFICIENT_BUFFER);
        }
        section.assign(static_cast<size_t>(size) * 2, L'\0');
    }

    const InfStringLookup lookup = [&infPath](const std::wstring& name) { return ReadInfString(infPath, name); };

    DWORD result = ERROR_SUCCESS;
    for (const std::wstring& line : SplitSectionLines(section.data(), length)) {
        if (line.empty() || line[0] == L';') continue;
        const NvxAddRegValue parsed = ParseNvxAddRegLine(line, lookup);
        if (!parsed.complete) {
            ConsolePrintf(L"\nVerification failed for registry entry \"%s\" of %s: fewer than five fields.", line.c_str(),
                          infPath.c_str());
            result = ERROR_INVALID_DATA;
            continue;
        }
        RegValue value(parsed.keyPath, parsed.name, parsed.type, parsed.data, false);
        const DWORD verified = value.Verify();
        if (verified != ERROR_SUCCESS) result = verified;
    }
    return scope.Result(result);
}

DWORD Driver::EnsureTombStoneIsPresent(const std::wstring& serviceName) {
    FunctionScope scope(kLogModule, "Driver::EnsureTombStoneIsPresent");
    const std::wstring keyPath = DriverServiceKeyPath(serviceName);
    UniqueKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS)
        return scope.Result(ERROR_SUCCESS);
    LOG(LogLevel::Detail, "Found existing %S reg entry.", keyPath.c_str());

    const DWORD deleteFlag = 1;
    if (::RegSetValueExW(key.get(), L"DeleteFlag", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&deleteFlag),
                         sizeof(deleteFlag)) == ERROR_SUCCESS)
        LOG(LogLevel::Detail, "Set/Created DeleteFlag.");
    else
        LOG(LogLevel::Detail, "Failed to Set DeleteFlag.");

    const DWORD disabled = SERVICE_DISABLED;
    if (::RegSetValueExW(key.get(), L"Start", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&disabled),
                         sizeof(disabled)) == ERROR_SUCCESS)
        LOG(LogLevel::Detail, "Set Start=4.");
    else
        LOG(LogLevel::Detail, "Failed to set Start=4.");
    return scope.Result(ERROR_SUCCESS);
}

DWORD Driver::RemoveTombStoneIfPresent(const std::wstring& serviceName) {
    FunctionScope scope(kLogModule, "Driver::RemoveTombStoneIfPresent");
    const std::wstring keyPath = DriverServiceKeyPath(serviceName);
    UniqueKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS)
        return scope.Result(ERROR_SUCCESS);
    LOG(LogLevel::Detail, "Found existing %S reg entry.", keyPath.c_str());

    if (::RegDeleteValueW(key.get(), L"DeleteFlag") != ERROR_SUCCESS) {
        LOG(LogLevel::Detail, "Failed to Find DeleteFlag.");
        return scope.Result(ERROR_SUCCESS);
    }
    LOG(LogLevel::Detail, "Deleted Find DeleteFlag.");
    const DWORD onDemand = SERVICE_DEMAND_START;
    if (::RegSetValueExW(key.get(), L"Start", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&onDemand),
                         sizeof(onDemand)) == ERROR_SUCCESS)
        LOG(LogLevel::Detail, "Set Start=3.");
    else
        LOG(LogLevel::Detail, "Failed to set Start=3.");
    return scope.Result(ERROR_SUCCESS);
}

// Puts the package's copy of one file in place of the installed one. A package file that fails
// its own digest check is never copied or scheduled.
DWORD Driver::ReplaceDriverFile(const std::wstring& programDirectory, const std::wstring& name,
                                const std::wstring& sha256) const {
    const std::wstring source = programDirectory + name;
    const std::wstring target = DriversDirectory() + name;
    DWORD code = ERROR_SUCCESS;
    if (VerifyFileDigest(source, sha256, code)) {
        code = InstallHelper::CopyAndReplaceFile(source, target);
        InstallContextData& context = InstallContext();
        if (code != ERROR_SUCCESS && code != ERROR_FILE_NOT_FOUND && context.rebootCopyAllowed) {
            code = InstallHelper::CopyAtReboot(source, target);
            if (code == ERROR_SUCCESS) context.rebootPending = true;
        }
    }
    if (code != ERROR_SUCCESS) LOG(LogLevel::Error, "Failed to repair File %S, Error Code: %d", source.c_str(), static_cast<int>(code));
    return code;
}

DWORD Driver::RepairDriverFile() const {
    FunctionScope scope(kLogModule, "Driver::RepairDriverFile");
    std::wstring programDirectory;
    const DWORD found = GetProgramDirectory(programDirectory);
    if (found != ERROR_SUCCESS) return scope.Result(ProgramDirectoryFailure(found));
    const std::wstring drivers = DriversDirectory();
    const std::wstring packagedInf = programDirectory + infFile.fileName;

    // Each step stores its code over the one before; a replacement that failed is kept, so that a
    // later file found intact cannot hide a file left damaged.
    DWORD result = ExecuteSectionFromInfFile(packagedInf, InfCommandsFor(platform_).installArguments);
    DWORD failedReplacement = ERROR_SUCCESS;
    auto replace = [&](const std::wstring& name, const std::wstring& sha256) {
        result = ReplaceDriverFile(programDirectory, name, sha256);
        if (result != ERROR_SUCCESS && failedReplacement == ERROR_SUCCESS) failedReplacement = result;
        return result == ERROR_SUCCESS;
    };

    const std::wstring installedInf = drivers + infFile.fileName;
    if (VerifyFileDigest(installedInf, infFile.sha256, result)) {
        LOG(LogLevel::Detail, "%S File same, So not repaired", installedInf.c_str());
    } else {
        replace(infFile.fileName, infFile.sha256);
    }

    std::wstring catalog;
    if (GetCatalogFileName(packagedInf, catalog) && PathExists(programDirectory + catalog))
        result = AddCatalog(programDirectory + catalog);

    for (const auto& sysFile : sysFiles) {
        const std::wstring installed = drivers + sysFile->fileName;
        bool inPlace = VerifyFileDigest(installed, sysFile->sha256, result);
        if (inPlace) LOG(LogLevel::Detail, "%S File same, So not repaired", installed.c_str());
        else inPlace = replace(sysFile->fileName, sysFile->sha256);
        const std::wstring service = TombstoneServiceName(sysFile->fileName);
        if (inPlace && !service.empty()) RemoveTombStoneIfPresent(service);
    }
    if (failedReplacement != ERROR_SUCCESS) result = failedReplacement;
    return scope.Result(result);
}

DWORD Driver::Repair() {
    FunctionScope scope(kLogModule, "Driver::Repair");
    std::wstring programDirectory;
    const DWORD found = GetProgramDirectory(programDirectory);
    if (found != ERROR_SUCCESS) return scope.Result(ProgramDirectoryFailure(found));

    if (!IsVistaOrLater() && !sysFiles.empty()) {
        const std::wstring first = programDirectory + sysFiles.front()->fileName;
        const DWORD signature = VerifySignature(first);
        LOG(LogLevel::Information, "VerifySignature for XP returned %d for %S", static_cast<int>(signature), first.c_str());
    }

    DWORD checked = ERROR_SUCCESS;
    if (!CheckPackageFiles(programDirectory, checked)) return scope.Result(checked);
    if (DriverServiceExists()) return scope.Result(RepairDriverFile());
    return scope.Result(InstallFromDirectory(programDirectory));
}

DWORD Driver::Upgrade() {
    FunctionScope scope(kLogModule, "Driver::Upgrade");
    if (sysFiles.empty()) return scope.Result(ERROR_SUCCESS);
    const std::wstring driverFile = InfDriverFileName(infFile.fileName);
    const std::wstring installed = DriversDirectory() + driverFile;
    std::wstring programDirectory;
    const DWORD found = GetProgramDirectory(programDirectory);
    if (found != ERROR_SUCCESS) return scope.Result(found);
    if (InstallHelper::IsFileUpgradeable(installed, programDirectory + driverFile) != 1)
        return scope.Result(ERROR_SUCCESS);

    // The INF is run from the package only when every package file is the one the document
    // describes.
    DWORD checked = ERROR_SUCCESS;
    if (!CheckPackageFiles(programDirectory, checked)) return scope.Result(checked);
    return scope.Result(RepairDriverFile());
}
