#include <gtest/gtest.h>

#include "engine/InstallContext.h"
#include "operations/ExecuteOperation.h"
#include "OperationsTestSupport.h"

namespace {

TEST(ExecuteCommandLine, QuotesTheProgramPathAndAppendsTheQuietSwitch) {
    struct Case { const wchar_t* directory; const wchar_t* source; const wchar_t* file; const wchar_t* expected; };
    const Case cases[] = {
        { L"C:\\pkg\\", L"vcredist", L"x.exe", L"\"C:\\pkg\\\\vcredist\\x.exe\" /q" },
        { L"C:\\Program Files\\Tarnex Setup\\", L"redist", L"vc.exe", L"\"C:\\Program Files\\Tarnex Setup\\\\redist\\vc.exe\" /q" },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BuildExecuteCommandLine(c.directory, c.source, c.file), c.expected) << ToUtf8(c.directory);
    }
}

TEST(ExecuteCommandLine, IsEmptyWhenItDoesNotFitTheBuffer) {
    // Two quotes, two backslashes and " /q" add seven characters; 259 characters and the terminator fit.
    const std::wstring directory = L"C:\\pkg\\";
    const std::wstring source = L"redist";
    const size_t fixed = directory.size() + source.size() + 7;
    const std::wstring fitting(259 - fixed, L'f');
    EXPECT_EQ(BuildExecuteCommandLine(directory, source, fitting).size(), 259u);
    EXPECT_EQ(BuildExecuteCommandLine(directory, source, fitting + L"f"), L"");
}

// The helper program is copied into a folder with a blank in its name under the test program's
// folder; a decoy named like the part before the blank must never run.
class ExecuteOperationTest : public testing::Test {
protected:
    void SetUp() override {
        ResetInstallContext();
        const std::wstring stem = L"ops_exec" + std::to_wstring(::GetCurrentProcessId());
        source_ = stem + L" redist";
        sourceDir_ = TestProgramDirectory() + source_;
        decoy_ = TestProgramDirectory() + stem + L".exe";
        RemoveTree(sourceDir_);
        ASSERT_TRUE(::CreateDirectoryW(sourceDir_.c_str(), nullptr));
        const std::wstring helper = TestProgramDirectory() + L"exit_code_helper.exe";
        ASSERT_TRUE(::CopyFileW(helper.c_str(), (sourceDir_ + L"\\setup.exe").c_str(), FALSE));
        ASSERT_TRUE(::CopyFileW(helper.c_str(), decoy_.c_str(), FALSE));
        record_ = records_ / L"record.txt";
        ::SetEnvironmentVariableW(L"EXIT_CODE_HELPER_RECORD", record_.c_str());
    }
    void TearDown() override {
        ::SetEnvironmentVariableW(L"EXIT_CODE_HELPER_RECORD", nullptr);
        ::SetEnvironmentVariableW(L"EXIT_CODE_HELPER_CODE", nullptr);
        RemoveTree(sourceDir_);
        RemoveTree(decoy_);
        ResetInstallContext();
    }

    std::unique_ptr<ExecuteOperation> Element(const std::wstring& file) const {
        return BindElement<ExecuteOperation>(L"<ExecuteOperation source=\"" + source_ + L"\" sha256=\"" + std::wstring(64, L'0') +
                                             L"\">" + file + L"</ExecuteOperation>");
    }

    TempDir records_{ L"exec" };
    std::wstring source_;
    std::wstring sourceDir_;
    std::wstring decoy_;
    std::wstring record_;
};

TEST_F(ExecuteOperationTest, RunsTheInstallerQuietlyAndIgnoresItsExitCode) {
    ::SetEnvironmentVariableW(L"EXIT_CODE_HELPER_CODE", L"1603");
    auto element = Element(L"setup.exe");
    EXPECT_EQ(element->Source(), source_);
    EXPECT_EQ(element->FileName(), L"setup.exe");
    LogCapture log;
    EXPECT_EQ(element->Install(), 0u);
    const std::string record = ReadFileBytes(record_);
    const std::string program = ToUtf8(sourceDir_ + L"\\setup.exe");
    // The program that ran is the one in the folder with the blank, started with " /q".
    EXPECT_NE(record.find(program), std::string::npos) << record;
    EXPECT_NE(record.find("\" /q"), std::string::npos) << record;
    EXPECT_TRUE(log.Contains(L"Exit code from CRT installer 1603")) << ToUtf8(log.Text());
}

TEST_F(ExecuteOperationTest, MissingInstallerFailsWithFileNotFound) {
    EXPECT_EQ(Element(L"absent.exe")->Install(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(FileExists(record_));
}

TEST_F(ExecuteOperationTest, OtherActionsStartNothing) {
    auto element = Element(L"setup.exe");
    EXPECT_EQ(element->UnInstall(), 0u);
    EXPECT_EQ(element->Repair(), 0u);
    EXPECT_EQ(element->Upgrade(), 0u);
    EXPECT_EQ(element->Verify(), 0u);
    EXPECT_FALSE(FileExists(record_));
}

} // namespace
