// Installs and uninstalls of a feature's files with the work done ahead on workers, against the
// same runs with the files done one at a time: the same log, the same result, the same files.
#include <gtest/gtest.h>

#include <cstdlib>

#include "EngineFixture.h"
#include "operations/FilesAhead.h"

using namespace engine_test;

namespace {

// Content of payload file `i`: its own bytes, a few of them larger than one copy piece.
std::string PayloadContent(int i) {
    size_t size = 1 + (static_cast<size_t>(i) * 7919) % 65536;
    if (i == 7) size = (1u << 20) + 1;
    if (i == 23) size = (5u << 19) + 3;   // 2.5 MiB and a bit
    std::string content(size, '\0');
    unsigned value = 2166136261u ^ static_cast<unsigned>(i);
    for (auto& c : content) {
        value = value * 16777619u + 12345u;
        c = static_cast<char>(value >> 24);
    }
    return content;
}

struct PlannedFile {
    std::wstring name;         // the payload's name next to the test program
    std::wstring destination;  // empty: the install directory
    std::wstring digest;
};

std::wstring PackageText(const std::vector<PlannedFile>& files) {
    std::wstring feature = L"<Feature tag=\"Core\">";
    for (const auto& file : files) {
        feature += L"<FileOperation operation=\"copy\" sha256=\"" + file.digest + L"\"";
        if (!file.destination.empty()) feature += L" destination=\"" + file.destination + L"\"";
        feature += L">" + file.name + L"</FileOperation>";
    }
    return L"<Package schemaVersion=\"1.1\" TarnexVersion=\"1.0.0.1\">" + feature + L"</Feature></Package>";
}

// The log's records from `offset` on, without their times.
std::vector<std::wstring> RecordsFrom(const std::wstring& log, size_t offset) {
    std::vector<std::wstring> records;
    for (const auto& record : LogRecords(log.substr(offset))) records.push_back(RecordAfterHead(record));
    return records;
}

class FilesAheadInstallTest : public ActionTest {
protected:
    void SetUp() override {
        ActionTest::SetUp();
        shared_ = dir_ / L"shared";
        ASSERT_TRUE(::CreateDirectoryW(shared_.c_str(), nullptr));
        previousWorkers_ = FilesAhead::SetWorkerCount(FilesAhead::kWorkers);
    }

    void TearDown() override {
        FilesAhead::SetWorkerCount(previousWorkers_);
        ActionTest::TearDown();
    }

    PlannedFile Payload(int i, const std::wstring& destination, const std::wstring& name = std::wstring()) {
        const std::wstring file = name.empty() ? L"ahead_" + std::to_wstring(i) + L".bin" : name;
        return PlannedFile{ file, destination, WritePayload(file, PayloadContent(i)) };
    }

    // One run of `action` with `workers` workers: its result and its log records.
    DWORD Run(const std::wstring& package, Action action, size_t workers, std::vector<std::wstring>& records) {
        FilesAhead::SetWorkerCount(workers);
        const size_t offset = LogText().size();
        auto bound = LoadPackage(package);
        const DWORD result = Perform(*bound, action);
        records = RecordsFrom(LogText(), offset);
        return result;
    }

    std::wstring shared_;

private:
    size_t previousWorkers_ = 0;
};

TEST_F(FilesAheadInstallTest, InstallAndUnInstallLogAndPlaceTheSameAsOneFileAtATime) {
    // Files in the install directory, in two directories the files create, in one that existed,
    // a name that comes twice and a name that may be a short one.
    std::vector<PlannedFile> files;
    for (int i = 0; i < 12; ++i) files.push_back(Payload(i, L""));
    for (int i = 12; i < 24; ++i) files.push_back(Payload(i, L"$INSTALL_PATH\\one"));
    for (int i = 24; i < 34; ++i) files.push_back(Payload(i, L"$INSTALL_PATH\\one\\two"));
    for (int i = 34; i < 40; ++i) files.push_back(Payload(i, shared_));
    files.push_back(PlannedFile{ files[3].name, L"$INSTALL_PATH\\one\\two", files[3].digest });
    files.push_back(Payload(40, L"$INSTALL_PATH\\one", L"AHEAD~1.BIN"));
    const std::wstring package = PackageText(files);

    std::vector<std::wstring> sequential, sequentialRemoval, ahead, aheadRemoval;
    ASSERT_EQ(Run(package, Action::Install, 0, sequential), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_EQ(Run(package, Action::UnInstall, 0, sequentialRemoval), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_EQ(Run(package, Action::Install, FilesAhead::kWorkers, ahead), static_cast<DWORD>(ERROR_SUCCESS));

    for (size_t i = 0; i < files.size(); ++i) {
        std::wstring directory = files[i].destination;
        if (directory.empty()) directory = install_;
        else if (directory.rfind(L"$INSTALL_PATH", 0) == 0) directory = install_ + directory.substr(13);
        const std::wstring target = directory + L"\\" + files[i].name;
        EXPECT_EQ(Sha256Text(ReadFileBytes(target)), files[i].digest) << testing::PrintToString(target);
    }
    EXPECT_EQ(ahead, sequential);

    ASSERT_EQ(Run(package, Action::UnInstall, FilesAhead::kWorkers, aheadRemoval), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(aheadRemoval, sequentialRemoval);
    EXPECT_FALSE(DirectoryExists(install_));
    EXPECT_TRUE(IsDirectoryEmpty(shared_));
    EXPECT_GT(sequential.size(), files.size() * 3);
}

TEST_F(FilesAheadInstallTest, FailedInstallLeavesNothingOfTheCopiesMadeBeyondTheFailure) {
    // The eleventh file's digest is wrong; the files after it go to a directory that existed
    // before the install, so only the work ahead could leave copies there.
    std::vector<PlannedFile> files;
    for (int i = 0; i < 40; ++i) files.push_back(Payload(i, shared_));
    files[10].digest = Sha256Text("not the content");
    const std::wstring package = PackageText(files);

    std::vector<std::wstring> sequential, ahead;
    const DWORD expected = Run(package, Action::Install, 0, sequential);
    ASSERT_EQ(expected, static_cast<DWORD>(ERROR_FILE_CORRUPT));
    ASSERT_TRUE(DirectoryExists(shared_));
    EXPECT_TRUE(IsDirectoryEmpty(shared_));

    EXPECT_EQ(Run(package, Action::Install, FilesAhead::kWorkers, ahead), expected);
    EXPECT_EQ(ahead, sequential);
    EXPECT_TRUE(IsDirectoryEmpty(shared_));
    EXPECT_FALSE(DirectoryExists(install_));
}

TEST_F(FilesAheadInstallTest, ADiskThatFillsUpFillsUpAtTheSameFile) {
    // The small drive the test script mounts (a 1 MiB tmpfs seen as T:): room for some of the
    // files. Copies in flight at once must not make an earlier file fail where one file at a time
    // would have had room for it.
    const char* drive = std::getenv("INSTALLER_TEST_SMALL_DRIVE");
    if (!drive || !*drive) GTEST_SKIP() << "no small drive (INSTALLER_TEST_SMALL_DRIVE, set by scripts/run-tests.sh)";
    const std::wstring fill = FromUtf8(drive) + L"\\ahead";
    ASSERT_TRUE(RemoveTree(fill));
    ASSERT_TRUE(::CreateDirectoryW(fill.c_str(), nullptr));
    std::vector<PlannedFile> files;
    for (int i = 0; i < 16; ++i) {
        const std::wstring name = L"fill_" + std::to_wstring(i) + L".bin";
        files.push_back(PlannedFile{ name, fill, WritePayload(name, std::string(96 * 1024, static_cast<char>('a' + i))) });
    }
    const std::wstring package = PackageText(files);

    std::vector<std::wstring> sequential, ahead;
    const DWORD expected = Run(package, Action::Install, 0, sequential);
    EXPECT_EQ(expected, static_cast<DWORD>(ERROR_DISK_FULL));
    EXPECT_TRUE(IsDirectoryEmpty(fill));
    EXPECT_EQ(Run(package, Action::Install, FilesAhead::kWorkers, ahead), expected);
    EXPECT_EQ(ahead, sequential);
    EXPECT_TRUE(IsDirectoryEmpty(fill));
    EXPECT_TRUE(RemoveTree(fill));
}

} // namespace
