// What the installer refuses before it touches the machine: a second installer, actions on an
// engine that is not installed, an install over an installed engine or without content.
#include <gtest/gtest.h>
#include <ostream>
#include "e2e/PackageFixture.h"

namespace e2e {
namespace {

enum class Situation { Clean, AnotherInstallerRunning, AlreadyInstalled, ContentMissing, ContentIsAFile };
enum class Request { Install, Uninstall, Upgrade };

struct GuardCase {
    const char* name;
    Situation situation;
    Request request;
    DWORD expected;
    const wchar_t* logLine;
};

// Test names and failure messages show the case by its name.
void PrintTo(const GuardCase& c, std::ostream* os) { *os << c.name; }


const GuardCase kGuardCases[] = {
    {"SecondInstance", Situation::AnotherInstallerRunning, Request::Install, ERROR_SINGLE_INSTANCE_APP,
     L"Another Instance of Installer is already running."},
    {"UninstallNotInstalled", Situation::Clean, Request::Uninstall, ERROR_FILE_NOT_FOUND,
     L"Failed to UnInstall as Tarnex not Installed."},
    {"UpgradeNotInstalled", Situation::Clean, Request::Upgrade, ERROR_FILE_NOT_FOUND,
     L"Failed to Upgrade as Tarnex is not Installed."},
    {"InstallOverInstalled", Situation::AlreadyInstalled, Request::Install, ERROR_ALREADY_EXISTS,
     L"Tarnex Core Already Installed."},
    {"InstallWithoutContent", Situation::ContentMissing, Request::Install, ERROR_SERVICE_DOES_NOT_EXIST,
     L"PreRequisites (Keelson, content etc.) not Installed."},
    {"InstallWithContentPathAFile", Situation::ContentIsAFile, Request::Install, ERROR_SERVICE_DOES_NOT_EXIST,
     L"PreRequisites (Keelson, content etc.) not Installed."},
};

class RefusedActionTest : public PackageTest, public testing::WithParamInterface<GuardCase> {};

TEST_P(RefusedActionTest, ReturnsItsCodeAndChangesNothing) {
    const GuardCase& c = GetParam();
    const std::wstring elsewhere = *root_ / L"Elsewhere";
    UniqueKernelHandle otherInstaller;
    switch (c.situation) {
    case Situation::Clean:
        break;
    case Situation::AnotherInstallerRunning:
        otherInstaller.reset(::CreateEventW(nullptr, FALSE, FALSE, L"ORIOLEINSTALLER"));
        ASSERT_TRUE(otherInstaller) << ::GetLastError();
        break;
    case Situation::AlreadyInstalled:
        ASSERT_TRUE(WriteString(kReferenceKey, L"szInstallPath", elsewhere));
        ASSERT_TRUE(WriteString(kReferenceKey, L"szContentPath", contentDirectory_));
        break;
    case Situation::ContentMissing:
        ASSERT_TRUE(::RemoveDirectoryW(contentDirectory_.c_str()));
        break;
    case Situation::ContentIsAFile:
        ASSERT_TRUE(::RemoveDirectoryW(contentDirectory_.c_str()));
        ASSERT_TRUE(WriteTextFile(contentDirectory_, L"not a directory"));
        break;
    }

    std::vector<std::wstring> arguments;
    switch (c.request) {
    case Request::Install: arguments = InstallArguments(L"lifecycle.xml"); break;
    case Request::Uninstall: arguments = UninstallArguments(L"lifecycle.xml"); break;
    case Request::Upgrade: arguments = UpgradeArguments(L"upgrade.xml"); break;
    }
    const ProcessResult result = RunInstaller(arguments);
    const std::wstring log = LogText();
    EXPECT_EQ(c.expected, result.exitCode) << Describe(result, log);
    EXPECT_TRUE(Contains(log, c.logLine)) << ToUtf8(log);

    EXPECT_FALSE(DirectoryExists(installDirectory_));
    EXPECT_FALSE(KeyExists(kSettingsKey));
    EXPECT_TRUE(HelperRuns().empty());
    if (c.situation == Situation::AlreadyInstalled) {
        EXPECT_EQ(std::optional<std::wstring>(elsewhere), ReadString(kReferenceKey, L"szInstallPath"));
    } else {
        EXPECT_FALSE(KeyExists(kReferenceKey));
    }
}

INSTANTIATE_TEST_SUITE_P(Guard, RefusedActionTest, testing::ValuesIn(kGuardCases),
                         [](const testing::TestParamInfo<GuardCase>& info) { return std::string(info.param.name); });

// Repair does not ask for an install reference: repairing the files writes it again, creates the
// install directory and puts everything in place.
TEST_F(PackageTest, RepairWithoutInstallReferenceRecreatesTheInstallation) {
    const ProcessResult repair = RunInstaller(RepairArguments(L"lifecycle.xml"));
    ASSERT_EQ(0u, repair.exitCode) << Describe(repair, LogText());

    EXPECT_EQ((std::vector<std::wstring>{L"szContentPath", L"szInstallPath"}), ValueNames(kReferenceKey));
    EXPECT_EQ(std::optional<std::wstring>(installDirectory_), ReadString(kReferenceKey, L"szInstallPath"));
    EXPECT_EQ(std::optional<std::wstring>(contentDirectory_), ReadString(kReferenceKey, L"szContentPath"));
    EXPECT_EQ(ReadFileBytes(Payload(L"core\\tarnexcore.dll")), ReadFileBytes(Installed(L"tarnexcore.dll")));
    EXPECT_EQ(std::optional<std::wstring>(installDirectory_ + L"\\bin"), ReadString(kSettingsKey, L"szBinPath"));

    const ProcessResult verify = RunInstaller(VerifyArguments(L"lifecycle.xml"));
    EXPECT_EQ(0u, verify.exitCode) << Describe(verify, LogText());
}

} // namespace
} // namespace e2e
