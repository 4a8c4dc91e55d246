#include <gtest/gtest.h>

#include <shlobj.h>
#include "engine/InstallHelper.h"
#include "engine/installer.h"
#include "operations/FileHelpers.h"
#include "shell/Handles.h"
#include "support/PendingRenames.h"
#include "EngineFixture.h"

using namespace engine_test;

namespace {

const wchar_t kTestKey[] = L"SOFTWARE\\Norvex\\EngineTest";
const wchar_t kReferenceKey[] = L"SOFTWARE\\Norvex\\Coravel\\Install_Reference";

std::wstring PackageXml(const std::wstring& features) {
    return L"<Package schemaVersion=\"1.1\" TarnexVersion=\"1.0.0.1\">" + features + L"</Package>";
}
std::wstring FeatureXml(const std::wstring& tag, const std::wstring& body) {
    return L"<Feature tag=\"" + tag + L"\">" + body + L"</Feature>";
}
std::wstring FileXml(const std::wstring& name, const std::wstring& digest, const std::wstring& attributes = L"") {
    return L"<FileOperation operation=\"copy\" sha256=\"" + digest + L"\" " + attributes + L">" + name +
           L"</FileOperation>";
}
std::wstring DirectoryXml(const std::wstring& path) {
    return L"<DirectoryOperation operation=\"create\">" + path + L"</DirectoryOperation>";
}
// One key with one SZ value; the key path is written as the document gives it.
std::wstring RegistryXml(const std::wstring& keyPath, const std::wstring& data = L"x") {
    return L"<RegistryOperation operation=\"create\"><RegKey key=\"" + keyPath +
           L"\"><RegValue type=\"SZ\" name=\"szValue\" data=\"" + data + L"\"/></RegKey></RegistryOperation>";
}
// A driver whose files are not next to the program: it cannot be installed or removed.
std::wstring DriverXml() {
    return std::wstring(L"<Driver><InfFile sha256=\"") + AnyDigest() + L"\">engine_test_absent.inf</InfFile><SysFile sha256=\"" +
           AnyDigest() + L"\">engine_test_absent.sys</SysFile></Driver>";
}
// A service that is not registered on the machine.
std::wstring ServiceXml() {
    return L"<Service><ServiceFile>absent.exe</ServiceFile><ServiceName>EngineTestAbsentService</ServiceName>"
           L"<DisplayName>Absent</DisplayName><Description>Absent</Description><DependOnService></DependOnService>"
           L"<Start>3</Start><FailureRestart><ResetPeriod>0</ResetPeriod><RestartCount>0</RestartCount>"
           L"<RestartDelay>0</RestartDelay></FailureRestart></Service>";
}
std::wstring Hklm(const std::wstring& subKey) { return L"HKLM\\" + subKey; }
std::wstring TestSubKey(const std::wstring& name) { return std::wstring(kTestKey) + L"\\" + name; }

// Holds a file open without sharing, so that nobody can delete it or its directory.
class LockedFile {
public:
    explicit LockedFile(const std::wstring& path) {
        EXPECT_TRUE(WriteFileBytes(path, "busy"));
        handle_.reset(::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        EXPECT_TRUE(handle_);
    }

private:
    UniqueFileHandle handle_;
};

using FeatureTest = EngineTest;

TEST_F(FeatureTest, InstallStopsAtTheFailingFileAfterItsDirectoriesAndBeforeRegistryAndLaterFeatures) {
    const std::wstring install = dir_ / L"inst";
    ASSERT_TRUE(::CreateDirectoryW(install.c_str(), nullptr));
    UseDirectories(install, dir_ / L"content");
    auto package = LoadPackage(PackageXml(
        FeatureXml(L"First", FileXml(L"engine_test_missing.dll", AnyDigest()) + DirectoryXml(L"$INSTALL_PATH\\made") +
                                 RegistryXml(Hklm(TestSubKey(L"AfterFile")))) +
        FeatureXml(L"Second", RegistryXml(Hklm(TestSubKey(L"SecondFeature"))))));

    EXPECT_EQ(package->Install(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    EXPECT_TRUE(DirectoryExists(install + L"\\made"));
    EXPECT_FALSE(hklm::KeyExists(TestSubKey(L"AfterFile")));
    EXPECT_FALSE(hklm::KeyExists(TestSubKey(L"SecondFeature")));
    const std::wstring log = LogText();
    EXPECT_NE(log.find(L"Failed to install File engine_test_missing.dll. Error Code 2"), std::wstring::npos);
    EXPECT_NE(log.find(L"End Installing Feature First"), std::wstring::npos);
    EXPECT_EQ(log.find(L"Begin Installing Feature Second"), std::wstring::npos);
}

TEST_F(FeatureTest, FailingDriverStopsTheInstallBeforeAnyCoreElementOrService) {
    const std::wstring install = dir_ / L"inst";
    UseDirectories(install, dir_ / L"content");
    auto package = LoadPackage(PackageXml(FeatureXml(
        L"Drivers", DriverXml() + DirectoryXml(L"$INSTALL_PATH\\made") + RegistryXml(Hklm(TestSubKey(L"Core"))) +
                        ServiceXml())));

    EXPECT_NE(package->Install(), static_cast<DWORD>(ERROR_SUCCESS));

    EXPECT_FALSE(DirectoryExists(install + L"\\made"));
    EXPECT_FALSE(hklm::KeyExists(TestSubKey(L"Core")));
    const std::wstring log = LogText();
    EXPECT_EQ(log.find(L"Service::Install"), std::wstring::npos);
    EXPECT_NE(log.find(L"End Installing Feature Drivers"), std::wstring::npos);
}

TEST_F(FeatureTest, InstallVerifyAndRepairOfFilesDirectoriesAndRegistrySkipFilesOfTheOtherPlatform) {
    const std::wstring install = dir_ / L"inst";
    ASSERT_TRUE(::CreateDirectoryW(install.c_str(), nullptr));
    UseDirectories(install, dir_ / L"content");
    const std::string content = "engine payload";
    const std::wstring digest = WritePayload(L"engine_test_payload.dll", content);
    auto package = LoadPackage(PackageXml(FeatureXml(
        L"Core", FileXml(L"engine_test_payload.dll", digest) +
                     FileXml(L"engine_test_x86_only.dll", AnyDigest(), L"platform=\"x86\"") +
                     DirectoryXml(L"$INSTALL_PATH\\Logs") + RegistryXml(Hklm(TestSubKey(L"Core")), L"$INSTALL_PATH"))));

    ASSERT_EQ(package->Install(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(ReadFileBytes(install + L"\\engine_test_payload.dll"), content);
    EXPECT_TRUE(DirectoryExists(install + L"\\Logs"));
    EXPECT_EQ(hklm::ReadString(TestSubKey(L"Core"), L"szValue"), std::optional<std::wstring>(install));
    // The x86 file would fail every operation: it is neither copied nor verified.
    EXPECT_EQ(package->Verify(), static_cast<DWORD>(ERROR_SUCCESS));

    // A damaged file and a deleted directory come back; a directory that exists is no failure.
    ASSERT_TRUE(WriteFileBytes(install + L"\\engine_test_payload.dll", "damaged"));
    ASSERT_TRUE(::RemoveDirectoryW((install + L"\\Logs").c_str()));
    EXPECT_EQ(package->Repair(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(ReadFileBytes(install + L"\\engine_test_payload.dll"), content);
    EXPECT_TRUE(DirectoryExists(install + L"\\Logs"));
    EXPECT_EQ(package->Repair(), static_cast<DWORD>(ERROR_SUCCESS));

    EXPECT_FALSE(FileExists(install + L"\\engine_test_x86_only.dll"));
    EXPECT_EQ(LogText().find(L"engine_test_x86_only.dll"), std::wstring::npos);
}

TEST_F(FeatureTest, VerifyVisitsEveryElementAndReportsTheLaterFailure) {
    UseDirectories(dir_ / L"inst", dir_ / L"content");
    // Registry operations are verified before files: the bad root (1169) comes first, the missing
    // file (2) last.
    auto package = LoadPackage(PackageXml(FeatureXml(
        L"Core", FileXml(L"engine_test_absent.dll", AnyDigest()) + RegistryXml(L"BADROOT\\SOFTWARE\\Norvex"))));
    EXPECT_EQ(package->Verify(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// A later step that succeeds does not hide the install directory that stays behind.
TEST_F(FeatureTest, CoreUnInstallKeepsTheDirectoryFailureWhateverFollows) {
    struct Case { const char* name; bool withRegistry; DWORD expected; };
    const Case cases[] = {
        { "registry operation follows", true, ERROR_ACCESS_DENIED },
        { "no registry operation", false, ERROR_ACCESS_DENIED },
    };
    for (const auto& c : cases) {
        const std::wstring install = dir_ / L"inst";
        ::CreateDirectoryW(install.c_str(), nullptr);
        UseDirectories(install, dir_ / L"content");
        ASSERT_TRUE(hklm::CreateKey(TestSubKey(L"Core")));
        auto package = LoadPackage(PackageXml(
            FeatureXml(L"Core", c.withRegistry ? RegistryXml(Hklm(TestSubKey(L"Core"))) : DirectoryXml(L"$INSTALL_PATH\\d"))));
        {
            LockedFile busy(install + L"\\busy.dat");
            EXPECT_EQ(package->features.front()->UnInstallCore(), c.expected) << c.name;
        }
        EXPECT_TRUE(DirectoryExists(install)) << c.name;
        EXPECT_NE(LogText().find(L"Failed to delete Install Directory"), std::wstring::npos) << c.name;
        RemoveTree(install);
    }
}

TEST_F(FeatureTest, UnInstallLogsEachServiceAndDriverAndReturnsTheServicesCode) {
    UseDirectories(dir_ / L"inst", dir_ / L"content");
    ASSERT_TRUE(hklm::CreateKey(TestSubKey(L"Plain")));
    auto package = LoadPackage(PackageXml(FeatureXml(L"WithService", DriverXml() + ServiceXml()) +
                                          FeatureXml(L"Plain", RegistryXml(Hklm(TestSubKey(L"Plain"))))));

    const DWORD result = package->features[0]->UnInstall();
    ASSERT_NE(result, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(package->features[1]->UnInstall(), static_cast<DWORD>(ERROR_SUCCESS));

    const std::wstring log = LogText();
    // The last service's line appears twice; the feature without services reports success once.
    EXPECT_EQ(CountOccurrences(log, L"Service UnInstall Failed. Error Code: " + std::to_wstring(result)), 2);
    EXPECT_EQ(CountOccurrences(log, L"Service UnInstall Successful"), 1);
    EXPECT_EQ(CountOccurrences(log, L"Driver UnInstall Failed. Error Code: "), 1);
    EXPECT_EQ(CountOccurrences(log, L"Core UnInstall Successful"), 2);
    EXPECT_EQ(CountOccurrences(log, L"End Installing Feature WithService"), 1);
}

using PackageUnInstallTest = EngineTest;

TEST_F(PackageUnInstallTest, WithoutARecordedInstallDirectoryNoFeatureIsTouched) {
    struct Case { const char* name; bool writeKey; const wchar_t* installPath; };
    const Case cases[] = {
        { "no install reference", false, nullptr },
        { "no szInstallPath value", true, nullptr },
        { "empty szInstallPath value", true, L"" },
    };
    for (const auto& c : cases) {
        DeleteTestKeys();
        if (c.writeKey) {
            ASSERT_TRUE(hklm::CreateKey(kReferenceKey));
        }
        if (c.installPath) {
            ASSERT_TRUE(hklm::WriteString(kReferenceKey, L"szInstallPath", c.installPath));
        }
        ASSERT_TRUE(hklm::CreateKey(TestSubKey(L"Keep")));
        UseDirectories(L"C:\\FromCommandLine", L"C:\\Content");
        auto package = LoadPackage(PackageXml(FeatureXml(L"Core", RegistryXml(Hklm(TestSubKey(L"Keep"))))));

        EXPECT_EQ(package->UnInstall(), static_cast<DWORD>(ERROR_CANTREAD)) << c.name;
        EXPECT_TRUE(hklm::KeyExists(TestSubKey(L"Keep"))) << c.name;
        EXPECT_EQ(InstallContext().installDirectory, L"C:\\FromCommandLine") << c.name;
    }
}

TEST_F(PackageUnInstallTest, FirstFeatureFailureIsTheResultAlthoughLaterFeaturesAndTheDirectoryGo) {
    const std::wstring install = dir_ / L"recorded";
    ASSERT_TRUE(::CreateDirectoryW(install.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(install + L"\\left.dat", "x"));
    ASSERT_TRUE(hklm::WriteString(kReferenceKey, L"szInstallPath", install));
    ASSERT_TRUE(hklm::WriteString(kReferenceKey, L"szContentPath", dir_ / L"recordedContent"));
    ASSERT_TRUE(hklm::CreateKey(TestSubKey(L"Second")));
    UseDirectories(L"C:\\FromCommandLine", L"C:\\FromCommandLineContent");
    auto package = LoadPackage(PackageXml(FeatureXml(L"Failing", RegistryXml(L"BADROOT\\SOFTWARE\\Norvex")) +
                                          FeatureXml(L"Passing", RegistryXml(Hklm(TestSubKey(L"Second"))))));

    EXPECT_EQ(package->UnInstall(), 1169u);

    EXPECT_FALSE(DirectoryExists(install));
    EXPECT_FALSE(hklm::KeyExists(TestSubKey(L"Second")));
    EXPECT_EQ(InstallContext().installDirectory, install);
    EXPECT_EQ(InstallContext().contentPath, dir_ / L"recordedContent");
    EXPECT_FALSE(InstallContext().rebootPending);
    const std::wstring log = LogText();
    EXPECT_NE(log.find(L"Feature UnInstall Failed. Error Code: 1169"), std::wstring::npos);
    EXPECT_NE(log.find(L"Feature UnInstall Successful."), std::wstring::npos);
    EXPECT_NE(log.find(L"Package UnInstall Failed. Error Code: 1169"), std::wstring::npos);
}

TEST_F(PackageUnInstallTest, DirectoryAlreadyGoneIsSuccessWithNothingScheduled) {
    ASSERT_TRUE(hklm::WriteString(kReferenceKey, L"szInstallPath", dir_ / L"gone"));
    ASSERT_TRUE(hklm::CreateKey(TestSubKey(L"Core")));
    auto package = LoadPackage(PackageXml(FeatureXml(L"A", RegistryXml(Hklm(TestSubKey(L"Core")))) +
                                          FeatureXml(L"B", DirectoryXml(L"$INSTALL_PATH\\sub"))));

    EXPECT_EQ(package->UnInstall(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_FALSE(InstallContext().rebootPending);
    // The content path was not recorded: the command line's stays.
    EXPECT_EQ(InstallContext().contentPath, L"");
}

// The restart-time removal the uninstall schedules must not reach later tests.
class DirectoryInUseTest : public EngineTest {
protected:
    PendingRenamesGuard pendingRenames_;
};

// A file of another program, held open in the install directory: the uninstall fails and keeps
// the install reference, so that a retry once the file is released finds the installation.
TEST_F(DirectoryInUseTest, ForeignFileHeldInTheInstallDirectoryFailsTheUnInstallAndKeepsTheReference) {
    const std::wstring install = dir_ / L"busy";
    ASSERT_TRUE(::CreateDirectoryW(install.c_str(), nullptr));
    ASSERT_TRUE(hklm::WriteString(kReferenceKey, L"szInstallPath", install));
    ASSERT_TRUE(hklm::WriteString(kReferenceKey, L"szContentPath", dir_ / L"content"));
    ASSERT_TRUE(hklm::CreateKey(TestSubKey(L"Core")));
    auto package = LoadPackage(PackageXml(FeatureXml(L"Core", RegistryXml(Hklm(TestSubKey(L"Core"))))));
    {
        LockedFile busy(install + L"\\busy.dat");
        EXPECT_EQ(UnInstall(*package), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    EXPECT_TRUE(hklm::KeyExists(kReferenceKey));
    EXPECT_NE(LogText().find(L"Deleting directory at reboot, " + install), std::wstring::npos);
}

using PackageUpgradeTest = EngineTest;

TEST_F(PackageUpgradeTest, TakesTheInstallDirectoryFromTheReferenceOrFailsWithoutIt) {
    UseDirectories(L"", dir_ / L"content");
    auto package = LoadPackage(PackageXml(FeatureXml(L"Core", RegistryXml(Hklm(TestSubKey(L"Core"))))));
    EXPECT_EQ(package->Upgrade(), static_cast<DWORD>(ERROR_CANTREAD));
    EXPECT_EQ(InstallContext().installDirectory, L"");

    ASSERT_TRUE(hklm::WriteString(kReferenceKey, L"szInstallPath", L"C:\\Recorded Dir"));
    EXPECT_EQ(package->Upgrade(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(InstallContext().installDirectory, L"C:\\Recorded Dir");
}

using PackagePrerequisiteTest = EngineTest;

TEST_F(PackagePrerequisiteTest, DriversInTheFirstFeatureNeedThePlatformKey) {
    struct Case { const char* name; bool driverFirst; const wchar_t* platformKey; DWORD expected; };
    const Case cases[] = {
        { "drivers, no platform key", true, nullptr, ERROR_SERVICE_DOES_NOT_EXIST },
        { "drivers, native key", true, L"SOFTWARE\\Norvex\\Keelson", ERROR_SUCCESS },
        { "drivers, 32-bit key", true, L"SOFTWARE\\Wow6432Node\\Norvex\\Keelson", ERROR_SUCCESS },
        { "drivers only in a later feature", false, nullptr, ERROR_SUCCESS },
    };
    for (const auto& c : cases) {
        DeleteTestKeys();
        if (c.platformKey) {
            ASSERT_TRUE(hklm::CreateKey(c.platformKey));
        }
        const std::wstring driverFeature = FeatureXml(L"D", DriverXml());
        const std::wstring plainFeature = FeatureXml(L"P", RegistryXml(Hklm(TestSubKey(L"P"))));
        auto package = LoadPackage(PackageXml(c.driverFirst ? driverFeature : plainFeature + driverFeature));
        EXPECT_EQ(package->IsPreRequisitesInstalled(), c.expected) << c.name;
    }
    Package empty;
    EXPECT_EQ(empty.IsPreRequisitesInstalled(), static_cast<DWORD>(ERROR_SUCCESS));
}

using DirectoryRemovalTest = EngineTest;

TEST_F(DirectoryRemovalTest, ProtectedDirectoriesAreNeverEmptiedOrRemoved) {
    wchar_t windows[MAX_PATH] = {};
    wchar_t system[MAX_PATH] = {};
    ASSERT_GT(::GetWindowsDirectoryW(windows, MAX_PATH), 0u);
    ASSERT_GT(::GetSystemDirectoryW(system, MAX_PATH), 0u);
    const std::wstring protectedDirectories[] = { L"C:\\", L"C:", windows, system, std::wstring(system) + L"\\" };
    for (const auto& path : protectedDirectories) {
        EXPECT_FALSE(DeleteDirectoryContents(path)) << testing::PrintToString(path);
        EXPECT_EQ(RemoveInstallDirectory(path), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << testing::PrintToString(path);
    }
    EXPECT_TRUE(FileExists(std::wstring(system) + L"\\kernel32.dll"));
    EXPECT_NE(LogText().find(L"Refusing to delete protected directory"), std::wstring::npos);
}

// The shell's pattern (the path, "\*.*" and two NULs) fills a 2048-unit buffer at a path of
// 2042 characters; one character more is refused before anything is deleted.
TEST_F(DirectoryRemovalTest, DeleteDirectoryContentsTakesPathsUpToItsPatternBuffer) {
    struct Case { size_t length; bool removed; };
    const Case cases[] = { { 2042, true }, { 2043, false } };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.length << " characters");
        std::wstring path = dir_ / (L"p" + std::to_wstring(c.length));
        while (c.length - path.size() > 150) path += L"\\" + std::wstring(100, L'd');
        path += L"\\" + std::wstring(c.length - path.size() - 1, L'e');
        ASSERT_EQ(c.length, path.size());
        ASSERT_EQ(CreateDirectoryTree(path), static_cast<DWORD>(ERROR_SUCCESS));
        const std::wstring file = L"\\\\?\\" + path + L"\\inside.txt";
        ASSERT_TRUE(WriteFileBytes(file, "kept unless removed"));

        EXPECT_EQ(c.removed, DeleteDirectoryContents(path));
        EXPECT_EQ(c.removed, !DirectoryExists(L"\\\\?\\" + path));
        EXPECT_EQ(c.removed, !FileExists(file));
        EXPECT_EQ(c.removed ? 0 : 1, CountOccurrences(LogText(), L"path is too long"));
    }
}

TEST_F(DirectoryRemovalTest, DeleteDirectoryContentsRemovesTheTreeAndTreatsAMissingDirectoryAsGone) {
    const std::wstring tree = dir_ / L"tree";
    ASSERT_EQ(::SHCreateDirectoryExW(nullptr, (tree + L"\\a\\b").c_str(), nullptr), ERROR_SUCCESS);
    ASSERT_TRUE(WriteFileBytes(tree + L"\\top.txt", "1"));
    ASSERT_TRUE(WriteFileBytes(tree + L"\\a\\b\\deep.txt", "2"));

    EXPECT_TRUE(DeleteDirectoryContents(tree));
    EXPECT_FALSE(DirectoryExists(tree));
    EXPECT_TRUE(DeleteDirectoryContents(tree));
    EXPECT_FALSE(DeleteDirectoryContents(L""));
    EXPECT_EQ(RemoveInstallDirectory(tree), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(RemoveInstallDirectory(dir_ / L"no\\such\\parent"), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_FALSE(InstallContext().rebootPending);
}

} // namespace
