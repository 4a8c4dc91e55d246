#include <gtest/gtest.h>

#include "engine/InstallContext.h"
#include "operations/DirectoryOperation.h"
#include "OperationsTestSupport.h"
#include "support/PendingRenames.h"

namespace {

class DirectoryOperationTest : public testing::Test {
protected:
    void SetUp() override {
        ResetInstallContext();
        InstallContext().installDirectory = install_.Path();
    }
    void TearDown() override { ResetInstallContext(); }

    static std::unique_ptr<DirectoryOperation> Element(const std::wstring& path, const std::wstring& operation = L"create") {
        return BindElement<DirectoryOperation>(L"<DirectoryOperation operation=\"" + operation + L"\">" + path + L"</DirectoryOperation>");
    }

    TempDir install_{ L"install" };
    PendingRenamesGuard pendingRenames_;
};

TEST_F(DirectoryOperationTest, InstallCreatesTheChainOnceAndThenReportsItExists) {
    auto element = Element(L"$INSTALL_PATH\\logs\\daily");
    EXPECT_EQ(element->Operation(), L"create");
    LogCapture log;
    EXPECT_EQ(element->Install(), 0u);
    EXPECT_TRUE(DirectoryExists(install_ / L"logs\\daily"));
    EXPECT_EQ(element->Path(), install_ / L"logs\\daily");
    EXPECT_EQ(Element(L"$INSTALL_PATH\\logs\\daily")->Install(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(log.Contains(L"Begin directory operation create for path $INSTALL_PATH\\logs\\daily")) << ToUtf8(log.Text());
    EXPECT_TRUE(log.Contains(L"End directory operation create for path " + install_ / L"logs\\daily")) << ToUtf8(log.Text());
}

TEST_F(DirectoryOperationTest, UnInstallRemovesAnEmptyDirectoryAndAcceptsAMissingOne) {
    ASSERT_TRUE(::CreateDirectoryW((install_ / L"empty").c_str(), nullptr));
    LogCapture log;
    // The one trailing backslash is dropped before the removal.
    EXPECT_EQ(Element(L"$INSTALL_PATH\\empty\\")->UnInstall(), 0u);
    EXPECT_FALSE(DirectoryExists(install_ / L"empty"));
    EXPECT_EQ(Element(L"$INSTALL_PATH\\empty")->UnInstall(), 0u);
    EXPECT_EQ(Element(L"$INSTALL_PATH\\no\\such\\parent")->UnInstall(), 0u);
    EXPECT_TRUE(log.Contains(L"RemoveDirectory " + install_ / L"empty" + L"  returned 0")) << ToUtf8(log.Text());
    EXPECT_FALSE(InstallContext().rebootPending);
}

TEST_F(DirectoryOperationTest, UnInstallOfANonEmptyDirectorySchedulesItForTheRestart) {
    const std::wstring full = install_ / L"full";
    ASSERT_TRUE(::CreateDirectoryW(full.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(full + L"\\left.txt", "x"));
    LogCapture log;
    EXPECT_EQ(Element(L"$INSTALL_PATH\\full")->UnInstall(), 0u);
    EXPECT_TRUE(DirectoryExists(full));
    EXPECT_TRUE(InstallContext().rebootPending);
    EXPECT_TRUE(HasPendingRename(full, L""));
    EXPECT_TRUE(log.Contains(L"Delete failed  for " + full + L". Error Code : 145. So lets try during reboot.")) << ToUtf8(log.Text());
    EXPECT_TRUE(log.Contains(L"Deleting directory at reboot, " + full)) << ToUtf8(log.Text());
}

TEST_F(DirectoryOperationTest, VerifyReportsWhetherAnythingExistsAtThePath) {
    ASSERT_TRUE(::CreateDirectoryW((install_ / L"dir").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(install_ / L"file", "x"));
    struct Case { const wchar_t* path; DWORD result; const wchar_t* line; };
    const Case cases[] = {
        { L"dir", 0, L"\nVerification succeeded for existance of Directory " },
        { L"file", 0, L"\nVerification succeeded for existance of Directory " },   // any existing path passes
        { L"missing", ERROR_FILE_NOT_FOUND, L"\nVerification failed for existance of Directory " },
    };
    for (const auto& c : cases) {
        DWORD result = 99;
        const std::wstring output = CaptureConsole([&] { result = Element(std::wstring(L"$INSTALL_PATH\\") + c.path)->Verify(); });
        EXPECT_EQ(result, c.result) << ToUtf8(c.path);
        EXPECT_EQ(output, c.line + (install_ / c.path) + L".") << ToUtf8(c.path);
    }
}

TEST_F(DirectoryOperationTest, RepairAndUpgradeLeaveDirectoriesAlone) {
    auto element = Element(L"$INSTALL_PATH\\untouched");
    EXPECT_EQ(element->Repair(), 0u);
    EXPECT_EQ(element->Upgrade(), 0u);
    EXPECT_FALSE(DirectoryExists(install_ / L"untouched"));
    EXPECT_EQ(element->Path(), L"$INSTALL_PATH\\untouched");
}

} // namespace
