#include <gtest/gtest.h>

#include <shlobj.h>
#include "engine/InstallHelper.h"
#include "engine/installer.h"
#include "EngineFixture.h"

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

class ControllerTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        install_ = dir_ / L"inst\\deep";
        content_ = dir_ / L"content";
        ASSERT_TRUE(::CreateDirectoryW(content_.c_str(), nullptr));
        UseDirectories(install_, content_);
    }

    DWORD Perform(Package& package, Action action, const std::wstring* configuration = nullptr,
                  const std::wstring* quarantine = nullptr) {
        return PerformAction(package, action, configuration, install_, content_, quarantine, false);
    }

    std::wstring install_;
    std::wstring content_;
};

TEST_F(ControllerTest, InstallThenUnInstallLeavesNeitherFilesNorRecords) {
    auto package = LoadPackage(SimplePackage());

    ASSERT_EQ(Perform(*package, Action::Install), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(DirectoryExists(install_ + L"\\Logs"));
    std::wstring recorded;
    ASSERT_TRUE(GetHklmString(kReferenceKey, L"szInstallPath", recorded));
    EXPECT_EQ(recorded, install_);
    ASSERT_TRUE(GetHklmString(kTestKey, L"szDir", recorded));
    EXPECT_EQ(recorded, install_);
    EXPECT_NE(LogText().find(L"Install Successfull."), std::wstring::npos);

    // The uninstall finds the directories through the reference, not the command line.
    UseDirectories(L"C:\\Elsewhere", L"C:\\ElsewhereContent");
    auto again = LoadPackage(SimplePackage());
    EXPECT_EQ(Perform(*again, Action::UnInstall), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_FALSE(DirectoryExists(install_));
    EXPECT_FALSE(HklmKeyExists(kTestKey));
    EXPECT_FALSE(InstallReferenceExists());

    EXPECT_EQ(Perform(*again, Action::UnInstall), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_NE(LogText().find(L"Failed to UnInstall as Tarnex not Installed."), std::wstring::npos);
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
        if (c.reference) CreateHklmKey(kReferenceKey);
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
    EXPECT_FALSE(HklmKeyExists(L"SOFTWARE\\Norvex\\Coravel"));
    EXPECT_FALSE(HklmKeyExists(kTestKey));
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
    HANDLE marker = ::CreateEventW(nullptr, FALSE, FALSE, L"ORIOLEINSTALLER");
    ASSERT_NE(marker, nullptr);
    auto package = LoadPackage(SimplePackage());

    EXPECT_EQ(Perform(*package, Action::Install), static_cast<DWORD>(ERROR_SINGLE_INSTANCE_APP));
    ::CloseHandle(marker);

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

    SetHklmString(kReferenceKey, L"szInstallPath", L"C:\\Recorded");
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
