#include <gtest/gtest.h>

#include "engine/InstallContext.h"
#include "operations/FileOperation.h"
#include "shell/Handles.h"
#include "OperationsTestSupport.h"
#include "support/PendingRenames.h"

namespace {

const char kNewContent[] = "new content of the package file";
const char kOldContent[] = "old content";

// Package files live in a sub-directory of the test program's folder, as they do next to the
// installer; the install directory is a temporary folder.
class FileOperationTest : public testing::Test {
protected:
    void SetUp() override {
        ResetInstallContext();
        sourceName_ = L"ops_files_" + std::to_wstring(::GetCurrentProcessId());
        sourceDir_ = TestProgramDirectory() + sourceName_;
        RemoveTree(sourceDir_);
        ASSERT_TRUE(::CreateDirectoryW(sourceDir_.c_str(), nullptr));
        InstallContext().installDirectory = install_.Path();
    }
    void TearDown() override {
        RemoveTree(sourceDir_);
        ResetInstallContext();
    }

    std::wstring SourceFile(const std::wstring& name) const { return sourceDir_ + L"\\" + name; }
    std::wstring InstalledFile(const std::wstring& name) const { return install_ / name; }

    std::unique_ptr<FileOperation> Element(const std::wstring& name, const std::wstring& digest,
                                           const std::wstring& destination = L"") const {
        return BindElement<FileOperation>(L"<FileOperation operation=\"copy\" source=\"" + sourceName_ + L"\" destination=\"" +
                                          destination + L"\" sha256=\"" + digest + L"\">" + name + L"</FileOperation>");
    }

    TempDir install_{ L"install" };
    PendingRenamesGuard pendingRenames_;
    std::wstring sourceName_;
    std::wstring sourceDir_;
};

TEST_F(FileOperationTest, BindsAttributesAndTheFileName) {
    auto element = BindElement<FileOperation>(
        L"<FileOperation operation=\"delete\" source=\"bin\" destination=\"$INSTALL_PATH\\x\" sha256=\"ab\" platform=\"x86\">a.dll</FileOperation>");
    EXPECT_EQ(element->Operation(), L"delete");
    EXPECT_EQ(element->Source(), L"bin");
    EXPECT_EQ(element->Destination(), L"$INSTALL_PATH\\x");
    EXPECT_EQ(element->Sha256(), L"ab");
    EXPECT_EQ(element->Platform(), L"x86");
    EXPECT_EQ(element->FileName(), L"a.dll");
    EXPECT_EQ(element->SourcePath(), TestProgramDirectory() + L"bin\\a.dll");

    // Without the attribute the platform is empty, which suits every processor.
    auto plain = BindElement<FileOperation>(L"<FileOperation operation=\"copy\" sha256=\"ab\">b.dll</FileOperation>");
    EXPECT_EQ(plain->Platform(), L"");
    EXPECT_EQ(plain->SourcePath(), TestProgramDirectory() + L"b.dll");
}

TEST_F(FileOperationTest, InstallCopiesIntoTheInstallDirectoryAndChecksTheDigest) {
    ASSERT_TRUE(WriteFileBytes(SourceFile(L"engine.dll"), kNewContent));
    auto element = Element(L"engine.dll", Sha256Text(kNewContent));
    LogCapture log;
    EXPECT_EQ(element->Install(), 0u);
    EXPECT_EQ(ReadFileBytes(InstalledFile(L"engine.dll")), kNewContent);
    EXPECT_TRUE(log.Contains(L"Successfully copied File, from " + SourceFile(L"engine.dll") + L" to " + InstalledFile(L"engine.dll")))
        << ToUtf8(log.Text());
}

TEST_F(FileOperationTest, InstallCreatesTheExpandedDestinationChain) {
    ASSERT_TRUE(WriteFileBytes(SourceFile(L"engine.dll"), kNewContent));
    auto element = Element(L"engine.dll", Sha256Text(kNewContent), L"$INSTALL_PATH\\bin\\x64");
    EXPECT_EQ(element->Install(), 0u);
    EXPECT_EQ(element->Destination(), install_ / L"bin\\x64");
    EXPECT_EQ(ReadFileBytes(install_ / L"bin\\x64\\engine.dll"), kNewContent);
    // Installing again over the existing folders and file succeeds.
    EXPECT_EQ(element->Install(), 0u);
}

TEST_F(FileOperationTest, InstallReportsCopyAndDigestFailuresWithoutTryingTheRestartForThem) {
    struct Case {
        const char* what;
        bool sourcePresent;
        bool rightDigest;
        bool installDirectoryPresent;
        bool rebootCopyAllowed;
        DWORD expected;
    };
    const Case cases[] = {
        { "wrong digest", true, false, true, false, ERROR_FILE_CORRUPT },
        { "missing source", false, true, true, false, ERROR_FILE_NOT_FOUND },
        { "missing source during repair", false, true, true, true, ERROR_FILE_NOT_FOUND },
        { "missing install directory", true, true, false, false, ERROR_PATH_NOT_FOUND },
        { "missing install directory during repair", true, true, false, true, ERROR_PATH_NOT_FOUND },
    };
    for (const auto& c : cases) {
        ResetInstallContext();
        InstallContext().installDirectory = c.installDirectoryPresent ? install_.Path() : install_ / L"missing";
        InstallContext().rebootCopyAllowed = c.rebootCopyAllowed;
        RemoveTree(SourceFile(L"engine.dll"));
        if (c.sourcePresent) {
            ASSERT_TRUE(WriteFileBytes(SourceFile(L"engine.dll"), kNewContent));
        }
        auto element = Element(L"engine.dll", c.rightDigest ? Sha256Text(kNewContent) : Sha256Text("other"));
        EXPECT_EQ(element->Install(), c.expected) << c.what;
        EXPECT_FALSE(InstallContext().rebootPending) << c.what;
        EXPECT_FALSE(AnyPendingRenameMentions(L"engine.dll")) << c.what;
    }
}

TEST_F(FileOperationTest, BusyTargetFailsAPlainInstallWithTheSharingViolation) {
    ASSERT_TRUE(WriteFileBytes(SourceFile(L"engine.dll"), kNewContent));
    ASSERT_TRUE(WriteFileBytes(InstalledFile(L"engine.dll"), kOldContent));
    UniqueFileHandle holder(::CreateFileW(InstalledFile(L"engine.dll").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    LogCapture log;
    EXPECT_EQ(Element(L"engine.dll", Sha256Text(kNewContent))->Install(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    holder.reset();
    EXPECT_EQ(ReadFileBytes(InstalledFile(L"engine.dll")), kOldContent);
    EXPECT_FALSE(InstallContext().rebootPending);
    EXPECT_TRUE(log.Contains(L"Failed to copy File, from ")) << ToUtf8(log.Text());
}

TEST_F(FileOperationTest, BusyTargetDuringRepairIsRenamedAsideAndReplaced) {
    ASSERT_TRUE(WriteFileBytes(SourceFile(L"engine.dll"), kNewContent));
    ASSERT_TRUE(WriteFileBytes(InstalledFile(L"engine.dll"), kOldContent));
    InstallContext().rebootCopyAllowed = true;
    UniqueFileHandle holder(::CreateFileW(InstalledFile(L"engine.dll").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    LogCapture log;
    EXPECT_EQ(Element(L"engine.dll", Sha256Text(kNewContent))->Repair(), 0u);
    holder.reset();
    EXPECT_TRUE(InstallContext().rebootPending);
    EXPECT_EQ(ReadFileBytes(InstalledFile(L"engine.dll")), kNewContent);
    EXPECT_EQ(ReadFileBytes(InstalledFile(L"engine.dll_")), kOldContent);
    EXPECT_TRUE(HasPendingRename(InstalledFile(L"engine.dll_"), L""));
    EXPECT_TRUE(log.Contains(L"Copying file at reboot, from " + SourceFile(L"engine.dll") + L" to " + InstalledFile(L"engine.dll")))
        << ToUtf8(log.Text());
}

TEST_F(FileOperationTest, RepairReplacesOnlyDamagedFilesAndMarksDamagedDriversForRestart) {
    struct Case { const wchar_t* name; bool damaged; bool restart; };
    const Case cases[] = {
        { L"tarnex.sys", false, false },
        { L"tarnex.sys", true, true },
        { L"tarnex.Sys", true, true },
        { L"tarnex.dll", true, false },
        { L".SYS", true, false },   // a name of four characters is no driver file name
    };
    for (const auto& c : cases) {
        ResetInstallContext();
        InstallContext().installDirectory = install_.Path();
        ASSERT_TRUE(WriteFileBytes(SourceFile(c.name), kNewContent));
        ASSERT_TRUE(WriteFileBytes(InstalledFile(c.name), c.damaged ? kOldContent : kNewContent));
        LogCapture log;
        EXPECT_EQ(Element(c.name, Sha256Text(kNewContent))->Repair(), 0u) << ToUtf8(c.name);
        EXPECT_EQ(ReadFileBytes(InstalledFile(c.name)), kNewContent) << ToUtf8(c.name);
        EXPECT_EQ(InstallContext().rebootPending, c.restart) << ToUtf8(c.name);
        const std::wstring line = c.damaged ? std::wstring(L"Repaired File ") + c.name : std::wstring(c.name) + L" File same, So not repaired";
        EXPECT_TRUE(log.Contains(line)) << ToUtf8(c.name) << "\n" << ToUtf8(log.Text());
    }
}

TEST_F(FileOperationTest, RepairReportsAFailedReinstall) {
    LogCapture log;
    EXPECT_EQ(Element(L"gone.dll", Sha256Text(kNewContent))->Repair(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(log.Contains(L"Failed to repair File gone.dll, Error Code: 2")) << ToUtf8(log.Text());
}

TEST_F(FileOperationTest, UnInstallDeletesTheFileAndTreatsAMissingOneAsDone) {
    ASSERT_TRUE(WriteFileBytes(InstalledFile(L"engine.dll"), kOldContent));
    LogCapture log;
    EXPECT_EQ(Element(L"engine.dll", Sha256Text(kNewContent))->UnInstall(), 0u);
    EXPECT_FALSE(FileExists(InstalledFile(L"engine.dll")));
    EXPECT_EQ(Element(L"engine.dll", Sha256Text(kNewContent))->UnInstall(), 0u);
    EXPECT_TRUE(log.Contains(L"Deleted File " + InstalledFile(L"engine.dll") + L". Result code 0")) << ToUtf8(log.Text());
    // A missing destination folder is as good as a missing file.
    EXPECT_EQ(Element(L"engine.dll", Sha256Text(kNewContent), install_ / L"none")->UnInstall(), 0u);
    EXPECT_FALSE(InstallContext().rebootPending);
}

TEST_F(FileOperationTest, UnInstallOfABusyFileSchedulesItsDeletionAtRestart) {
    ASSERT_TRUE(WriteFileBytes(InstalledFile(L"engine.dll"), kOldContent));
    UniqueFileHandle holder(::CreateFileW(InstalledFile(L"engine.dll").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    LogCapture log;
    EXPECT_EQ(Element(L"engine.dll", Sha256Text(kNewContent))->UnInstall(), 0u);
    holder.reset();
    EXPECT_TRUE(InstallContext().rebootPending);
    EXPECT_TRUE(HasPendingRename(InstalledFile(L"engine.dll"), L""));
    EXPECT_TRUE(log.Contains(L"Deleting file at reboot, " + InstalledFile(L"engine.dll"))) << ToUtf8(log.Text());
}

TEST_F(FileOperationTest, UpgradeCopiesOnlyANewerVersion) {
    struct Case { const wchar_t* installed; const wchar_t* candidate; bool copied; };
    const Case cases[] = {
        { L"ops_version_1_2_3_4.dll", L"ops_version_1_2_3_5.dll", true },
        { L"ops_version_1_2_3_5.dll", L"ops_version_1_2_3_4.dll", false },
        { L"ops_version_1_2_3_5.dll", L"ops_version_1_2_3_5.dll", false },
        { L"ops_version_none.dll", L"ops_version_1_2_3_5.dll", false },
        { L"ops_version_1_2_3_4.dll", L"ops_version_four_fields.dll", false },
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(::CopyFileW(VersionedFixture(c.candidate).c_str(), SourceFile(L"lib.dll").c_str(), FALSE));
        ASSERT_TRUE(::CopyFileW(VersionedFixture(c.installed).c_str(), InstalledFile(L"lib.dll").c_str(), FALSE));
        EXPECT_EQ(Element(L"lib.dll", Sha256Text("digest is not checked"))->Upgrade(), 0u) << ToUtf8(c.candidate);
        const std::string expected = ReadFileBytes(VersionedFixture(c.copied ? c.candidate : c.installed));
        EXPECT_EQ(ReadFileBytes(InstalledFile(L"lib.dll")), expected) << ToUtf8(c.installed) << " -> " << ToUtf8(c.candidate);
    }
    // Nothing installed yet: there is no version to compare with, so nothing is copied.
    RemoveTree(InstalledFile(L"lib.dll"));
    EXPECT_EQ(Element(L"lib.dll", Sha256Text(""))->Upgrade(), 0u);
    EXPECT_FALSE(FileExists(InstalledFile(L"lib.dll")));
}

TEST_F(FileOperationTest, VerifyReportsPresenceAndIntegrity) {
    ASSERT_TRUE(WriteFileBytes(InstalledFile(L"good.dll"), kNewContent));
    ASSERT_TRUE(WriteFileBytes(InstalledFile(L"bad.dll"), kOldContent));
    struct Case { const wchar_t* name; DWORD result; const wchar_t* line; };
    const Case cases[] = {
        { L"good.dll", 0, L"\nVerification succeeded for File " },
        { L"bad.dll", ERROR_FILE_CORRUPT, L"\nVerification failed for integrity of File " },
        { L"missing.dll", ERROR_FILE_NOT_FOUND, L"\nVerification failed for existance of File " },
    };
    for (const auto& c : cases) {
        DWORD result = 0;
        const std::wstring output = CaptureConsole([&] { result = Element(c.name, Sha256Text(kNewContent))->Verify(); });
        EXPECT_EQ(result, c.result) << ToUtf8(c.name);
        EXPECT_EQ(output, c.line + InstalledFile(c.name) + L".") << ToUtf8(c.name);
    }
}

} // namespace
