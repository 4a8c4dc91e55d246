// A failed install leaves the machine as it found it.
#include <windows.h>
#include <shlobj.h>
#include <gtest/gtest.h>
#include <ostream>
#include "e2e/PackageFixture.h"

namespace e2e {
namespace {

struct FailingPackageCase {
    const char* name;
    const wchar_t* document;
    DWORD expected;
};

// Test names and failure messages show the case by its name.
void PrintTo(const FailingPackageCase& c, std::ostream* os) { *os << c.name; }


// Both documents install a settings feature (a directory and registry values) and then copy
// files; the third file fails after two were copied.
const FailingPackageCase kFailingPackages[] = {
    {"WrongDigest", L"bad-digest.xml", ERROR_FILE_CORRUPT},
    {"MissingPayloadFile", L"missing-file.xml", ERROR_FILE_NOT_FOUND},
};

class FailedInstallTest : public PackageTest, public testing::WithParamInterface<FailingPackageCase> {};

TEST_P(FailedInstallTest, RollsBackEverythingItInstalled) {
    const FailingPackageCase& c = GetParam();
    const ProcessResult result = RunInstaller(InstallArguments(c.document));
    const std::wstring log = LogText();
    ASSERT_EQ(c.expected, result.exitCode) << Describe(result, log);

    EXPECT_TRUE(Contains(log, L"Failed to Install, Starting RollBack.")) << ToUtf8(log);
    EXPECT_FALSE(KeyExists(kReferenceKey));
    EXPECT_FALSE(KeyExists(kSettingsKey));
    EXPECT_FALSE(FileExists(Installed(L"engine.cfg")));
    EXPECT_FALSE(FileExists(Installed(L"tarnexcore.dll")));
    EXPECT_FALSE(DirectoryExists(installDirectory_));
    EXPECT_TRUE(DirectoryExists(contentDirectory_));
}

INSTANTIATE_TEST_SUITE_P(Install, FailedInstallTest, testing::ValuesIn(kFailingPackages),
                         [](const testing::TestParamInfo<FailingPackageCase>& info) { return std::string(info.param.name); });

TEST_F(PackageTest, InstallIntoANonEmptyDirectoryRefusesWithoutTouchingIt) {
    ASSERT_EQ(0, ::SHCreateDirectoryExW(nullptr, installDirectory_.c_str(), nullptr));
    ASSERT_TRUE(WriteTextFile(Installed(L"notes.txt"), L"the administrator's notes"));

    const ProcessResult result = RunInstaller(InstallArguments(L"lifecycle.xml"));
    const std::wstring log = LogText();
    ASSERT_EQ(static_cast<DWORD>(ERROR_DIR_NOT_EMPTY), result.exitCode) << Describe(result, log);

    EXPECT_TRUE(Contains(log, L"Error: Install directory not empty.")) << ToUtf8(log);
    EXPECT_FALSE(Contains(log, L"Starting RollBack")) << ToUtf8(log);
    EXPECT_FALSE(KeyExists(kReferenceKey));
    EXPECT_FALSE(KeyExists(kSettingsKey));
    EXPECT_EQ("the administrator's notes", ReadFileBytes(Installed(L"notes.txt")));
    EXPECT_FALSE(FileExists(Installed(L"engine.cfg")));
    EXPECT_TRUE(HelperRuns().empty());
}

} // namespace
} // namespace e2e
