// The life of an installation as an administrator runs it: install, verify, damage and repair,
// upgrade, uninstall; each step is checked on the machine, in the report and in the log.
#include <gtest/gtest.h>
#include <algorithm>
#include <map>
#include "e2e/PackageFixture.h"

namespace e2e {
namespace {

const wchar_t kDonnees[] = L"Donn\u00e9es";

struct InstalledFile {
    std::wstring installed;   // below the install directory
    std::wstring payload;     // below the package folder
};

// The files of lifecycle.xml that a 64-bit machine receives.
std::vector<InstalledFile> LifecycleFiles() {
    return {
        {L"engine.cfg", L"core\\engine.cfg"},
        {L"tarnexcore.dll", L"core\\tarnexcore.dll"},
        {L"tarnexscan.dll", L"core\\tarnexscan.dll"},
        {L"data files\\signatures.dat", L"data files\\signatures.dat"},
        {std::wstring(kDonnees) + L"\\aide\\lisezmoi.txt", std::wstring(kDonnees) + L"\\lisezmoi.txt"},
    };
}

std::wstring SystemDirectoryWithBackslash() {
    wchar_t system[MAX_PATH] = {};
    ::GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system) + L"\\";
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

std::wstring CollapseBackslashes(std::wstring path) {
    for (size_t at = path.find(L"\\\\"); at != std::wstring::npos; at = path.find(L"\\\\", at)) path.erase(at, 1);
    return path;
}

class LifecycleTest : public PackageTest {
protected:
    void SetUp() override {
        PackageTest::SetUp();
        if (HasFatalFailure()) return;
        // What the machine already holds: an administrator's own value that the package keeps,
        // the content version of content already on the machine, and a file at the place where
        // the x86 build would go.
        ASSERT_TRUE(WriteString(kSettingsKey, L"szOwner", L"administrator"));
        ASSERT_TRUE(WriteDword(kContentVersionKey, L"dwContentMajorVersion", 7));
        ASSERT_TRUE(WriteTextFile(contentDirectory_ + L"\\x86only.dll", L"not from the package"));
    }

    void InstallLifecyclePackage() {
        const ProcessResult result = RunInstaller(InstallArguments(L"lifecycle.xml"));
        ASSERT_EQ(0u, result.exitCode) << Describe(result, LogText());
    }

    void ExpectInstalledFilesMatchPayload() {
        for (const auto& file : LifecycleFiles()) {
            ASSERT_TRUE(FileExists(Installed(file.installed))) << ToUtf8(file.installed);
            EXPECT_EQ(ReadFileBytes(Payload(file.payload)), ReadFileBytes(Installed(file.installed)))
                << ToUtf8(file.installed);
        }
    }
};

TEST_F(LifecycleTest, InstallPlacesFilesRegistryValuesAndReferenceAndRunsTheRuntimeInstaller) {
    // A program where an unquoted path to the runtime installer would lead: "<root>\Tarnex Setup\..."
    // started without quotes runs "<root>\Tarnex.exe" (it records into its own folder).
    const std::wstring decoy = *root_ / L"Tarnex.exe";
    ASSERT_TRUE(::CopyFileW(Payload(L"crt\\recording_helper.exe").c_str(), decoy.c_str(), FALSE));

    ASSERT_NO_FATAL_FAILURE(InstallLifecyclePackage());

    ExpectInstalledFilesMatchPayload();
    for (const std::wstring& directory : {std::wstring(L"logs"), std::wstring(L"data files"), std::wstring(kDonnees)})
        EXPECT_TRUE(DirectoryExists(Installed(directory))) << ToUtf8(directory);

    // The x86 build is neither installed nor allowed to touch what lies at its destination.
    EXPECT_FALSE(FileExists(Installed(L"x86only.dll")));
    EXPECT_EQ("not from the package", ReadFileBytes(contentDirectory_ + L"\\x86only.dll"));

    const std::map<std::wstring, std::wstring> strings = {
        {L"szBinPath", installDirectory_ + L"\\bin"},
        {L"szDefinitions", contentDirectory_ + L"\\definitions"},
        {L"szDriverStore", SystemDirectoryWithBackslash() + L"\\drivers"},
        {L"szRealtimeClients", kRealtimeScanSddl},
        {L"szConfigClients", kConfigurationSddl},
        {L"szNotAVariable", L"x$INSTALL_PATH"},
        {L"szOwner", L"administrator"},   // keepexisting: the machine's value stays
    };
    for (const auto& [name, expected] : strings)
        EXPECT_EQ(std::optional<std::wstring>(expected), ReadString(kSettingsKey, name)) << ToUtf8(name);
    EXPECT_EQ(std::optional<DWORD>(42), ReadDword(kSettingsKey, L"dwScanLevel"));
    EXPECT_EQ(std::optional<DWORD>(30), ReadDword(kSettingsKey, L"dwRetentionDays"));   // keepexisting, new
    EXPECT_EQ((std::optional<std::vector<std::wstring>>({L"exe", L"dll", L"sys"})),
              ReadMultiString(kSettingsKey, L"mszExtensions"));
    EXPECT_EQ(std::optional<std::wstring>(L"1.0.0.1600.1"), ReadString(kVersionKey, L"szTarnexVersion"));
    // Content already on the machine keeps its version; a missing number is written.
    EXPECT_EQ(std::optional<DWORD>(7), ReadDword(kContentVersionKey, L"dwContentMajorVersion"));
    EXPECT_EQ(std::optional<DWORD>(0), ReadDword(kContentVersionKey, L"dwContentMinorVersion"));

    EXPECT_EQ((std::vector<std::wstring>{L"szContentPath", L"szInstallPath"}), ValueNames(kReferenceKey));
    EXPECT_EQ(std::optional<std::wstring>(installDirectory_), ReadString(kReferenceKey, L"szInstallPath"));
    EXPECT_EQ(std::optional<std::wstring>(contentDirectory_), ReadString(kReferenceKey, L"szContentPath"));

    // The runtime installer ran once, quietly, from its quoted path, and its failure code did not
    // fail the install.
    EXPECT_FALSE(FileExists(*root_ / L"recording_helper.log")) << "the program at the unquoted path ran";
    const auto runs = HelperRuns();
    ASSERT_EQ(1u, runs.size());
    const std::wstring helper = Payload(L"crt\\recording_helper.exe");
    EXPECT_TRUE(SamePath(helper, runs[0].path)) << ToUtf8(runs[0].path);
    const std::wstring& commandLine = runs[0].commandLine;
    ASSERT_FALSE(commandLine.empty());
    EXPECT_EQ(L'"', commandLine[0]) << ToUtf8(commandLine);
    const size_t closingQuote = commandLine.find(L'"', 1);
    ASSERT_NE(std::wstring::npos, closingQuote) << ToUtf8(commandLine);
    EXPECT_TRUE(SamePath(helper, CollapseBackslashes(commandLine.substr(1, closingQuote - 1)))) << ToUtf8(commandLine);
    EXPECT_EQ(L" /q", commandLine.substr(closingQuote + 1)) << ToUtf8(commandLine);

    const std::wstring log = LogText();
    EXPECT_TRUE(Contains(log, L"Exit code from CRT installer 1638")) << ToUtf8(log);
    EXPECT_TRUE(Contains(log, L"Install Successfull.")) << ToUtf8(log);
}

TEST_F(LifecycleTest, VerifyReportsDamageThatRepairRestores) {
    ASSERT_NO_FATAL_FAILURE(InstallLifecyclePackage());
    const std::wstring settingsKey = std::wstring(L"HKLM\\") + kSettingsKey;

    ProcessResult verify = RunInstaller(VerifyArguments(L"lifecycle.xml"));
    EXPECT_EQ(0u, verify.exitCode) << Describe(verify, LogText());
    std::wstring report = verify.OutputText();
    EXPECT_TRUE(Contains(report, L"\nVerification succeeded for existance of Tarnex install reference registry key."))
        << verify.output;
    for (const auto& file : LifecycleFiles())
        EXPECT_TRUE(Contains(report, L"\nVerification succeeded for File " + Installed(file.installed) + L"."))
            << ToUtf8(file.installed) << "\n" << verify.output;
    EXPECT_TRUE(Contains(report, std::wstring(L"\nVerification succeeded for existance of Registry path ") +
                                     kSettingsKey + L"."))
        << verify.output;
    EXPECT_TRUE(Contains(report, L"\nVerification succeeded for value szBinPath under Registry key " + settingsKey + L"."))
        << verify.output;
    EXPECT_FALSE(Contains(report, L"x86only.dll")) << verify.output;

    ASSERT_TRUE(WriteFileBytes(Installed(L"tarnexscan.dll"), "damaged build"));
    ASSERT_TRUE(DeleteValue(kSettingsKey, L"szBinPath"));

    verify = RunInstaller(VerifyArguments(L"lifecycle.xml"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_CORRUPT), verify.exitCode) << Describe(verify, LogText());
    report = verify.OutputText();
    EXPECT_TRUE(Contains(report, L"\nVerification failed for integrity of File " + Installed(L"tarnexscan.dll") + L"."))
        << verify.output;
    EXPECT_TRUE(Contains(report, L"\nVerification failed for existance of value szBinPath under Registry key " +
                                     settingsKey + L"."))
        << verify.output;
    EXPECT_TRUE(Contains(report, L"\nVerification failed for value data of value szBinPath under Registry key " +
                                     settingsKey + L"."))
        << verify.output;
    EXPECT_TRUE(Contains(report, L"\nVerification succeeded for File " + Installed(L"engine.cfg") + L"."))
        << verify.output;

    const ProcessResult repair = RunInstaller(RepairArguments(L"lifecycle.xml"));
    const std::wstring repairLog = LogText();
    ASSERT_EQ(0u, repair.exitCode) << Describe(repair, repairLog);
    EXPECT_TRUE(Contains(repairLog, L"Repaired File tarnexscan.dll")) << ToUtf8(repairLog);
    EXPECT_TRUE(Contains(repairLog, L"engine.cfg File same, So not repaired")) << ToUtf8(repairLog);
    ExpectInstalledFilesMatchPayload();
    EXPECT_EQ(std::optional<std::wstring>(installDirectory_ + L"\\bin"), ReadString(kSettingsKey, L"szBinPath"));
    EXPECT_EQ(std::optional<std::wstring>(L"administrator"), ReadString(kSettingsKey, L"szOwner"));
    EXPECT_EQ(1u, HelperRuns().size()) << "repair does not run the runtime installer again";

    verify = RunInstaller(VerifyArguments(L"lifecycle.xml"));
    EXPECT_EQ(0u, verify.exitCode) << Describe(verify, LogText());
    EXPECT_FALSE(Contains(verify.OutputText(), L"Verification failed")) << verify.output;
}

TEST_F(LifecycleTest, UpgradeReplacesOnlyTheFileWithANewerVersion) {
    ASSERT_NO_FATAL_FAILURE(InstallLifecyclePackage());
    std::map<std::wstring, std::pair<std::string, unsigned long long>> before;
    for (const auto& file : LifecycleFiles())
        before[file.installed] = {ReadFileBytes(Installed(file.installed)), LastWriteTime(Installed(file.installed))};

    // Upgrade takes the install directory from the install reference, not from the command line.
    const ProcessResult upgrade = RunInstaller(UpgradeArguments(L"upgrade.xml"));
    ASSERT_EQ(0u, upgrade.exitCode) << Describe(upgrade, LogText());

    const std::string newer = ReadFileBytes(Payload(L"upgrade\\tarnexcore.dll"));
    ASSERT_NE(before[L"tarnexcore.dll"].first, newer) << "the fixture's two builds must differ";
    EXPECT_EQ(newer, ReadFileBytes(Installed(L"tarnexcore.dll")));
    // An older build, a file without version and files the upgrade names unchanged stay as they were.
    for (const auto& [installed, state] : before) {
        if (installed == L"tarnexcore.dll") continue;
        EXPECT_EQ(state.first, ReadFileBytes(Installed(installed))) << ToUtf8(installed);
        EXPECT_EQ(state.second, LastWriteTime(Installed(installed))) << ToUtf8(installed);
    }
    EXPECT_NE(ReadFileBytes(Payload(L"upgrade\\engine.cfg")), ReadFileBytes(Installed(L"engine.cfg")));
    EXPECT_NE(ReadFileBytes(Payload(L"upgrade\\tarnexscan.dll")), ReadFileBytes(Installed(L"tarnexscan.dll")));
    EXPECT_FALSE(FileExists(Installed(L"x86only.dll")));
    EXPECT_EQ(std::optional<std::wstring>(installDirectory_), ReadString(kReferenceKey, L"szInstallPath"));
    EXPECT_EQ(2u, HelperRuns().size()) << "upgrade runs the runtime installer again";
}

TEST_F(LifecycleTest, UninstallRemovesFilesDirectoriesRegistryRecordsAndTheReference) {
    ASSERT_NO_FATAL_FAILURE(InstallLifecyclePackage());

    // Uninstall finds the install directory through the install reference.
    const ProcessResult uninstall = RunInstaller(UninstallArguments(L"lifecycle.xml"));
    ASSERT_EQ(0u, uninstall.exitCode) << Describe(uninstall, LogText());

    for (const auto& file : LifecycleFiles()) EXPECT_FALSE(FileExists(Installed(file.installed))) << ToUtf8(file.installed);
    EXPECT_FALSE(DirectoryExists(installDirectory_));
    EXPECT_FALSE(KeyExists(kReferenceKey));
    EXPECT_FALSE(KeyExists(kSettingsKey));
    EXPECT_FALSE(KeyExists(kVersionKey));
    // What the package never installed stays: the content directory and the file at the x86
    // build's destination.
    EXPECT_TRUE(DirectoryExists(contentDirectory_));
    EXPECT_EQ("not from the package", ReadFileBytes(contentDirectory_ + L"\\x86only.dll"));
}

TEST_F(PackageTest, InstallDirectoryWithTrailingBackslashIsRecordedAsGivenAndRemovedOnUninstall) {
    std::vector<std::wstring> arguments = InstallArguments(L"lifecycle.xml");
    const auto directory = std::find(arguments.begin(), arguments.end(), L"-d") + 1;
    *directory += L"\\";
    const ProcessResult install = RunInstaller(arguments);
    ASSERT_EQ(0u, install.exitCode) << Describe(install, LogText());
    EXPECT_EQ(std::optional<std::wstring>(installDirectory_ + L"\\"), ReadString(kReferenceKey, L"szInstallPath"));
    EXPECT_EQ(ReadFileBytes(Payload(L"core\\engine.cfg")), ReadFileBytes(Installed(L"engine.cfg")));

    const ProcessResult uninstall = RunInstaller(UninstallArguments(L"lifecycle.xml"));
    ASSERT_EQ(0u, uninstall.exitCode) << Describe(uninstall, LogText());
    EXPECT_FALSE(DirectoryExists(installDirectory_));
    EXPECT_FALSE(KeyExists(kReferenceKey));
}

TEST_F(PackageTest, UninstallWithoutConfigurationLeavesNoEmptyFamilyKeyButKeepsOneInUse) {
    ASSERT_EQ(0u, RunInstaller(InstallArguments(L"lifecycle.xml")).exitCode) << LogText();
    ASSERT_EQ(0u, RunInstaller(UninstallArguments(L"lifecycle.xml")).exitCode) << LogText();
    EXPECT_FALSE(KeyExists(kFamilyKey)) << "the install created it as the reference's parent";

    // A value the engine keeps in the family key itself keeps the key.
    ASSERT_EQ(0u, RunInstaller(InstallArguments(L"lifecycle.xml")).exitCode) << LogText();
    ASSERT_TRUE(WriteDword(kFamilyKey, L"dwLastScan", 1));
    ASSERT_EQ(0u, RunInstaller(UninstallArguments(L"lifecycle.xml")).exitCode) << LogText();
    EXPECT_FALSE(KeyExists(kReferenceKey));
    EXPECT_EQ(std::optional<DWORD>(1), ReadDword(kFamilyKey, L"dwLastScan"));
}

TEST_F(PackageTest, UninstallOfPackageOwningTheFamilyKeyRemovesTheWholeKey) {
    const ProcessResult install = RunInstaller(InstallArguments(L"coravel.xml"));
    ASSERT_EQ(0u, install.exitCode) << Describe(install, LogText());
    ASSERT_EQ(std::optional<std::wstring>(L"Tarnex"), ReadString(kFamilyKey, L"szProduct"));
    // Records the engine wrote for itself below the family key while it ran.
    ASSERT_TRUE(WriteDword(std::wstring(kFamilyKey) + L"\\OAS\\OAS", L"dwScanTimeout", 45));

    const ProcessResult uninstall = RunInstaller(UninstallArguments(L"coravel.xml"));
    ASSERT_EQ(0u, uninstall.exitCode) << Describe(uninstall, LogText());
    EXPECT_FALSE(KeyExists(kFamilyKey));
    EXPECT_FALSE(DirectoryExists(installDirectory_));
}

} // namespace
} // namespace e2e
