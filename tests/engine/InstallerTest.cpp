#include <gtest/gtest.h>

#include <shlobj.h>
#include "engine/InstallHelper.h"
#include "engine/installer.h"
#include "EngineFixture.h"
#include "shell/Handles.h"
#include "support/TraceRecorder.h"

using namespace engine_test;

namespace {

const wchar_t kReferenceKey[] = L"SOFTWARE\\Norvex\\Coravel\\Install_Reference";
const wchar_t kTestKey[] = L"SOFTWARE\\Norvex\\EngineTest\\Core";

// One feature: a directory of its own, a registry key and, when given, a file that is not next
// to the program (so that the install fails after the directory was made).
std::wstring SimplePackage(bool withMissingFile = false) {
    std::wstring feature = L"<Feature tag=\"Core\">";
    if (withMissingFile) {
        feature += std::wstring(L"<FileOperation operation=\"copy\" sha256=\"") + AnyDigest() +
                   L"\">engine_test_missing.dll</FileOperation>";
    }
    feature += L"<DirectoryOperation operation=\"create\">$INSTALL_PATH\\Logs</DirectoryOperation>"
               L"<RegistryOperation operation=\"create\"><RegKey key=\"HKLM\\SOFTWARE\\Norvex\\EngineTest\\Core\">"
               L"<RegValue type=\"SZ\" name=\"szDir\" data=\"$INSTALL_PATH\"/></RegKey></RegistryOperation></Feature>";
    return L"<Package schemaVersion=\"1.1\" TarnexVersion=\"1.0.0.1\">" + feature + L"</Package>";
}

using ControllerTest = ActionTest;

TEST_F(ControllerTest, InstallThenUnInstallLeavesNeitherFilesNorRecords) {
    auto package = LoadPackage(SimplePackage());

    ASSERT_EQ(Perform(*package, Action::Install), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(DirectoryExists(install_ + L"\\Logs"));
    EXPECT_EQ(hklm::ReadString(kReferenceKey, L"szInstallPath"), std::optional<std::wstring>(install_));
    EXPECT_EQ(hklm::ReadString(kTestKey, L"szDir"), std::optional<std::wstring>(install_));
    EXPECT_NE(LogText().find(L"Install Successfull."), std::wstring::npos);

    // The uninstall finds the directories through the reference, not the command line.
    UseDirectories(L"C:\\Elsewhere", L"C:\\ElsewhereContent");
    auto again = LoadPackage(SimplePackage());
    EXPECT_EQ(Perform(*again, Action::UnInstall), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_FALSE(DirectoryExists(install_));
    EXPECT_FALSE(hklm::KeyExists(kTestKey));
    EXPECT_FALSE(InstallReferenceExists());

    EXPECT_EQ(Perform(*again, Action::UnInstall), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_NE(LogText().find(L"Failed to UnInstall as Tarnex not Installed."), std::wstring::npos);
}

// True when some string value of the HKLM key holds exactly `data`.
bool KeyHoldsString(const std::wstring& subKey, const std::wstring& data) {
    for (const auto& name : hklm::ValueNames(subKey)) {
        if (hklm::ReadString(subKey, name) == data) return true;
    }
    return false;
}

TEST_F(ControllerTest, InstallCreatesTheQuarantineDirectoryAndRecordsItAsBackupDirectory) {
    const std::wstring quarantine = dir_ / L"q\\nested";
    auto package = LoadPackage(SimplePackage());

    ASSERT_EQ(Perform(*package, Action::Install, nullptr, &quarantine), static_cast<DWORD>(ERROR_SUCCESS));

    EXPECT_TRUE(DirectoryExists(quarantine));
    EXPECT_EQ(InstallContext().backupDirectory, quarantine);
    EXPECT_TRUE(KeyHoldsString(L"SOFTWARE\\Norvex\\Coravel\\BULWARKGLOBAL\\GLOBAL", quarantine));
    EXPECT_NE(LogText().find(L"Succeeded to create entry for Backup Directory."), std::wstring::npos);
}

TEST_F(ControllerTest, QuarantineDirectoryThatCannotBeCreatedIsNotRecordedAndTheInstallGoesOn) {
    const std::wstring blocker = dir_ / L"blocker.txt";
    ASSERT_TRUE(WriteFileBytes(blocker, "x"));
    const std::wstring quarantine = blocker + L"\\q";
    auto package = LoadPackage(SimplePackage());

    ASSERT_EQ(Perform(*package, Action::Install, nullptr, &quarantine), static_cast<DWORD>(ERROR_SUCCESS));

    EXPECT_EQ(InstallContext().backupDirectory, L"");
    EXPECT_FALSE(hklm::KeyExists(L"SOFTWARE\\Norvex\\Coravel\\BULWARKGLOBAL\\GLOBAL"));
    const std::wstring log = LogText();
    EXPECT_NE(log.find(L"Failed to create Quarantine directory."), std::wstring::npos);
    EXPECT_EQ(log.find(L"entry for Backup Directory"), std::wstring::npos);
    EXPECT_NE(log.find(L"Install Successfull."), std::wstring::npos);
}

TEST_F(ControllerTest, InstallRefusesAnExistingInstallationOrMissingContent) {
    struct Case { const char* name; bool reference; bool content; DWORD expected; const wchar_t* message; };
    const Case cases[] = {
        { "installed, content present", true, true, ERROR_ALREADY_EXISTS, L"Tarnex Core Already Installed." },
        { "not installed, content missing", false, false, ERROR_SERVICE_DOES_NOT_EXIST,
          L"PreRequisites (Keelson, content etc.) not Installed." },
        { "installed, content missing", true, false, ERROR_SERVICE_DOES_NOT_EXIST,
          L"PreRequisites (Keelson, content etc.) not Installed." },
    };
    auto package = LoadPackage(SimplePackage());
    for (const auto& c : cases) {
        DeleteTestKeys();
        if (c.reference) {
            ASSERT_TRUE(hklm::CreateKey(kReferenceKey));
        }
        const std::wstring content = c.content ? content_ : dir_ / L"noContent";
        EXPECT_EQ(PerformAction(*package, Action::Install, nullptr, install_, content, nullptr, false), c.expected)
            << c.name;
        EXPECT_NE(LogText().find(c.message), std::wstring::npos) << c.name;
        EXPECT_FALSE(DirectoryExists(install_)) << c.name;
    }
}

TEST_F(ControllerTest, InstallIntoANonEmptyDirectoryKeepsItsFilesAndDropsTheReference) {
    ASSERT_EQ(::SHCreateDirectoryExW(nullptr, install_.c_str(), nullptr), ERROR_SUCCESS);
    ASSERT_TRUE(WriteFileBytes(install_ + L"\\precious.txt", "keep"));
    auto package = LoadPackage(SimplePackage());

    EXPECT_EQ(Perform(*package, Action::Install), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));

    EXPECT_EQ(ReadFileBytes(install_ + L"\\precious.txt"), "keep");
    EXPECT_FALSE(hklm::KeyExists(L"SOFTWARE\\Norvex\\Coravel"));
    EXPECT_FALSE(hklm::KeyExists(kTestKey));
    const std::wstring log = LogText();
    EXPECT_NE(log.find(L"Error: Install directory not empty."), std::wstring::npos);
    EXPECT_EQ(log.find(L"Starting RollBack"), std::wstring::npos);
}

TEST_F(ControllerTest, FailedInstallRollsBackTheDirectoryAndTheReference) {
    auto package = LoadPackage(SimplePackage(true));

    EXPECT_EQ(Perform(*package, Action::Install), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    EXPECT_NE(LogText().find(L"Failed to Install, Starting RollBack."), std::wstring::npos);
    EXPECT_FALSE(DirectoryExists(install_));
    EXPECT_FALSE(InstallReferenceExists());
    // A second attempt is not refused as "already installed".
    auto again = LoadPackage(SimplePackage(true));
    EXPECT_EQ(Perform(*again, Action::Install), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(ControllerTest, SecondInstallerIsRefusedWhileTheMarkerExists) {
    UniqueKernelHandle marker(::CreateEventW(nullptr, FALSE, FALSE, L"ORIOLEINSTALLER"));
    ASSERT_TRUE(marker);
    auto package = LoadPackage(SimplePackage());

    EXPECT_EQ(Perform(*package, Action::Install), static_cast<DWORD>(ERROR_SINGLE_INSTANCE_APP));
    marker.reset();

    EXPECT_FALSE(InstallReferenceExists());
    const std::wstring log = LogText();
    EXPECT_NE(log.find(L"Another Instance of Installer is already running."), std::wstring::npos);
    EXPECT_EQ(log.find(L"PerformAction"), std::wstring::npos);

    // The controller closes its own marker when it ends.
    EXPECT_EQ(Perform(*package, Action::Help), static_cast<DWORD>(ERROR_XML_PARSE_ERROR));
    EXPECT_EQ(Perform(*package, Action::None), static_cast<DWORD>(ERROR_XML_PARSE_ERROR));
    EXPECT_NE(LogText().find(L"Exiting function PerformAction with result 0x5b9"), std::wstring::npos);
}

TEST_F(ControllerTest, UpgradeNeedsTheReferenceAndAllowsCopiesAtRestart) {
    auto package = LoadPackage(SimplePackage());
    EXPECT_EQ(Perform(*package, Action::Upgrade), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(InstallContext().rebootCopyAllowed);
    EXPECT_NE(LogText().find(L"Failed to Upgrade as Tarnex is not Installed."), std::wstring::npos);

    ASSERT_TRUE(hklm::WriteString(kReferenceKey, L"szInstallPath", L"C:\\Recorded"));
    EXPECT_EQ(Perform(*package, Action::Upgrade), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(InstallContext().installDirectory, L"C:\\Recorded");
}

TEST_F(ControllerTest, RepairRebuildsTheInstallationAndReportsABadQuarantinePath) {
    auto package = LoadPackage(SimplePackage());
    EXPECT_EQ(Perform(*package, Action::Repair), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(InstallContext().rebootCopyAllowed);
    EXPECT_TRUE(InstallReferenceExists());
    EXPECT_TRUE(DirectoryExists(install_ + L"\\Logs"));
    std::wstring log = LogText();
    EXPECT_NE(log.find(L"Quarantine Directory not specified."), std::wstring::npos);
    EXPECT_NE(log.find(L"Repair Successful."), std::wstring::npos);

    // A quarantine path naming a file fails the repair, which still repairs the files.
    const std::wstring notADirectory = dir_ / L"quarantine.txt";
    ASSERT_TRUE(WriteFileBytes(notADirectory, "x"));
    ASSERT_TRUE(::RemoveDirectoryW((install_ + L"\\Logs").c_str()));
    EXPECT_EQ(Perform(*package, Action::Repair, nullptr, &notADirectory), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(DirectoryExists(install_ + L"\\Logs"));
    EXPECT_NE(LogText().find(L"Failed to create Quarantine directory. " + notADirectory), std::wstring::npos);
    EXPECT_EQ(InstallContext().backupDirectory, L"");
}

TEST_F(ControllerTest, RepairThatCannotCreateTheDirectoryKeepsAnExistingInstallationsRecords) {
    auto package = LoadPackage(SimplePackage());
    ASSERT_TRUE(hklm::WriteString(kReferenceKey, L"szInstallPath", L"C:\\Installed"));
    ASSERT_TRUE(hklm::WriteString(kReferenceKey, L"szContentPath", L"C:\\Content"));
    ASSERT_TRUE(hklm::WriteString(L"SOFTWARE\\Norvex\\Coravel\\CRV\\CRV", L"szTarnexVersion", L"1.0.0.1600"));
    const std::wstring blocker = dir_ / L"blocker.txt";
    ASSERT_TRUE(WriteFileBytes(blocker, "x"));
    UseDirectories(blocker + L"\\inst", content_);

    EXPECT_NE(RepairFiles(blocker + L"\\inst", content_, *package), static_cast<DWORD>(ERROR_SUCCESS));

    EXPECT_EQ(hklm::ReadString(kReferenceKey, L"szInstallPath"), std::optional<std::wstring>(L"C:\\Installed"));
    EXPECT_EQ(hklm::ReadString(kReferenceKey, L"szContentPath"), std::optional<std::wstring>(L"C:\\Content"));
    EXPECT_TRUE(hklm::ValueExists(L"SOFTWARE\\Norvex\\Coravel\\CRV\\CRV", L"szTarnexVersion"));
    EXPECT_NE(LogText().find(L"Failed to create Install directory."), std::wstring::npos);

    // Without an installation to keep, the records the repair wrote go again.
    DeleteTestKeys();
    EXPECT_NE(RepairFiles(blocker + L"\\inst", content_, *package), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_FALSE(hklm::KeyExists(L"SOFTWARE\\Norvex\\Coravel"));
}

TEST_F(ControllerTest, ConfigurationThatDoesNotLoadFailsInstallAndVerifyButNotUnInstall) {
    const std::wstring broken = dir_ / L"broken.xml";
    ASSERT_TRUE(WriteTextFile(broken, L"<Configuration><NotAPolicy/></Configuration>"));
    const std::wstring missing = dir_ / L"missing.xml";

    for (const auto& path : { broken, missing }) {
        EXPECT_EQ(InstallConfiguration(path), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        EXPECT_EQ(UnInstallConfiguration(path), static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_EQ(VerifyConfiguration(path), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    EXPECT_NE(LogText().find(L"Failed to deserialize " + broken + L". Error message : "), std::wstring::npos);

    auto package = LoadPackage(SimplePackage());
    EXPECT_EQ(Perform(*package, Action::Install, &broken), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(InstallReferenceExists());
    EXPECT_FALSE(DirectoryExists(install_));
}

// The controller's trace messages, through a recorder enabled at level 6 with flag 0x2 in place
// of the platform's entry points.
class ControllerTraceTest : public ControllerTest {
protected:
    void SetUp() override {
        ControllerTest::SetUp();
        recorder_.Install(TraceRecorder::Hooks(), logPath_);
        recorder_.Enable(6, 0x2);
    }

    // The controller's own messages, as "number: text, text".
    std::vector<std::string> ControllerMessages() const {
        const GUID controller = { 0xF065DF86, 0xBD9A, 0xC1D9, { 0xE4, 0x20, 0x76, 0xCE, 0x85, 0x2F, 0xF9, 0x4E } };
        return recorder_.MessagesOf(controller);
    }

    TraceRecorder recorder_;
};

TEST_F(ControllerTraceTest, InstallAndRepairFilesSendTheirEntryOnlyAsTheControllersOwnMessage) {
    auto package = LoadPackage(SimplePackage());
    EXPECT_EQ(Install(*package, install_), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(RepairFiles(install_, content_, *package), static_cast<DWORD>(ERROR_SUCCESS));

    // Each text goes with its terminating NUL.
    const std::string nul(1, '\0');
    EXPECT_EQ(ControllerMessages(), (std::vector<std::string>{ "10: Entered function" + nul + " Install" + nul,
                                                               "11: Entered function" + nul + " RepairFiles" + nul }));
    const std::wstring log = LogText();
    EXPECT_EQ(log.find(L"Entered function Install\r"), std::wstring::npos);
    EXPECT_EQ(log.find(L"Entered function RepairFiles"), std::wstring::npos);
    EXPECT_NE(log.find(L"Exiting function Install with result 0"), std::wstring::npos);
    EXPECT_NE(log.find(L"Exiting function RepairFiles with result 0"), std::wstring::npos);
}

TEST(DirectoryEmptiness, OnlyDotEntriesOrAnUnreadableDirectoryCountAsEmpty) {
    TempDir root(L"emp");
    ASSERT_TRUE(::CreateDirectoryW((root / L"empty").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((root / L"withFile").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(root / L"withFile\\a.txt", ""));
    ASSERT_TRUE(::CreateDirectoryW((root / L"withDirectory").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((root / L"withDirectory\\sub").c_str(), nullptr));
    struct Case { const wchar_t* name; bool expected; };
    const Case cases[] = {
        { L"empty", true }, { L"withFile", false }, { L"withDirectory", false }, { L"missing", true },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsDirectoryEmpty(root / c.name), c.expected) << testing::PrintToString(std::wstring(c.name));
    }
}

} // namespace
