// Files another program holds open: repair and uninstall leave the work to the next restart,
// report 3010, and the restart finishes it.
#include <gtest/gtest.h>
#include <ostream>
#include "e2e/PackageFixture.h"

namespace e2e {
namespace {

struct HeldFileCase {
    const char* name;
    DWORD shareMode;             // how the other program holds the file
    const wchar_t* asideSuffix;  // the file next to the target after the repair
    bool newFileInPlaceAtOnce;   // whether the repaired file is in place before the restart
};

// Test names and failure messages show the case by its name.
void PrintTo(const HeldFileCase& c, std::ostream* os) { *os << c.name; }


// Held without any sharing, the file can be neither replaced nor renamed: the new build waits
// beside it ("__") to be moved over it at the restart. Held the way a loaded image is (renaming
// allowed, writing not), the old file is renamed aside ("_") and the new one copied in at once;
// the restart deletes the aside file.
const HeldFileCase kHeldFileCases[] = {
    {"NoSharing", 0, L"__", false},
    {"RenameAllowed", FILE_SHARE_READ | FILE_SHARE_DELETE, L"_", true},
};

class RepairOfHeldFileTest : public PackageTest, public testing::WithParamInterface<HeldFileCase> {};

TEST_P(RepairOfHeldFileTest, ReportsRestartAndTheRestartPutsTheRepairedFileInPlace) {
    const HeldFileCase& c = GetParam();
    ProcessResult result = RunInstaller(InstallArguments(L"lifecycle.xml"));
    ASSERT_EQ(0u, result.exitCode) << Describe(result, LogText());

    const std::wstring target = Installed(L"tarnexcore.dll");
    const std::wstring aside = target + c.asideSuffix;
    const std::string good = ReadFileBytes(Payload(L"core\\tarnexcore.dll"));
    ASSERT_TRUE(WriteFileBytes(target, "damaged build"))
        << "error " << ::GetLastError() << ", attributes 0x" << std::hex << ::GetFileAttributesW(target.c_str());
    {
        UniqueFileHandle held = HoldFile(target, c.shareMode);
        ASSERT_TRUE(held) << ::GetLastError();

        result = RunInstaller(RepairArguments(L"lifecycle.xml"));
        const std::wstring log = LogText();
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS_REBOOT_REQUIRED), result.exitCode) << Describe(result, log);
        EXPECT_TRUE(Contains(log, L"Copying file at reboot, from ")) << ToUtf8(log);
        EXPECT_TRUE(Contains(log, L"Reboot Required.")) << ToUtf8(log);
        EXPECT_EQ("damaged build", ReadThroughHandle(held.get())) << "the held file itself is never written";
        ASSERT_TRUE(FileExists(aside));
        if (c.newFileInPlaceAtOnce) {
            EXPECT_EQ(good, ReadFileBytes(target));
            EXPECT_EQ("damaged build", ReadFileBytes(aside));
        } else {
            EXPECT_EQ(good, ReadFileBytes(aside));
        }
        // The other files were intact and stay where they are.
        EXPECT_EQ(ReadFileBytes(Payload(L"core\\engine.cfg")), ReadFileBytes(Installed(L"engine.cfg")));
    }

    const ProcessResult restart = SimulateRestart();
    ASSERT_TRUE(restart.started) << restart.startError;
    EXPECT_EQ(good, ReadFileBytes(target));
    EXPECT_FALSE(FileExists(aside));
    EXPECT_FALSE(FileExists(target + L"_"));
    EXPECT_FALSE(FileExists(target + L"__"));

    result = RunInstaller(VerifyArguments(L"lifecycle.xml"));
    EXPECT_EQ(0u, result.exitCode) << Describe(result, LogText());
}

INSTANTIATE_TEST_SUITE_P(HeldFile, RepairOfHeldFileTest, testing::ValuesIn(kHeldFileCases),
                         [](const testing::TestParamInfo<HeldFileCase>& info) { return std::string(info.param.name); });

TEST_F(PackageTest, UninstallOfHeldFileReportsRestartAndTheRestartRemovesItAndTheInstallDirectory) {
    ProcessResult result = RunInstaller(InstallArguments(L"lifecycle.xml"));
    ASSERT_EQ(0u, result.exitCode) << Describe(result, LogText());

    const std::wstring held = Installed(L"tarnexcore.dll");
    {
        UniqueFileHandle handle = HoldFile(held, 0);
        ASSERT_TRUE(handle) << ::GetLastError();

        result = RunInstaller(UninstallArguments(L"lifecycle.xml"));
        const std::wstring log = LogText();
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS_REBOOT_REQUIRED), result.exitCode) << Describe(result, log);
        EXPECT_TRUE(Contains(log, L"Deleting file at reboot, ")) << ToUtf8(log);
        EXPECT_TRUE(Contains(log, L"Reboot Required.")) << ToUtf8(log);
        // Everything that could go went at once.
        EXPECT_FALSE(KeyExists(kReferenceKey));
        EXPECT_FALSE(KeyExists(kSettingsKey));
        EXPECT_FALSE(FileExists(Installed(L"engine.cfg")));
        EXPECT_FALSE(FileExists(Installed(L"data files\\signatures.dat")));
        EXPECT_TRUE(FileExists(held));
    }

    const ProcessResult restart = SimulateRestart();
    ASSERT_TRUE(restart.started) << restart.startError;
    EXPECT_FALSE(FileExists(held));
    EXPECT_FALSE(DirectoryExists(installDirectory_));
}

} // namespace
} // namespace e2e
