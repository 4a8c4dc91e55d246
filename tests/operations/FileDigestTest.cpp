#include <gtest/gtest.h>

#include <cwctype>

#include "operations/FileDigest.h"
#include "operations/FileHelpers.h"
#include "OperationsTestSupport.h"

namespace {

const wchar_t kEmptyDigest[] = L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

TEST(VerifyFileDigest, AcceptsTheDigestInEitherLetterCase) {
    TempDir dir;
    const std::wstring empty = dir / L"empty.bin";
    ASSERT_TRUE(WriteFileBytes(empty, ""));
    const std::wstring payload = dir / L"payload.bin";
    ASSERT_TRUE(WriteFileBytes(payload, "payload bytes"));
    const std::wstring payloadDigest = Sha256Text("payload bytes");

    std::wstring upper = kEmptyDigest;
    for (auto& c : upper) c = static_cast<wchar_t>(towupper(c));
    const std::wstring cases[][2] = {
        { empty, kEmptyDigest }, { empty, upper }, { payload, payloadDigest },
    };
    for (const auto& c : cases) {
        DWORD error = 99;
        EXPECT_TRUE(VerifyFileDigest(c[0], c[1], error)) << ToUtf8(c[1]);
        EXPECT_EQ(error, 0u);
    }
}

TEST(VerifyFileDigest, ReportsWrongDigestsTextsAndUnreadableFiles) {
    TempDir dir;
    const std::wstring file = dir / L"file.bin";
    ASSERT_TRUE(WriteFileBytes(file, ""));
    std::wstring lastByteWrong = kEmptyDigest;
    lastByteWrong[63] = L'4';
    std::wstring notHex = kEmptyDigest;
    notHex[10] = L'g';
    notHex[11] = L'g';
    struct Case { std::wstring path; std::wstring expected; DWORD error; const char* what; };
    const Case cases[] = {
        { file, lastByteWrong, ERROR_FILE_CORRUPT, "last byte differs" },
        { file, notHex, ERROR_FILE_CORRUPT, "not hexadecimal" },
        { file, std::wstring(kEmptyDigest).substr(0, 63), ERROR_FILE_CORRUPT, "63 characters" },
        { file, std::wstring(kEmptyDigest) + L"0", ERROR_FILE_CORRUPT, "65 characters" },
        { file, L"", ERROR_FILE_CORRUPT, "empty text" },
        { dir / L"missing.bin", kEmptyDigest, ERROR_FILE_NOT_FOUND, "missing file" },
        // The length is checked before the file is opened.
        { dir / L"missing.bin", std::wstring(65, L'0'), ERROR_FILE_CORRUPT, "65 characters, missing file" },
    };
    for (const auto& c : cases) {
        DWORD error = 0;
        EXPECT_FALSE(VerifyFileDigest(c.path, c.expected, error)) << c.what;
        EXPECT_EQ(error, c.error) << c.what;
    }
}

// The check on a file still open (as the copy leaves its target): the same answers as by path,
// read from where the handle stands.
TEST(VerifyOpenFileDigest, ChecksWhatIsLeftToReadInTheOpenFile) {
    TempDir dir;
    const std::wstring file = dir / L"payload.bin";
    const std::string content(100000, 'x');   // more than two read pieces
    ASSERT_TRUE(WriteFileBytes(file, content));
    UniqueFileHandle open(::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(open);
    DWORD error = 99;
    EXPECT_TRUE(VerifyOpenFileDigest(open.get(), Sha256Text(content), error));
    EXPECT_EQ(error, 0u);
    // At the end now: what is left is nothing, whose digest is that of no bytes.
    EXPECT_FALSE(VerifyOpenFileDigest(open.get(), Sha256Text(content), error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_CORRUPT));
    EXPECT_TRUE(VerifyOpenFileDigest(open.get(), kEmptyDigest, error));
    EXPECT_FALSE(VerifyOpenFileDigest(open.get(), std::wstring(kEmptyDigest).substr(0, 63), error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_CORRUPT));
    // A handle that cannot be read gives 2, as a file that cannot be opened.
    open.reset();
    UniqueFileHandle writeOnly(::CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writeOnly);
    EXPECT_FALSE(VerifyOpenFileDigest(writeOnly.get(), kEmptyDigest, error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(VerifyFileDigest, FileHeldOpenElsewhereGivesFileNotFound) {
    TempDir dir;
    const std::wstring file = dir / L"busy.bin";
    ASSERT_TRUE(WriteFileBytes(file, ""));
    UniqueFileHandle holder(::CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    DWORD error = 0;
    EXPECT_FALSE(VerifyFileDigest(file, kEmptyDigest, error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(VerifyFileDigest, ReadsFilesBeyondTheShortPathLimit) {
    TempDir dir;
    // Nested folders until the file's path is longer than the limit of the digest reader.
    std::wstring folder = dir.Path();
    while (folder.size() < 260) {
        folder += L"\\" + std::wstring(40, L'd');
        ASSERT_TRUE(::CreateDirectoryW(ExtendedPath(folder, 0).c_str(), nullptr)) << ::GetLastError();
    }
    const std::wstring file = folder + L"\\long.bin";
    UniqueFileHandle writer(::CreateFileW(ExtendedPath(file, 0).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(writer);
    writer.reset();
    DWORD error = 99;
    EXPECT_TRUE(VerifyFileDigest(file, kEmptyDigest, error)) << error;
}

TEST(VersionText, CutsTheFourFieldsBetweenTheFifthLastAndTheLastDot) {
    struct Case { const wchar_t* raw; DWORD result; const wchar_t* version; };
    const Case cases[] = {
        { L"a.5.6.7.8.b", 0, L"5.6.7.8" },
        { L"1.2.3.4.5.6", 0, L"2.3.4.5" },
        { L"0.1.2.3.4.5.6.7", 0, L"3.4.5.6" },
        { L".1.2.3.4.", 0, L"1.2.3.4" },
        { L"1.2.3.4.5", 777, L"" },
        { L"1.2.3.4", 777, L"" },
        { L"1234", 777, L"" },
        { L"", 777, L"" },
    };
    for (const auto& c : cases) {
        std::wstring version;
        EXPECT_EQ(CutVersionText(c.raw, version), c.result) << ToUtf8(c.raw);
        EXPECT_EQ(version, c.version) << ToUtf8(c.raw);
    }
}

TEST(VersionText, ComparesFourNumericFieldsRepeatingTheLastText) {
    struct Case { const wchar_t* first; const wchar_t* second; int greater; };
    const Case cases[] = {
        { L"1.2.3.4", L"1.2.3.5", 1 },
        { L"1.2.3.5", L"1.2.3.4", 0 },
        { L"1.2.3.4", L"1.2.3.4", 0 },
        { L"1.2.10.0", L"1.2.9.9", 0 },
        { L"1.2.9.9", L"1.2.10.0", 1 },
        { L"2", L"1.9.9.9", 0 },          // 2 counts as 2.2.2.2
        { L"2", L"2.2.2.3", 1 },
        { L"1.9", L"1.9.9.10", 1 },       // 1.9 counts as 1.9.9.9
        { L"1.2.3.4", L"1.2.3.4.9", 0 },  // a fifth field is never read
        { L"1.2.3.4", L" 1.2.3.5x", 1 },  // leading blank and trailing letters as wcstoul reads them
        { L"4294967295.0.0.0", L"0.0.0.0", 0 },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsVersionGreater(c.first, c.second), c.greater) << ToUtf8(c.first) << " vs " << ToUtf8(c.second);
    }
}

TEST(FileVersion, ReadsTheCutVersionOfVersionResources) {
    struct Case { const wchar_t* file; DWORD result; const wchar_t* version; };
    const Case cases[] = {
        { L"ops_version_1_2_3_4.dll", 0, L"1.2.3.4" },
        { L"ops_version_1_2_3_5.dll", 0, L"1.2.3.5" },
        { L"ops_version_letters.dll", 0, L"5.6.7.8" },
        { L"ops_version_four_fields.dll", 777, L"" },
        { L"ops_version_none.dll", ERROR_RESOURCE_DATA_NOT_FOUND, L"" },   // no resource section at all
        { L"missing.dll", ERROR_FILE_NOT_FOUND, L"" },
    };
    for (const auto& c : cases) {
        std::wstring version;
        EXPECT_EQ(GetFileVersionText(VersionedFixture(c.file), version), c.result) << ToUtf8(c.file);
        EXPECT_EQ(version, c.version) << ToUtf8(c.file);
    }
}

TEST(FileVersion, CandidateIsUpgradeableOnlyWhenBothVersionsReadAndItsIsNewer) {
    struct Case { const wchar_t* installed; const wchar_t* candidate; int upgradeable; };
    const Case cases[] = {
        { L"ops_version_1_2_3_4.dll", L"ops_version_1_2_3_5.dll", 1 },
        { L"ops_version_1_2_3_5.dll", L"ops_version_1_2_3_4.dll", 0 },
        { L"ops_version_1_2_3_4.dll", L"ops_version_1_2_3_4.dll", 0 },
        { L"ops_version_none.dll", L"ops_version_1_2_3_5.dll", 0 },
        { L"ops_version_1_2_3_4.dll", L"ops_version_four_fields.dll", 0 },
        { L"missing.dll", L"ops_version_1_2_3_5.dll", 0 },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(InstallHelper::IsFileUpgradeable(VersionedFixture(c.installed), VersionedFixture(c.candidate)), c.upgradeable)
            << ToUtf8(c.installed) << " -> " << ToUtf8(c.candidate);
    }
}

} // namespace
