// The work ahead on its own: which files go ahead, and that work ahead either succeeds wholly or
// leaves nothing behind.
#include <gtest/gtest.h>

#include "operations/FilesAhead.h"
#include "support/Hex.h"
#include "support/TestFiles.h"

namespace {

using State = FilesAhead::State;
using Outcome = FilesAhead::Outcome;

// Waits until no worker is at file `index` or will start it without the main thread moving on.
State Settled(const FilesAhead& ahead, size_t index) {
    for (int i = 0; i < 2000; ++i) {
        const State state = ahead.StateOf(index);
        if (state != State::Waiting && state != State::Running) return state;
        ::Sleep(5);
    }
    return ahead.StateOf(index);
}

class FilesAheadTest : public testing::Test {
protected:
    void SetUp() override { previous_ = FilesAhead::SetWorkerCount(FilesAhead::kWorkers); }
    void TearDown() override { FilesAhead::SetWorkerCount(previous_); }

    // A source file in the test's folder and a copy of it planned into `directory`.
    FilesAhead::File Planned(const std::wstring& name, const std::string& content, const std::wstring& directory,
                             const std::string& claimed = std::string()) {
        const std::wstring source = dir_ / (L"src" + std::to_wstring(++sources_) + L"_" + name);
        EXPECT_TRUE(WriteFileBytes(source, content));
        return FilesAhead::File{ source, directory + L"\\" + name, Sha256Text(claimed.empty() ? content : claimed) };
    }

    TempDir dir_{ L"fah" };
    size_t previous_ = 0;
    int sources_ = 0;
};

TEST_F(FilesAheadTest, CopiesAheadAreTakenInOrderAndTheOnesNotTakenAreDeletedAtTheEnd) {
    const std::wstring out = dir_ / L"out";
    ASSERT_TRUE(::CreateDirectoryW(out.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(out + L"\\there.bin", "kept"));
    const std::vector<FilesAhead::File> files = {
        Planned(L"a.bin", std::string(3u << 20, 'a'), out),   // more than one piece
        Planned(L"there.bin", "new", out),                    // the target exists
        Planned(L"empty.bin", "", out),
        Planned(L"untaken.bin", "x", out),
        Planned(L"renamed.bin", "y", out),
    };
    {
        FilesAhead ahead(FilesAhead::Work::Copy, files);
        for (size_t i = 0; i < files.size(); ++i) Settled(ahead, i);
        EXPECT_EQ(ahead.Take(0, files[0].target), Outcome::Done);
        EXPECT_EQ(ReadFileBytes(files[0].target), std::string(3u << 20, 'a'));
        EXPECT_EQ(ahead.Take(1, files[1].target), Outcome::NotDone);
        EXPECT_EQ(ReadFileBytes(files[1].target), "kept");
        EXPECT_EQ(ahead.Take(2, files[2].target), Outcome::Done);
        EXPECT_TRUE(FileExists(files[2].target));
        // The main thread asks for another target than the planned one: the copy is not its.
        EXPECT_EQ(ahead.Take(4, out + L"\\other.bin"), Outcome::NotDone);
        EXPECT_TRUE(FileExists(files[3].target));
        EXPECT_TRUE(FileExists(files[4].target));
    }
    EXPECT_FALSE(FileExists(files[3].target));
    EXPECT_FALSE(FileExists(files[4].target));
    EXPECT_TRUE(FileExists(files[0].target));
    EXPECT_EQ(ReadFileBytes(files[1].target), "kept");
}

TEST_F(FilesAheadTest, AFailedCopyAheadLeavesNothingAndUndoesTheCopiesBeyondIt) {
    const std::wstring out = dir_ / L"out";
    ASSERT_TRUE(::CreateDirectoryW(out.c_str(), nullptr));
    struct Case { const char* what; bool missingSource; };
    for (const Case& failing : { Case{ "digest not the content's", false }, Case{ "no source", true } }) {
        SCOPED_TRACE(failing.what);
        std::vector<FilesAhead::File> files = {
            Planned(L"first.bin", "1", out),
            Planned(L"failing.bin", "content", out, "other content"),
            Planned(L"beyond.bin", "3", out),
            Planned(L"further.bin", "4", out),
        };
        if (failing.missingSource) files[1] = FilesAhead::File{ dir_ / L"no such source", out + L"\\failing.bin", Sha256Text("") };
        {
            FilesAhead ahead(FilesAhead::Work::Copy, files);
            EXPECT_EQ(Settled(ahead, 1), State::Failed);
            EXPECT_FALSE(FileExists(files[1].target));
            EXPECT_EQ(Settled(ahead, 3), State::Done);
            EXPECT_EQ(ahead.Take(0, files[0].target), Outcome::Done);
            EXPECT_EQ(ahead.Take(1, files[1].target), Outcome::NotDone);
            EXPECT_FALSE(FileExists(files[2].target));
            EXPECT_FALSE(FileExists(files[3].target));
            EXPECT_EQ(ahead.Take(2, files[2].target), Outcome::NotDone);
            EXPECT_EQ(ahead.Take(3, files[3].target), Outcome::NotDone);
        }
        EXPECT_TRUE(FileExists(files[0].target));
        ASSERT_TRUE(::DeleteFileW(files[0].target.c_str()));
    }
}

TEST_F(FilesAheadTest, SecondNamesShortNamesAndFilesOfAMissingDirectoryWaitForTheMainThread) {
    const std::wstring out = dir_ / L"out";
    const std::wstring later = dir_ / L"later";
    ASSERT_TRUE(::CreateDirectoryW(out.c_str(), nullptr));
    const std::vector<FilesAhead::File> files = {
        Planned(L"one.bin", "1", out),
        Planned(L"ONE.BIN", "2", later),    // the same name: only the first may go ahead
        Planned(L"PROGRA~1.BIN", "3", out),
        Planned(L"first.bin", "4", later),  // its directory is missing: the main thread's
        Planned(L"second.bin", "5", later),
        Planned(L"last.bin", "6", out),
    };
    FilesAhead ahead(FilesAhead::Work::Copy, files);
    EXPECT_EQ(Settled(ahead, 0), State::Done);
    for (size_t waiting : { 1, 2, 3, 4 }) EXPECT_EQ(ahead.StateOf(waiting), State::Waiting) << waiting;

    EXPECT_EQ(ahead.Take(0, files[0].target), Outcome::Done);
    EXPECT_EQ(ahead.Take(1, files[1].target), Outcome::NotDone);
    EXPECT_EQ(ahead.Take(2, files[2].target), Outcome::NotDone);
    // The main thread makes the directory for the first of its files; the next one goes ahead.
    ASSERT_TRUE(::CreateDirectoryW(later.c_str(), nullptr));
    EXPECT_EQ(ahead.Take(3, files[3].target), Outcome::NotDone);
    EXPECT_EQ(Settled(ahead, 4), State::Done);
    EXPECT_EQ(ahead.Take(4, files[4].target), Outcome::Done);
    EXPECT_EQ(ReadFileBytes(files[4].target), "5");
    EXPECT_EQ(ahead.Take(5, files[5].target), Outcome::Done);
    EXPECT_FALSE(FileExists(files[1].target));
    EXPECT_FALSE(FileExists(files[2].target));
}

TEST_F(FilesAheadTest, DeletesAheadAreTakenAndAFailedDeleteChangesNothing) {
    const std::wstring out = dir_ / L"out";
    ASSERT_TRUE(::CreateDirectoryW(out.c_str(), nullptr));
    std::vector<FilesAhead::File> files;
    for (const wchar_t* name : { L"a.bin", L"b.bin", L"c.bin" }) {
        files.push_back(FilesAhead::File{ L"", out + L"\\" + name, L"" });
        ASSERT_TRUE(WriteFileBytes(files.back().target, "x"));
    }
    files.push_back(FilesAhead::File{ L"", out + L"\\absent.bin", L"" });
    ASSERT_TRUE(::CreateDirectoryW((out + L"\\dir.bin").c_str(), nullptr));
    files.push_back(FilesAhead::File{ L"", out + L"\\dir.bin", L"" });

    FilesAhead ahead(FilesAhead::Work::Delete, files);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(Settled(ahead, i), State::Done);
        EXPECT_EQ(ahead.Take(i, files[i].target), Outcome::Done);
        EXPECT_FALSE(FileExists(files[i].target));
    }
    EXPECT_EQ(Settled(ahead, 3), State::Declined);
    EXPECT_EQ(ahead.Take(3, files[3].target), Outcome::NotDone);
    EXPECT_EQ(Settled(ahead, 4), State::Declined);
    EXPECT_TRUE(DirectoryExists(files[4].target));
}

TEST_F(FilesAheadTest, WithoutWorkersOrWithOneFileNothingGoesAhead) {
    const std::wstring out = dir_ / L"out";
    ASSERT_TRUE(::CreateDirectoryW(out.c_str(), nullptr));
    const std::vector<FilesAhead::File> one = { Planned(L"only.bin", "1", out) };
    const std::vector<FilesAhead::File> two = { Planned(L"a.bin", "1", out), Planned(L"b.bin", "2", out) };
    {
        FilesAhead ahead(FilesAhead::Work::Copy, one);
        EXPECT_EQ(ahead.Take(0, one[0].target), Outcome::NotDone);
    }
    FilesAhead::SetWorkerCount(0);
    {
        FilesAhead ahead(FilesAhead::Work::Copy, two);
        EXPECT_EQ(ahead.Take(0, two[0].target), Outcome::NotDone);
        EXPECT_EQ(ahead.Take(1, two[1].target), Outcome::NotDone);
    }
    EXPECT_FALSE(FileExists(one[0].target));
    EXPECT_FALSE(FileExists(two[1].target));
}

} // namespace
