#include <gtest/gtest.h>

#include <cwctype>
#include <shlobj.h>

#include "operations/FileHelpers.h"
#include "shell/Handles.h"
#include "OperationsTestSupport.h"
#include "support/PendingRenames.h"

namespace {

TEST(ExtendedPath, PrefixesOnlyPathsLongerThanTheLimit) {
    const std::wstring local = L"C:\\" + std::wstring(258, L'x');          // 261 characters
    const std::wstring unc = L"\\\\server\\share\\" + std::wstring(250, L'y');
    const std::wstring fits = L"C:\\" + std::wstring(257, L'x');           // 260 characters
    struct Case { std::wstring path; size_t limit; std::wstring expected; };
    const Case cases[] = {
        { local, 260, L"\\\\?\\" + local },
        { unc, 260, L"\\\\?\\UNC\\server\\share\\" + std::wstring(250, L'y') },
        { fits, 260, fits },
        { fits, 248, L"\\\\?\\" + fits },
        { L"\\\\?\\" + local, 260, L"\\\\?\\" + local },
        { L"\\\\.\\" + local, 260, L"\\\\.\\" + local },
        { L"", 0, L"" },
        { L"C:\\a", 260, L"C:\\a" },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExtendedPath(c.path, c.limit), c.expected) << ToUtf8(c.path.substr(0, 20)) << "... limit " << c.limit;
    }
}

TEST(FullPathLong, GivesThePlainFullPathForLongAndShortPaths) {
    TempDir dir;
    // Beyond the limit the call sees the "\\?\" form; the prefix does not come back.
    const std::wstring longPath = dir / (std::wstring(150, L'a') + L"\\" + std::wstring(150, L'b') + L"\\c.txt");
    std::wstring full;
    const DWORD length = FullPathLong(longPath, full);
    EXPECT_EQ(full, longPath);
    EXPECT_EQ(length, longPath.size());

    std::wstring shortFull;
    EXPECT_GT(FullPathLong(dir / L"x\\..\\y", shortFull), 0u);
    EXPECT_EQ(shortFull, dir / L"y");
}

TEST(ProgramDirectory, IsTheRunningProgramsFolderWithATrailingBackslash) {
    std::wstring directory;
    ASSERT_EQ(GetProgramDirectory(directory), 0u);
    EXPECT_EQ(directory, TestProgramDirectory());
    EXPECT_EQ(directory.back(), L'\\');
}

std::wstring KnownFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return std::wstring();
    return path;
}

// Directory chains below and beyond what the shell's function can make, with its results.
TEST(CreateDirectoryTree, MakesEveryMissingLevelOfShortAndLongPathsWithTheShellsResults) {
    TempDir dir(L"tree");
    std::wstring longPath = dir / L"long";
    while (longPath.size() < 320) longPath += L"\\niveau " + std::wstring(40, L'n');
    struct Case { std::wstring path; DWORD expected; bool exists; };
    const Case cases[] = {
        { dir / L"short\\a\\b", ERROR_SUCCESS, true },
        { dir / L"short\\a\\b", ERROR_ALREADY_EXISTS, true },
        { longPath, ERROR_SUCCESS, true },
        { longPath + L"\\", ERROR_ALREADY_EXISTS, true },
        { longPath + L"\\logs", ERROR_SUCCESS, true },
        { std::wstring(300, L'r'), ERROR_BAD_PATHNAME, false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.path.size() << " characters: " << ToUtf8(c.path.substr(c.path.size() - 20)));
        EXPECT_EQ(c.expected, CreateDirectoryTree(c.path));
        EXPECT_EQ(c.exists, IsDirectoryPath(c.path));
    }
}

TEST(ProtectedDirectories, CoverDriveRootsAndTheWindowsAndSystemFolders) {
    wchar_t windows[MAX_PATH] = {};
    wchar_t system[MAX_PATH] = {};
    ::GetWindowsDirectoryW(windows, MAX_PATH);
    ::GetSystemDirectoryW(system, MAX_PATH);
    std::wstring windowsUpper = windows;
    for (auto& c : windowsUpper) c = static_cast<wchar_t>(towupper(c));
    TempDir dir;
    struct Case { std::wstring path; bool protectedDirectory; };
    const Case cases[] = {
        { L"C:\\", true }, { L"C:", true }, { L"c:\\", true }, { L"\\\\?\\C:\\", true }, { L"\\\\?\\C:", true },
        { L"D:\\", true }, { L"", true },
        { windows, true }, { std::wstring(windows) + L"\\", true }, { windowsUpper, true },
        { L"\\\\?\\" + std::wstring(windows), true },
        { system, true }, { std::wstring(system) + L"\\", true }, { std::wstring(system) + L"\\drivers\\..", true },
        { std::wstring(system) + L"\\drivers", false },
        { std::wstring(windows) + L"\\Temp", true },
        { dir.Path(), false }, { dir.Path() + L"\\", false },
        { L"C:\\Program Files\\Tarnex", false },
        // Shell folders, the profiles and the folder that holds them.
        { KnownFolder(CSIDL_PROGRAM_FILES), true }, { KnownFolder(CSIDL_PROGRAM_FILES) + L"\\", true },
        { KnownFolder(CSIDL_PROGRAM_FILES_COMMON), true }, { KnownFolder(CSIDL_COMMON_APPDATA), true },
        { KnownFolder(CSIDL_COMMON_APPDATA) + L"\\Norvex", false },
        { KnownFolder(CSIDL_PROFILE), true }, { KnownFolder(CSIDL_PROFILE) + L"\\..", true },
        { KnownFolder(CSIDL_DESKTOPDIRECTORY), true }, { KnownFolder(CSIDL_COMMON_DESKTOPDIRECTORY), true },
        { KnownFolder(CSIDL_PERSONAL), true }, { KnownFolder(CSIDL_APPDATA), true },
        { KnownFolder(CSIDL_LOCAL_APPDATA), true },
        // Share roots, and paths whose meaning depends on the current directory.
        { L"\\\\server\\share", true }, { L"\\\\server\\share\\", true }, { L"\\\\server", true },
        { L"\\\\?\\UNC\\server\\share", true }, { L"\\\\server\\share\\Tarnex", false },
        { L"Tarnex", true }, { L".\\Tarnex", true }, { L"\\Tarnex", true }, { L"C:Tarnex", true },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsProtectedDirectory(c.path), c.protectedDirectory) << ToUtf8(c.path);
    }
}

// The copy helpers with files under a temporary folder; the restart list is put back afterwards.
class CopyHelpers : public testing::Test {
protected:
    void SetUp() override {
        source_ = dir_ / L"new.dll";
        target_ = dir_ / L"installed.dll";
        ASSERT_TRUE(WriteFileBytes(source_, "new content"));
        ASSERT_TRUE(WriteFileBytes(target_, "old content"));
    }

    TempDir dir_{ L"copy" };
    PendingRenamesGuard pendingRenames_;
    std::wstring source_;
    std::wstring target_;
};

TEST_F(CopyHelpers, CopyAndReplaceOverwritesAndReportsTheCopyError) {
    EXPECT_EQ(InstallHelper::CopyAndReplaceFile(source_, target_), 0u);
    EXPECT_EQ(ReadFileBytes(target_), "new content");
    EXPECT_EQ(InstallHelper::CopyAndReplaceFile(dir_ / L"missing.dll", target_), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(InstallHelper::CopyAndReplaceFile(source_, dir_ / L"no\\such\\folder.dll"), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

// The copy loop against CopyFileW itself, on the same source: content, attributes (less
// read-only) and last-write time, into a new target and over an existing one.
TEST_F(CopyHelpers, CopyLeavesTheTargetAsCopyFileWDoesLessReadOnly) {
    struct Case { DWORD sourceAttributes; bool targetExists; const char* what; };
    const Case cases[] = {
        { FILE_ATTRIBUTE_NORMAL, false, "plain source, new target" },
        { FILE_ATTRIBUTE_ARCHIVE, true, "archive source, existing target" },
        { FILE_ATTRIBUTE_READONLY, false, "read-only source, new target" },
        { FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE, true, "read-only source, existing target" },
        { FILE_ATTRIBUTE_HIDDEN, false, "hidden source, new target" },
    };
    // More than one piece of the copy buffer, and not a whole number of them.
    std::string content(3u * 1024 * 1024 + 12345, '\0');
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>((i * 131) ^ (i >> 9));
    for (const auto& c : cases) {
        const std::wstring source = dir_ / L"payload.bin";
        const std::wstring byCopyFile = dir_ / L"by-copyfile.bin";
        const std::wstring byHelper = dir_ / L"by-helper.bin";
        const std::wstring byNewOpen = dir_ / L"by-new-open.bin";   // OpenNewCopyTarget's way, new targets only
        for (const auto& path : { source, byCopyFile, byHelper, byNewOpen }) {
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileW(path.c_str());
        }
        ASSERT_TRUE(WriteFileBytes(source, content)) << c.what;
        // A last-write time far from now, so that a copy that does not carry it over shows.
        {
            UniqueFileHandle file(::CreateFileW(source.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(file) << c.what;
            FILETIME old{};
            old.dwHighDateTime = 0x01C00000;
            ASSERT_TRUE(::SetFileTime(file.get(), nullptr, nullptr, &old)) << c.what;
        }
        ASSERT_TRUE(::SetFileAttributesW(source.c_str(), c.sourceAttributes)) << c.what;
        if (c.targetExists) {
            ASSERT_TRUE(WriteFileBytes(byCopyFile, "old and longer than nothing")) << c.what;
            ASSERT_TRUE(WriteFileBytes(byHelper, "old and longer than nothing")) << c.what;
        }

        ASSERT_TRUE(::CopyFileW(source.c_str(), byCopyFile.c_str(), FALSE)) << c.what;
        UniqueFileHandle written;
        ASSERT_EQ(CopyFileContent(source, byHelper, &written), 0u) << c.what;
        ASSERT_TRUE(written) << c.what;
        // The handle left open reads the target from its start.
        std::string readBack(content.size() + 1, '\0');
        DWORD read = 0;
        ASSERT_TRUE(::ReadFile(written.get(), readBack.data(), static_cast<DWORD>(readBack.size()), &read, nullptr));
        readBack.resize(read);
        EXPECT_TRUE(readBack == content) << c.what;
        written.reset();

        std::vector<std::wstring> copies = { byHelper };
        if (!c.targetExists) {
            NewCopyTarget opened;
            ASSERT_TRUE(OpenNewCopyTarget(source, byNewOpen, opened)) << c.what;
            UniqueFileHandle openedWritten;
            ASSERT_EQ(CopyFileContent(source, byNewOpen, &openedWritten, &opened), 0u) << c.what;
            ASSERT_TRUE(openedWritten) << c.what;
            DWORD openedRead = 0;
            ASSERT_TRUE(::ReadFile(openedWritten.get(), readBack.data(), static_cast<DWORD>(readBack.size()), &openedRead,
                                   nullptr));
            EXPECT_EQ(openedRead, content.size()) << c.what;
            copies.push_back(byNewOpen);
        }

        WIN32_FILE_ATTRIBUTE_DATA expected{};
        ASSERT_TRUE(::GetFileAttributesExW(byCopyFile.c_str(), GetFileExInfoStandard, &expected)) << c.what;
        for (const auto& copy : copies) {
            EXPECT_TRUE(ReadFileBytes(copy) == content) << c.what;
            WIN32_FILE_ATTRIBUTE_DATA actual{};
            ASSERT_TRUE(::GetFileAttributesExW(copy.c_str(), GetFileExInfoStandard, &actual)) << c.what;
            EXPECT_EQ(actual.dwFileAttributes, expected.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY) << c.what;
            EXPECT_EQ(actual.ftLastWriteTime.dwHighDateTime, expected.ftLastWriteTime.dwHighDateTime) << c.what;
            EXPECT_EQ(actual.ftLastWriteTime.dwLowDateTime, expected.ftLastWriteTime.dwLowDateTime) << c.what;
        }
        for (const auto& path : { source, byCopyFile, byHelper, byNewOpen }) {
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        }
    }
}

// The new-target open creates nothing where something is there already, and opens nothing
// from a source it cannot read: the copy is then left to the usual path.
TEST_F(CopyHelpers, NewTargetOpenLeavesWhatIsThereAlone) {
    ASSERT_TRUE(::CreateDirectoryW((dir_ / L"folder.dll").c_str(), nullptr));
    struct Case { std::wstring source; std::wstring target; bool targetExists; const char* what; };
    const Case cases[] = {
        { source_, target_, true, "existing file" },
        { source_, dir_ / L"folder.dll", true, "folder in the target's place" },
        { dir_ / L"missing.dll", dir_ / L"any.dll", false, "missing source" },
        { dir_.Path(), dir_ / L"any.dll", false, "source is a folder" },
        { source_, dir_ / L"no\\such\\folder.dll", false, "missing target folder" },
    };
    for (const auto& c : cases) {
        NewCopyTarget opened;
        EXPECT_FALSE(OpenNewCopyTarget(c.source, c.target, opened)) << c.what;
        EXPECT_FALSE(opened.source) << c.what;
        EXPECT_FALSE(opened.target) << c.what;
        EXPECT_EQ(::GetFileAttributesW(c.target.c_str()) != INVALID_FILE_ATTRIBUTES, c.targetExists) << c.what;
    }
    EXPECT_EQ(ReadFileBytes(target_), "old content");
}

// Where the copy loop cannot open a file, CopyFileW gives the answer: the same codes as before.
TEST_F(CopyHelpers, CopyFailsWithTheCodesCopyFileWGives) {
    UniqueFileHandle holder(::CreateFileW(target_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    struct Case { std::wstring source; std::wstring target; const char* what; };
    const Case cases[] = {
        { dir_ / L"missing.dll", dir_ / L"any.dll", "missing source" },
        { source_, dir_ / L"no\\such\\folder.dll", "missing target folder" },
        { source_, target_, "target held open without sharing" },
        { dir_.Path(), dir_ / L"any.dll", "source is a folder" },
    };
    for (const auto& c : cases) {
        const DWORD expected = ::CopyFileW(c.source.c_str(), c.target.c_str(), FALSE) ? 0u : ::GetLastError();
        ASSERT_NE(expected, 0u) << c.what;
        UniqueFileHandle written;
        EXPECT_EQ(CopyFileContent(c.source, c.target, &written), expected) << c.what;
        EXPECT_FALSE(written) << c.what;
    }
    holder.reset();
    EXPECT_EQ(ReadFileBytes(target_), "old content");
}

// An existing read-only target, which the loop's own open refuses: the outcome is CopyFileW's
// (the code and the content), and what is installed is not read-only.
TEST_F(CopyHelpers, ReadOnlyTargetIsReplacedAsCopyFileWReplacesIt) {
    const std::wstring byCopyFile = dir_ / L"by-copyfile.dll";
    const std::wstring byHelper = dir_ / L"by-helper.dll";
    for (const auto& path : { byCopyFile, byHelper }) {
        ASSERT_TRUE(WriteFileBytes(path, "kept"));
        ASSERT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    }
    const DWORD expected = ::CopyFileW(source_.c_str(), byCopyFile.c_str(), FALSE) ? 0u : ::GetLastError();
    EXPECT_EQ(CopyFileContent(source_, byHelper), expected);
    EXPECT_EQ(ReadFileBytes(byHelper), ReadFileBytes(byCopyFile));
    if (expected == 0) {
        EXPECT_EQ(::GetFileAttributesW(byHelper.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    }
    for (const auto& path : { byCopyFile, byHelper }) ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(CopyHelpers, CopyAtRebootRenamesABusyFileAsideAndSchedulesItsDeletion) {
    // Held the way a loaded library is: readable and renamable, not writable.
    UniqueFileHandle holder(::CreateFileW(target_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    ASSERT_EQ(InstallHelper::CopyAndReplaceFile(source_, target_), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

    EXPECT_EQ(InstallHelper::CopyAtReboot(source_, target_), 0u);
    holder.reset();
    EXPECT_EQ(ReadFileBytes(target_), "new content");
    EXPECT_EQ(ReadFileBytes(target_ + L"_"), "old content");
    EXPECT_TRUE(HasPendingRename(target_ + L"_", L""));
}

TEST_F(CopyHelpers, CopyAtRebootPutsTheOriginalBackWhenTheCopyFails) {
    const std::wstring missingSource = dir_ / L"missing.dll";
    EXPECT_EQ(InstallHelper::CopyAtReboot(missingSource, target_), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(ReadFileBytes(target_), "old content");
    EXPECT_FALSE(FileExists(target_ + L"_"));
    EXPECT_FALSE(AnyPendingRenameMentions(target_));
}

TEST_F(CopyHelpers, CopyAtRebootStagesTheCopyWhenTheTargetCannotBeRenamed) {
    UniqueFileHandle holder(::CreateFileW(target_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    LogCapture log;
    EXPECT_EQ(InstallHelper::CopyAtReboot(source_, target_), 0u);
    holder.reset();
    EXPECT_EQ(ReadFileBytes(target_), "old content");
    EXPECT_EQ(ReadFileBytes(target_ + L"__"), "new content");
    EXPECT_TRUE(HasPendingRename(target_ + L"__", target_));
    EXPECT_TRUE(log.Contains(L"MoveFile failed with error code 32, attempting MoveFileEx")) << ToUtf8(log.Text());
}

TEST_F(CopyHelpers, CopyAtRebootFailsWhenNothingCouldBeStagedForTheRestart) {
    UniqueFileHandle holder(::CreateFileW(target_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    EXPECT_EQ(InstallHelper::CopyAtReboot(dir_ / L"missing.dll", target_), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(AnyPendingRenameMentions(target_));
}

} // namespace
