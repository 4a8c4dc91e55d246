#include "pkgtool/Lint.h"

#include <windows.h>
#include <cwchar>
#include <cwctype>
#include <memory>
#include "drivers/DriverInf.h"
#include "engine/Package.h"
#include "operations/FileDigest.h"
#include "operations/RegistryHelpers.h"
#include "pkgtool/ElementLines.h"
#include "pkgtool/FileText.h"
#include "pkgtool/InfSections.h"
#include "policy/CPolicy.h"
#include "policy/Configuration.h"
#include "policy/ExclusionList.h"
#include "policy/PolicyCommon.h"
#include "shell/AVException.h"
#include "shell/Handles.h"
#include "shell/Text.h"
#include "xml/Binding.h"

namespace {

// GetFileVersionText's answer for a FileVersion text of fewer than six fields.
const DWORD kUnusableVersionText = 777;

std::wstring OneLine(const std::wstring& text) {
    std::wstring line;
    bool blank = false;
    for (wchar_t c : text) {
        const bool space = c == L'\r' || c == L'\n' || c == L'\t' || c == L' ';
        if (space) {
            blank = !line.empty();
            continue;
        }
        if (blank) line.push_back(L' ');
        blank = false;
        line.push_back(c);
    }
    return line;
}

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

std::wstring ErrorText(DWORD code) {
    const std::wstring message = OneLine(SystemMessage(code));
    return L"error " + std::to_wstring(code) + (message.empty() ? L"" : L": " + message);
}

std::string ReadBytes(const std::wstring& path, DWORD& error) {
    error = ERROR_SUCCESS;
    UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        error = ::GetLastError();
        return {};
    }
    std::string bytes;
    char chunk[65536];
    DWORD read = 0;
    while (::ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr) && read > 0) bytes.append(chunk, read);
    return bytes;
}

std::wstring FullPath(const std::wstring& path) {
    const DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::wstring full(size, L'\0');
    const DWORD length = ::GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
    if (length == 0 || length >= size) return path;
    full.resize(length);
    return full;
}

std::wstring DirectoryOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? L"." : path.substr(0, slash);
}

// The element tree of a document's text; empty (lines unknown) when it cannot be read or followed.
ElementLine DocumentLines(const std::wstring& path) {
    ElementLine document;
    DWORD error = 0;
    const std::string bytes = ReadBytes(path, error);
    if (error == ERROR_SUCCESS) ScanElementLines(bytes, document);
    return document;
}

class PackageLint {
public:
    PackageLint(const std::wstring& document, std::vector<Finding>& findings)
        : document_(document), payload_(DirectoryOf(document)), findings_(findings) {}

    void Run(Package& package) {
        const ElementLine lines = DocumentLines(document_);
        const ElementLine* root = ChildElement(&lines, L"Package", 0);
        for (size_t i = 0; i < package.features.size(); ++i) {
            CheckFeature(*package.features[i], ChildElement(root, L"Feature", i));
        }
    }

private:
    void Add(const ElementLine* element, const std::wstring& what, const std::wstring& problem, const std::wstring& fix) {
        findings_.push_back({document_, LineOf(element), what, problem, fix});
    }

    std::wstring PayloadPath(const std::wstring& relative) const { return payload_ + L"\\" + relative; }

    // What the payload holds for an element's file; every state but Good has its finding.
    enum class FileState { Missing, Unreadable, WrongDigest, Good };
    static bool Present(FileState state) { return state == FileState::WrongDigest || state == FileState::Good; }

    FileState CheckFile(const ElementLine* element, const std::wstring& what, const std::wstring& relative,
                   const std::wstring& expected) {
        const std::wstring path = PayloadPath(relative);
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            Add(element, what, L"missing file: " + relative + L" is not in the payload folder " + payload_ +
                                   L" (installer.exe reads it from its own folder)",
                L"put " + relative + L" next to the document, or correct the element's name or source");
            return FileState::Missing;
        }
        DWORD code = 0;
        if (VerifyFileDigest(path, expected, code)) return FileState::Good;
        Sha256::Digest digest{};
        if (code == ERROR_FILE_CORRUPT && ComputeFileDigest(path, digest) == ERROR_SUCCESS) {
            const std::wstring actual = DigestText(digest);
            Add(element, what, L"wrong digest: " + relative + L" has SHA-256 " + actual + L", the document says " +
                                   expected + L" (the install would fail with 1392)",
                L"set sha256=\"" + actual + L"\", or ship the file the document describes");
            return FileState::WrongDigest;
        }
        DWORD openError = ERROR_SUCCESS;
        {
            UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                                FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!file) openError = ::GetLastError();
        }
        Add(element, what, L"unreadable file: " + relative + L" cannot be read (" + ErrorText(openError ? openError : code) + L")",
            L"close the program that holds it, or give the file read access");
        return FileState::Unreadable;
    }

    // Decided by the version reader the upgrade uses; the raw text only explains a refusal.
    void CheckVersion(const ElementLine* element, const std::wstring& what, const std::wstring& relative) {
        const std::wstring path = PayloadPath(relative);
        std::wstring version;
        const DWORD code = GetFileVersionText(path, version);
        if (code == ERROR_SUCCESS) return;
        const std::wstring fix = L"give the file a FileVersion text of six dot-separated fields (an upgrade compares "
                                 L"the middle four: 1.2.3.4 in 0.1.2.3.4.0)";
        const std::wstring never = L"; an upgrade will never replace this file";
        std::wstring raw;
        if (code == kUnusableVersionText && ReadFileVersionText(path, raw) == ERROR_SUCCESS) {
            Add(element, what, L"no usable version: the FileVersion text " + Quoted(raw) + L" of " + relative +
                                   L" has fewer than six fields" + never, fix);
        } else {
            Add(element, what, L"no usable version: " + relative + L" has no version resource (" + ErrorText(code) + L")" + never, fix);
        }
    }

    void CheckFeature(Feature& feature, const ElementLine* line) {
        for (size_t i = 0; i < feature.drivers.size(); ++i) CheckDriver(*feature.drivers[i], ChildElement(line, L"Driver", i));
        for (size_t i = 0; i < feature.files.size(); ++i) {
            FileOperation& file = *feature.files[i];
            if (!IsPlatformMatch(file)) continue;   // installer.exe on this machine never reads it
            const ElementLine* element = ChildElement(line, L"FileOperation", i);
            const std::wstring what = L"FileOperation " + Quoted(file.FileName());
            const std::wstring relative = file.Source().empty() ? file.FileName() : file.Source() + L"\\" + file.FileName();
            if (Present(CheckFile(element, what, relative, file.Sha256())) && IsExecutableImageName(file.FileName()))
                CheckVersion(element, what, relative);
        }
        for (size_t i = 0; i < feature.executables.size(); ++i) {
            ExecuteOperation& executable = *feature.executables[i];
            if (!IsPlatformMatch(executable)) continue;
            CheckFile(ChildElement(line, L"ExecuteOperation", i), L"ExecuteOperation " + Quoted(executable.FileName()),
                      executable.Source() + L"\\" + executable.FileName(), executable.Sha256());
        }
        for (size_t i = 0; i < feature.registryOperations.size(); ++i) {
            const ElementLine* operation = ChildElement(line, L"RegistryOperation", i);
            const auto& keys = feature.registryOperations[i]->Keys();
            for (size_t k = 0; k < keys.size(); ++k) CheckKey(*keys[k], ChildElement(operation, L"RegKey", k));
        }
        for (size_t i = 0; i < feature.services.size(); ++i)
            CheckService(*feature.services[i], feature, ChildElement(line, L"Service", i));
    }

    void CheckDriver(Driver& driver, const ElementLine* line) {
        const ElementLine* infElement = ChildElement(line, L"InfFile", 0);
        const std::wstring infName = driver.infFile.fileName;
        const std::wstring what = L"InfFile " + Quoted(infName);
        if (Present(CheckFile(infElement, what, infName, driver.infFile.sha256))) CheckInf(driver, infElement, what);
        for (size_t i = 0; i < driver.sysFiles.size(); ++i) {
            const SysFile& sys = *driver.sysFiles[i];
            CheckFile(ChildElement(line, L"SysFile", i), L"SysFile " + Quoted(sys.fileName), sys.fileName, sys.sha256);
        }
        // An upgrade replaces the driver files only when the one named after the INF is newer.
        if (driver.sysFiles.empty()) return;
        const std::wstring compared = InfDriverFileName(infName);
        for (size_t i = 0; i < driver.sysFiles.size(); ++i) {
            if (Lower(driver.sysFiles[i]->fileName) != Lower(compared)) continue;
            const std::wstring path = PayloadPath(driver.sysFiles[i]->fileName);
            const DWORD attributes = ::GetFileAttributesW(path.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
                CheckVersion(ChildElement(line, L"SysFile", i), L"SysFile " + Quoted(driver.sysFiles[i]->fileName),
                             driver.sysFiles[i]->fileName);
            return;
        }
        Add(infElement, what, L"no driver file named after the INF: an upgrade compares the version of " + compared +
                                  L", which no SysFile names, so an upgrade will never replace the driver files",
            L"name the driver image " + compared + L" and list it as a SysFile");
    }

    void CheckInf(const Driver& driver, const ElementLine* element, const std::wstring& what) {
        const std::wstring infName = driver.infFile.fileName;
        DWORD error = 0;
        const InfSections inf = ParseInfText(TextFromFileBytes(ReadBytes(PayloadPath(infName), error)));
        const InfNeededSections needed = NeededInfSections(driver.Platform());
        const struct {
            const std::wstring& section;
            const wchar_t* use;
        } uses[] = {
            {needed.install, L"the driver install"},
            {needed.installServices, L"the install of the driver's services"},
            {needed.uninstall, L"the driver uninstall"},
            {needed.uninstallServices, L"the removal of the driver's services"},
        };
        for (const auto& use : uses) {
            if (inf.Has(use.section)) continue;
            Add(element, what, L"missing INF section: " + infName + L" has no [" + use.section + L"] section, which " +
                                   use.use + L" on " + driver.Platform() + L" runs",
                L"add [" + use.section + L"] to " + infName);
        }
        const std::wstring addReg = L"NvxAddReg";
        if (!inf.Has(addReg)) {
            if (SectionReferences(inf, needed.install, addReg) || SectionReferences(inf, needed.uninstall, addReg)) {
                Add(element, what, L"missing INF section: " + infName + L" names [" + addReg + L"] but does not have it",
                    L"add [" + addReg + L"] to " + infName + L", or take it out of the AddReg and DelReg lines");
            }
        } else {
            CheckAddRegLines(inf, element, what);
        }
        const std::wstring catalog = inf.Value(L"Version", L"CatalogFile");
        if (catalog.empty()) {
            Add(element, what, L"no catalog: [Version] of " + infName + L" has no CatalogFile entry, so the driver is "
                                   L"installed without its catalog and its signature is never checked",
                L"add CatalogFile = <name>.cat to [Version] and ship the catalog");
        } else {
            const DWORD attributes = ::GetFileAttributesW(PayloadPath(catalog).c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                Add(element, what, L"missing catalog: " + infName + L" names the catalog " + catalog +
                                       L", which is not in the payload folder",
                    L"put " + catalog + L" next to " + infName + L", or correct its CatalogFile entry");
            }
        }
    }

    // Verify reads every NvxAddReg line back as a registry value: each must describe one.
    void CheckAddRegLines(const InfSections& inf, const ElementLine* element, const std::wstring& what) {
        for (const auto& line : inf.Lines(L"NvxAddReg")) {
            const NvxAddRegValue value = ParseNvxAddRegLine(line, [](const std::wstring&) { return std::wstring(L"x"); });
            std::wstring problem;
            HKEY root = nullptr;
            std::wstring subKey;
            if (!value.complete) problem = L"has fewer than the five fields root, subkey, value name, flags, data";
            else if (value.type.empty()) problem = L"has flags other than 0x00000000, 0x00010000 or 0x00010001";
            else if (ParseKeyPath(value.keyPath, root, subKey) != ERROR_SUCCESS)
                problem = L"has a root other than HKLM, HKCR, HKCC, HKU or HKCU";
            if (problem.empty()) continue;
            Add(element, what, L"NvxAddReg line " + Quoted(line) + L" " + problem + L"; verify cannot read it back",
                L"write it as root,subkey,value name,flags,data");
        }
    }

    void CheckKey(const RegKey& key, const ElementLine* element) {
        HKEY root = nullptr;
        std::wstring subKey;
        const std::wstring what = L"RegKey " + Quoted(key.KeyPath());
        if (ParseKeyPath(key.KeyPath(), root, subKey) != ERROR_SUCCESS) {
            Add(element, what, L"the key is not under HKLM, HKCR, HKCC, HKU or HKCU (a root name, a backslash, the "
                               L"sub-key); the install fails with 1169",
                L"write the key as HKLM\\SOFTWARE\\...");
        } else if (subKey.empty()) {
            Add(element, what, L"the key names a whole root: uninstall deletes the key with everything below it",
                L"name the engine's own key below the root");
        }
    }

    // The service binary is "<install dir>\<ServiceFile>": a FileOperation must put it there.
    void CheckService(const Service& service, const Feature& feature, const ElementLine* element) {
        const std::wstring wanted = Lower(service.serviceFile);
        for (const auto& file : feature.files) {
            if (!IsPlatformMatch(*file)) continue;
            std::wstring destination = file->Destination();
            std::wstring folder;
            const std::wstring variable = L"$INSTALL_PATH";
            if (destination.empty() || destination == variable) folder.clear();
            else if (destination.compare(0, variable.size() + 1, variable + L"\\") == 0) folder = destination.substr(variable.size() + 1);
            else continue;
            while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
            const std::wstring installed = folder.empty() ? file->FileName() : folder + L"\\" + file->FileName();
            if (Lower(installed) == wanted) return;
        }
        Add(element, L"Service " + Quoted(service.serviceName),
            L"missing service file: no FileOperation of this feature installs " + service.serviceFile +
                L" into the install directory, so the service would be registered with a program that is not there",
            L"add a FileOperation for " + service.serviceFile + L", or correct ServiceFile");
    }

    std::wstring document_;
    std::wstring payload_;
    std::vector<Finding>& findings_;
};

void LintConfiguration(const std::wstring& path, Configuration& configuration, std::vector<Finding>& findings) {
    const ElementLine lines = DocumentLines(path);
    const ElementLine* root = ChildElement(&lines, L"Configuration", 0);
    const PatternEnvironment environment = ProcessPatternEnvironment();
    const struct {
        const wchar_t* element;
        const std::vector<std::unique_ptr<CPolicy>>& policies;
    } groups[] = {
        {L"OASPolicy", configuration.oasPolicies},
        {L"ODSPolicy", configuration.odsPolicies},
        {L"GlobalPolicy", configuration.globalPolicies},
    };
    for (const auto& group : groups) {
        for (size_t p = 0; p < group.policies.size(); ++p) {
            const ElementLine* policy = ChildElement(root, group.element, p);
            const auto& values = group.policies[p]->values;
            for (size_t v = 0; v < values.size(); ++v) {
                const CPolicyData& data = *values[v];
                if (data.exclusions.empty() || PolicyCatalogue::Instance().GetValueKind(data.name) != PolicyKindExclusionList)
                    continue;
                const ElementLine* value = ChildElement(policy, L"*", v);
                for (size_t e = 0; e < data.exclusions.size(); ++e) {
                    const Exclusion& exclusion = *data.exclusions[e];
                    const ExclusionRecord record = ExclusionList::MakeExclusionRecord(
                        exclusion.type, exclusion.flags, exclusion.numDays, exclusion.pattern);
                    try {
                        ExclusionList::ExclusionRegistryData({record}, environment);
                    } catch (const AVException& failure) {
                        wchar_t code[16];
                        swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(failure.Code()));
                        findings.push_back({path, LineOf(ChildElement(value, L"Exclusion", e)), L"Exclusion of " + data.name,
                                            L"the exclusion text " + Quoted(ExclusionList::FormatExclusion(record)) +
                                                L" does not parse (" + std::wstring(failure.Message().begin(), failure.Message().end()) +
                                                L"); the install ends with " + code,
                                            L"give a Type of 0 to 4, NumDays for a date type or a Pattern without \"|\" "
                                            L"for a pattern (3) or extension (4) exclusion"});
                    }
                }
            }
        }
    }
}

} // namespace

std::wstring FormatFinding(const Finding& finding) {
    std::wstring line = OneLine(finding.document);
    if (finding.line > 0) line += L"(" + std::to_wstring(finding.line) + L")";
    line += L": ";
    if (!finding.element.empty()) line += OneLine(finding.element) + L": ";
    std::wstring problem = OneLine(finding.problem);
    while (!problem.empty() && problem.back() == L'.') problem.pop_back();
    line += problem + L". Fix: " + OneLine(finding.fix) + L".";
    return line;
}

bool IsExecutableImageName(const std::wstring& name) {
    if (name.size() < 4) return false;
    const std::wstring extension = Lower(name.substr(name.size() - 4));
    return extension == L".exe" || extension == L".dll" || extension == L".sys";
}

namespace {

// What a document schema refuses is the one finding for that document; a document that loads
// goes on to `check`.
struct DocumentKind {
    const wchar_t* refusal;     // "installer.exe refuses the ... with N"
    const wchar_t* rootName;
    const wchar_t* schema;
};

template <typename Root, typename Check>
void LintDocument(const std::wstring& path, const DocumentKind& kind, std::vector<Finding>& findings, Check check) {
    auto root = std::make_unique<Root>();
    std::wstring error;
    if (Deserialize(path, *root, error)) {
        check(*root);
        return;
    }
    findings.push_back({path, 0, L"",
                        std::wstring(kind.refusal) + L": " +
                            (error.empty() ? L"its root element is not " + std::wstring(kind.rootName) : error),
                        L"correct the document so that it conforms to " + std::wstring(kind.schema)});
}

} // namespace

std::vector<Finding> LintPackage(const LintOptions& options) {
    std::vector<Finding> findings;
    const std::wstring document = FullPath(options.document);
    LintDocument<Package>(document, { L"installer.exe refuses the document with 1465", L"Package", L"install.xsd" },
                          findings, [&](Package& package) { PackageLint(document, findings).Run(package); });
    if (!options.configuration.empty()) {
        const std::wstring path = FullPath(options.configuration);
        LintDocument<Configuration>(
            path, { L"installer.exe refuses the configuration document with 87", L"Configuration", L"nvxcrvconfig.xsd" },
            findings, [&](Configuration& configuration) { LintConfiguration(path, configuration, findings); });
    }
    return findings;
}
