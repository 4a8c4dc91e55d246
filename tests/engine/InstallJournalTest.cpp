// The install journal against the real file system and registry: each kind of change is undone
// exactly, and what existed before is left as it was.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "engine/InstallJournal.h"
#include "shell/Handles.h"
#include "support/TestFiles.h"

namespace {

const wchar_t kTestKey[] = L"SOFTWARE\\InstallerTests\\Journal";

class InstallJournalTest : public testing::Test {
protected:
    void SetUp() override { ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\InstallerTests"); }
    void TearDown() override { ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\InstallerTests"); }

    static UniqueKey CreateKey(const std::wstring& subKey) {
        UniqueKey key;
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
        return key;
    }
    static bool KeyExists(const std::wstring& subKey) {
        UniqueKey key;
        return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
    }

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
    {
        UniqueKey key = CreateKey(kTestKey);
        ASSERT_TRUE(key);
        const wchar_t old[] = L"old";
        ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key.get(), L"szOwner", 0, REG_EXPAND_SZ,
                                                  reinterpret_cast<const BYTE*>(old), sizeof(old)));
    }
    const std::wstring newKey = std::wstring(kTestKey) + L"\\New\\Deeper";
    EXPECT_EQ(std::wstring(kTestKey) + L"\\New", InstallJournal::FirstMissingKey(HKEY_LOCAL_MACHINE, newKey));
    EXPECT_EQ(L"", InstallJournal::FirstMissingKey(HKEY_LOCAL_MACHINE, kTestKey));

    InstallJournal journal;
    {
        UniqueKey key = CreateKey(kTestKey);
        journal.BeforeValueWrite(key.get(), HKEY_LOCAL_MACHINE, kTestKey, L"szOwner");
        const DWORD number = 5;
        ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key.get(), L"szOwner", 0, REG_DWORD,
                                                  reinterpret_cast<const BYTE*>(&number), sizeof(number)));
        journal.BeforeValueWrite(key.get(), HKEY_LOCAL_MACHINE, kTestKey, L"dwFresh");
        ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key.get(), L"dwFresh", 0, REG_DWORD,
                                                  reinterpret_cast<const BYTE*>(&number), sizeof(number)));
        const std::wstring first = InstallJournal::FirstMissingKey(HKEY_LOCAL_MACHINE, newKey);
        ASSERT_TRUE(CreateKey(newKey));
        journal.KeyCreated(HKEY_LOCAL_MACHINE, first);
    }
    EXPECT_EQ(0u, journal.Rollback());

    UniqueKey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTestKey, 0, KEY_READ, key.put()));
    wchar_t data[16] = {};
    DWORD type = 0;
    DWORD size = sizeof(data);
    ASSERT_EQ(ERROR_SUCCESS, ::RegQueryValueExW(key.get(), L"szOwner", nullptr, &type, reinterpret_cast<BYTE*>(data), &size));
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), type);
    EXPECT_STREQ(L"old", data);
    EXPECT_NE(ERROR_SUCCESS, ::RegQueryValueExW(key.get(), L"dwFresh", nullptr, nullptr, nullptr, nullptr));
    EXPECT_FALSE(KeyExists(std::wstring(kTestKey) + L"\\New"));
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
