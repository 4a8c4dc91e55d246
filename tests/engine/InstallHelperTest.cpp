#include <gtest/gtest.h>

#include <shlobj.h>
#include "engine/InstallHelper.h"
#include "operations/FileDigest.h"
#include "EngineFixture.h"

using namespace engine_test;

namespace {

const wchar_t kReferenceKey[] = L"SOFTWARE\\Norvex\\Coravel\\Install_Reference";
const wchar_t kContentVersionKey[] = L"SOFTWARE\\Norvex\\Coravel\\DS\\DS";

using InstallReferenceTest = EngineTest;

TEST_F(InstallReferenceTest, RecordsExactlyTheTwoPathsAsGiven) {
    // A trailing backslash is kept as the command line gave it.
    UseDirectories(L"C:\\Program Files\\Tarnex\\", L"D:\\Content");
    EXPECT_FALSE(InstallReferenceExists());

    ASSERT_EQ(InstallHelper::InstallRefKey(), static_cast<DWORD>(ERROR_SUCCESS));

    EXPECT_TRUE(InstallReferenceExists());
    EXPECT_EQ(hklm::ValueNames(kReferenceKey), (std::vector<std::wstring>{ L"szContentPath", L"szInstallPath" }));
    const std::optional<std::wstring> installPath = hklm::ReadString(kReferenceKey, L"szInstallPath");
    ASSERT_TRUE(installPath);
    EXPECT_EQ(*installPath, L"C:\\Program Files\\Tarnex\\");
    EXPECT_EQ(hklm::ReadString(kReferenceKey, L"szContentPath"), std::optional<std::wstring>(L"D:\\Content"));

    std::wstring read;
    EXPECT_TRUE(ReadRegistryString(kReferenceKey, L"szInstallPath", read));
    EXPECT_EQ(read, *installPath);
    read = L"unchanged";
    EXPECT_FALSE(ReadRegistryString(kReferenceKey, L"szMissing", read));
    EXPECT_EQ(read, L"unchanged");
}

// Reference values are read into 4096 bytes: 2047 characters and their NUL fit, as do 2048
// characters stored without one; a longer value is not read at all (never a cut path).
TEST_F(InstallReferenceTest, ReferenceStringsAreReadWholeUpToTheirBufferAndNeverCut) {
    struct Case { size_t characters; bool terminated; bool read; };
    const Case cases[] = {
        { 2047, true, true },
        { 2048, false, true },
        { 2048, true, false },
        { 2049, false, false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.characters << (c.terminated ? " characters and NUL" : " characters"));
        // A non-NUL unit after the counted bytes, so that the registry adds no terminator of its own.
        std::wstring data(c.characters, L'p');
        data.push_back(L'!');
        const DWORD bytes = static_cast<DWORD>((c.characters + (c.terminated ? 1 : 0)) * sizeof(wchar_t));
        if (c.terminated) data[c.characters] = L'\0';
        ASSERT_TRUE(hklm::WriteValue(kReferenceKey, L"szInstallPath", REG_SZ, data.c_str(), bytes));
        std::wstring read = L"unchanged";
        EXPECT_EQ(c.read, ReadRegistryString(kReferenceKey, L"szInstallPath", read));
        EXPECT_EQ(c.read ? std::wstring(c.characters, L'p') : std::wstring(L"unchanged"), read);
    }
}

TEST_F(InstallReferenceTest, DeletingTheReferenceRemovesTheWholeProductKey) {
    UseDirectories(L"C:\\Inst", L"C:\\Content");
    ASSERT_EQ(InstallHelper::InstallRefKey(), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_TRUE(hklm::CreateKey(L"SOFTWARE\\Norvex\\Coravel\\OAS\\Policy"));
    ASSERT_TRUE(hklm::CreateKey(L"SOFTWARE\\Norvex\\Other"));

    EXPECT_EQ(InstallHelper::DeleteRefKey(), static_cast<DWORD>(ERROR_SUCCESS));

    EXPECT_FALSE(InstallReferenceExists());
    EXPECT_FALSE(hklm::KeyExists(L"SOFTWARE\\Norvex\\Coravel"));
    EXPECT_TRUE(hklm::KeyExists(L"SOFTWARE\\Norvex\\Other"));
}

TEST_F(InstallReferenceTest, ContentPrerequisiteNeedsAnExistingDirectory) {
    ASSERT_TRUE(WriteFileBytes(dir_ / L"file", "x"));
    struct Case { std::wstring path; bool expected; };
    const Case cases[] = {
        { dir_.Path(), true },
        { dir_ / L"file", false },
        { dir_ / L"missing", false },
        { L"", false },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(InstallHelper::IsPreRequisitesInstalled(c.path), c.expected) << testing::PrintToString(c.path);
    }
    EXPECT_NE(LogText().find(L"IsPreRequisitesInstalled - Content directory does not exist or empty"),
              std::wstring::npos);
}

TEST_F(InstallReferenceTest, EngineVersionRecordIsEmptyWhenMissing) {
    EXPECT_EQ(ReadEngineVersionRecord(), L"");
    ASSERT_TRUE(hklm::CreateKey(L"SOFTWARE\\Norvex\\Coravel\\CRV\\CRV"));
    EXPECT_EQ(ReadEngineVersionRecord(), L"");
    ASSERT_TRUE(hklm::WriteString(L"SOFTWARE\\Norvex\\Coravel\\CRV\\CRV", L"szTarnexVersion", L"1.0.0.1576"));
    EXPECT_EQ(ReadEngineVersionRecord(), L"1.0.0.1576");
}

TEST(EngineVersionComparison, OnlyAnInstalledVersionAboveTheReferenceIsGreater) {
    struct Case { const wchar_t* installed; int expected; };
    const Case cases[] = {
        { L"1.0.0.1576", 1 },
        { L"1.0.0.1575.9", 0 },
        { L"1.0.0.1575", 0 },
        { L"1.0.0.1574", 0 },
        { L"2.0.0.0", 1 },
        { L"", 0 },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsVersionGreater(L"1.0.0.1575.1", c.installed), c.expected) << testing::PrintToString(std::wstring(c.installed));
    }
}

TEST_F(InstallReferenceTest, VerifyReportsAMissingReferenceAfterAnIntactPackage) {
    Package package;
    EXPECT_EQ(VerifyInstallReference(package), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    UseDirectories(L"C:\\Inst", L"C:\\Content");
    ASSERT_EQ(InstallHelper::InstallRefKey(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(VerifyInstallReference(package), static_cast<DWORD>(ERROR_SUCCESS));
}

using ContentVersionTest = EngineTest;

TEST_F(ContentVersionTest, StaleVersionZeroFiveWithoutItsUpdateFileIsCleared) {
    struct Case { const char* name; DWORD major; DWORD minor; bool updateFile; bool kept; };
    const Case cases[] = {
        { "0.5 without the update file", 0, 5, false, false },
        { "0.5 with the update file", 0, 5, true, true },
        { "0.6 without the update file", 0, 6, false, true },
        { "5.0 without the update file", 5, 0, false, true },
    };
    for (const auto& c : cases) {
        TempDir content(L"cnt");
        if (c.updateFile) {
            const std::wstring update = content / L"content\\tarnex\\update\\0.5";
            ASSERT_EQ(::SHCreateDirectoryExW(nullptr, update.c_str(), nullptr), ERROR_SUCCESS);
            ASSERT_TRUE(WriteFileBytes(update + L"\\amupdate.dat", "u"));
        }
        UseDirectories(L"C:\\Inst", content.Path());
        ASSERT_TRUE(hklm::WriteDword(kContentVersionKey, L"dwContentMajorVersion", c.major));
        ASSERT_TRUE(hklm::WriteDword(kContentVersionKey, L"dwContentMinorVersion", c.minor));

        Feature feature;
        feature.ValidateOemContentPresence();

        EXPECT_EQ(hklm::ValueExists(kContentVersionKey, L"dwContentMajorVersion"), c.kept) << c.name;
        EXPECT_EQ(hklm::ValueExists(kContentVersionKey, L"dwContentMinorVersion"), c.kept) << c.name;
    }
}

TEST_F(ContentVersionTest, ValueOfAnotherTypeStopsTheCheck) {
    UseDirectories(L"C:\\Inst", dir_ / L"noContent");
    ASSERT_TRUE(hklm::WriteString(kContentVersionKey, L"dwContentMajorVersion", L"0"));
    ASSERT_TRUE(hklm::WriteDword(kContentVersionKey, L"dwContentMinorVersion", 5));

    Feature feature;
    feature.ValidateOemContentPresence();

    EXPECT_TRUE(hklm::ValueExists(kContentVersionKey, L"dwContentMinorVersion"));
    EXPECT_NE(LogText().find(L"Failed to query value dwContentMajorVersion or invalid value type. Error code: 0"),
              std::wstring::npos);
}

} // namespace
