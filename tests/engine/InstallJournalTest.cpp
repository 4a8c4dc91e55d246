// The install journal against the real file system and registry: each kind of change is undone
// exactly, and what existed before is left as it was.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "engine/InstallJournal.h"
#include "shell/Handles.h"
#include "support/Registry.h"
#include "support/TestFiles.h"

namespace {

const wchar_t kTestKey[] = L"SOFTWARE\\InstallerTests\\Journal";

class InstallJournalTest : public testing::Test {
protected:
    void SetUp() override { hklm::DeleteKey(L"SOFTWARE\\InstallerTests"); }
    void TearDown() override { hklm::DeleteKey(L"SOFTWARE\\InstallerTests"); }

    TempDir dir_{ L"journal" };
};

TEST_F(InstallJournalTest, ReplacedFilesComeBackAndCreatedFilesGo) {
    const std::wstring existing = dir_ / L"shared.dll";
    const std::wstring created = dir_ / L"new.dll";
    ASSERT_TRUE(WriteFileBytes(existing, "old"));
    ASSERT_TRUE(::SetFileAttributesW(existing.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    {
        InstallJournal journal;
        ASSERT_EQ(0u, journal.BeforeFileWrite(existing));
        ASSERT_TRUE(::SetFileAttributesW(existing.c_str(), FILE_ATTRIBUTE_NORMAL));
        ASSERT_TRUE(WriteFileBytes(existing, "new"));
        ASSERT_EQ(0u, journal.BeforeFileWrite(created));
        ASSERT_TRUE(WriteFileBytes(created, "new"));
        // The same target written twice in one run comes back as it was before the run.
        ASSERT_EQ(0u, journal.BeforeFileWrite(created));
        ASSERT_TRUE(WriteFileBytes(created, "newer"));

        EXPECT_EQ(0u, journal.Rollback());
    }
    EXPECT_EQ("old", ReadFileBytes(existing));
    const DWORD kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
    EXPECT_EQ(kept, ::GetFileAttributesW(existing.c_str()) & kept);
    EXPECT_FALSE(FileExists(created));
    ::SetFileAttributesW(existing.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(InstallJournalTest, CommitKeepsTheChangesAndDropsTheCopies) {
    const std::wstring existing = dir_ / L"shared.dll";
    ASSERT_TRUE(WriteFileBytes(existing, "old"));
    InstallJournal journal;
    ASSERT_EQ(0u, journal.BeforeFileWrite(existing));
    ASSERT_TRUE(WriteFileBytes(existing, "new"));
    journal.Commit();
    EXPECT_EQ(0u, journal.EntryCount());
    EXPECT_EQ(0u, journal.Rollback());
    EXPECT_EQ("new", ReadFileBytes(existing));
}

TEST_F(InstallJournalTest, OnlyTheDirectoriesThisRunCreatedAreRemoved) {
    const std::wstring existing = dir_ / L"existing";
    ASSERT_TRUE(::CreateDirectoryW(existing.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(existing + L"\\user.txt", "the user's"));
    const std::wstring deep = existing + L"\\a\\b\\c";

    const auto missing = InstallJournal::MissingDirectories(deep + L"\\");
    ASSERT_EQ((std::vector<std::wstring>{ existing + L"\\a", existing + L"\\a\\b", deep }), missing);
    EXPECT_TRUE(InstallJournal::MissingDirectories(existing).empty());

    InstallJournal journal;
    ASSERT_EQ(0, ::SHCreateDirectoryExW(nullptr, deep.c_str(), nullptr));
    journal.DirectoriesCreated(missing);
    ASSERT_TRUE(WriteFileBytes(deep + L"\\left by a helper.txt", "x"));
    EXPECT_EQ(0u, journal.Rollback());

    EXPECT_FALSE(DirectoryExists(existing + L"\\a"));
    EXPECT_EQ("the user's", ReadFileBytes(existing + L"\\user.txt"));
}

TEST_F(InstallJournalTest, RegistryValuesGetTheirTypeAndDataBackAndNewKeysGo) {
    const wchar_t old[] = L"old";
    ASSERT_TRUE(hklm::WriteValue(kTestKey, L"szOwner", REG_EXPAND_SZ, old, sizeof(old)));
    const std::wstring newKey = std::wstring(kTestKey) + L"\\New\\Deeper";
    EXPECT_EQ(std::wstring(kTestKey) + L"\\New", InstallJournal::FirstMissingKey(HKEY_LOCAL_MACHINE, newKey));
    EXPECT_EQ(L"", InstallJournal::FirstMissingKey(HKEY_LOCAL_MACHINE, kTestKey));

    InstallJournal journal;
    {
        UniqueKey key;
        ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTestKey, 0, KEY_ALL_ACCESS, key.put()));
        journal.BeforeValueWrite(key.get(), HKEY_LOCAL_MACHINE, kTestKey, L"szOwner");
        ASSERT_TRUE(hklm::WriteDword(kTestKey, L"szOwner", 5));
        journal.BeforeValueWrite(key.get(), HKEY_LOCAL_MACHINE, kTestKey, L"dwFresh");
        ASSERT_TRUE(hklm::WriteDword(kTestKey, L"dwFresh", 5));
        const std::wstring first = InstallJournal::FirstMissingKey(HKEY_LOCAL_MACHINE, newKey);
        ASSERT_TRUE(hklm::CreateKey(newKey));
        journal.KeyCreated(HKEY_LOCAL_MACHINE, first);
    }
    EXPECT_EQ(0u, journal.Rollback());

    const hklm::StoredValue owner = hklm::ReadValue(kTestKey, L"szOwner");
    ASSERT_TRUE(owner.exists);
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), owner.type);
    EXPECT_EQ(std::wstring(old, 4), owner.Units());
    EXPECT_FALSE(hklm::ValueExists(kTestKey, L"dwFresh"));
    EXPECT_FALSE(hklm::KeyExists(std::wstring(kTestKey) + L"\\New"));
}

TEST_F(InstallJournalTest, WhatCannotBePutBackIsReportedWithItsCode) {
    InstallJournal journal;
    int order = 0;
    int first = 0;
    int second = 0;
    journal.Record(L"first", [&] { first = ++order; return static_cast<DWORD>(ERROR_ACCESS_DENIED); });
    journal.Record(L"second", [&] { second = ++order; return static_cast<DWORD>(ERROR_SHARING_VIOLATION); });
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), journal.Rollback()) << "newest first: its failure comes first";
    EXPECT_EQ(2, first);
    EXPECT_EQ(1, second);
}

} // namespace
