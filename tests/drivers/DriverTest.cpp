// Driver element operations that work on the machine without an INF engine run: the tombstone on
// a driver service key and the check of the values an installed INF adds.
#include <gtest/gtest.h>
#include <shlwapi.h>
#include <functional>
#include <optional>
#include "drivers/Driver.h"
#include "shell/Handles.h"
#include "support/TestFiles.h"

namespace {

const wchar_t kService[] = L"NorvexTestDrv";
const wchar_t kServiceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\NorvexTestDrv";
const wchar_t kValuesKey[] = L"SOFTWARE\\NorvexTest\\Drivers";

std::optional<DWORD> ReadDword(const wchar_t* subKey, const wchar_t* name) {
    DWORD value = 0, size = sizeof(value), type = 0;
    if (::SHGetValueW(HKEY_LOCAL_MACHINE, subKey, name, &type, &value, &size) != ERROR_SUCCESS || type != REG_DWORD)
        return std::nullopt;
    return value;
}

void WriteDword(const wchar_t* subKey, const wchar_t* name, DWORD value) {
    ASSERT_EQ(ERROR_SUCCESS, ::SHSetValueW(HKEY_LOCAL_MACHINE, subKey, name, REG_DWORD, &value, sizeof(value)));
}

class TombstoneTest : public testing::Test {
protected:
    void SetUp() override { ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, kServiceKey); }
    void TearDown() override { ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, kServiceKey); }
};

TEST_F(TombstoneTest, EnsureMarksTheKeyForDeletionAndDisablesTheDriver) {
    WriteDword(kServiceKey, L"Start", 3);
    EXPECT_EQ(0u, Driver::EnsureTombStoneIsPresent(kService));
    EXPECT_EQ(1u, ReadDword(kServiceKey, L"DeleteFlag").value_or(0));
    EXPECT_EQ(4u, ReadDword(kServiceKey, L"Start").value_or(0));
}

TEST_F(TombstoneTest, RemoveDeletesTheMarkAndMakesTheDriverStartOnDemand) {
    WriteDword(kServiceKey, L"DeleteFlag", 1);
    WriteDword(kServiceKey, L"Start", 4);
    EXPECT_EQ(0u, Driver::RemoveTombStoneIfPresent(kService));
    EXPECT_FALSE(ReadDword(kServiceKey, L"DeleteFlag").has_value());
    EXPECT_EQ(3u, ReadDword(kServiceKey, L"Start").value_or(0));
}

TEST_F(TombstoneTest, RemoveLeavesTheStartTypeOfAKeyWithoutTombstoneAlone) {
    WriteDword(kServiceKey, L"Start", 1);
    EXPECT_EQ(0u, Driver::RemoveTombStoneIfPresent(kService));
    EXPECT_EQ(1u, ReadDword(kServiceKey, L"Start").value_or(0));
}

TEST_F(TombstoneTest, NeitherOperationCreatesAMissingServiceKey) {
    EXPECT_EQ(0u, Driver::EnsureTombStoneIsPresent(kService));
    EXPECT_EQ(0u, Driver::RemoveTombStoneIfPresent(kService));
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kServiceKey, 0, KEY_READ, &key));
}

// An INF of the test's own in the drivers directory, as the install leaves its copy there.
class VerifyAddRegTest : public testing::Test {
protected:
    void SetUp() override {
        driver_.infFile.fileName = L"norvextest.inf";
        infPath_ = driver_.DriversDirectory() + driver_.infFile.fileName;
        ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\NorvexTest");
        WriteDword(kValuesKey, L"Level", 3);
    }
    void TearDown() override {
        ::DeleteFileW(infPath_.c_str());
        ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\NorvexTest");
    }
    void WriteInf(const std::wstring& addRegLines, const std::wstring& moreStrings = L"") {
        ASSERT_TRUE(WriteTextFile(infPath_, L"[Version]\r\nSignature=\"$Windows NT$\"\r\n\r\n[NvxAddReg]\r\n" + addRegLines +
                                                L"\r\n[Strings]\r\nValuesKey=\"SOFTWARE\\NorvexTest\\Drivers\"\r\n" +
                                                moreStrings));
    }
    // The code, with what the check wrote to standard output.
    DWORD VerifyCapturingReport(std::wstring& report) {
        TempDir dir(L"report");
        const std::wstring path = dir / L"out.txt";
        HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
        HANDLE saved = ::GetStdHandle(STD_OUTPUT_HANDLE);
        ::SetStdHandle(STD_OUTPUT_HANDLE, file);
        const DWORD code = driver_.VerifyAddReg();
        ::SetStdHandle(STD_OUTPUT_HANDLE, saved);
        ::CloseHandle(file);
        report = FromUtf8(ReadFileBytes(path));
        return code;
    }
    Driver driver_;
    std::wstring infPath_;
};

TEST_F(VerifyAddRegTest, PassesWhenEveryValueMatches) {
    WriteInf(L"HKLM,%ValuesKey%,Level,0x00010001,3\r\n");
    std::wstring report;
    EXPECT_EQ(0u, VerifyCapturingReport(report)) << ToUtf8(report);
}

TEST_F(VerifyAddRegTest, ALineOfFewerThanFiveFieldsIsAFailureWithAReportLine) {
    WriteInf(L"HKLM,%ValuesKey%,Level,0x00010001,3\r\nHKLM,%ValuesKey%,Level,0x00010001\r\n");
    std::wstring report;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), VerifyCapturingReport(report));
    EXPECT_NE(std::wstring::npos, report.find(L"\nVerification failed for registry entry \"HKLM,%ValuesKey%,Level,0x00010001\""))
        << ToUtf8(report);
}

// Many lines ahead of the one that differs: the whole section is read, however long.
TEST_F(VerifyAddRegTest, AValueFarDownALongSectionIsStillChecked) {
    std::wstring lines;
    while (lines.size() < 5000) lines += L"HKLM,%ValuesKey%,Level,0x00010001,3\r\n";
    WriteInf(lines + L"HKLM,%ValuesKey%,Level,0x00010001,4\r\n");
    std::wstring report;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), VerifyCapturingReport(report));
}

// INF strings around the 512 units read at first, up to the longest an INF may hold (4096
// characters): each is compared whole, so a value cut short is found and a long one that is
// intact passes.
TEST_F(VerifyAddRegTest, LongInfStringsAreComparedWhole) {
    struct Case { size_t characters; size_t stored; DWORD expected; };
    const Case cases[] = {
        { 511, 511, ERROR_SUCCESS },
        { 512, 512, ERROR_SUCCESS },
        { 512, 511, ERROR_INVALID_DATA },
        { 4096, 4096, ERROR_SUCCESS },
        { 4096, 4095, ERROR_INVALID_DATA },
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(testing::Message() << c.characters << " characters in the INF, " << c.stored << " stored");
        // An INF of its own per case: the system keeps an INF it has read and may not see it rewritten
        // within the same moment.
        ::DeleteFileW(infPath_.c_str());
        driver_.infFile.fileName = L"norvextest" + std::to_wstring(i) + L".inf";
        infPath_ = driver_.DriversDirectory() + driver_.infFile.fileName;
        WriteInf(L"HKLM,%ValuesKey%,Text,0x00000000,%Long%\r\n", L"Long=\"" + std::wstring(c.characters, L'v') + L"\"\r\n");
        const std::wstring stored(c.stored, L'v');
        ASSERT_EQ(ERROR_SUCCESS, ::SHSetValueW(HKEY_LOCAL_MACHINE, kValuesKey, L"Text", REG_SZ, stored.c_str(),
                                               static_cast<DWORD>((stored.size() + 1) * sizeof(wchar_t))));
        std::wstring report;
        EXPECT_EQ(c.expected, VerifyCapturingReport(report)) << ToUtf8(report);
    }
}

TEST_F(VerifyAddRegTest, AnInfWithoutTheSectionHasNothingToCheck) {
    ASSERT_TRUE(WriteTextFile(infPath_, L"[Version]\r\nSignature=\"$Windows NT$\"\r\n"));
    std::wstring report;
    EXPECT_EQ(0u, VerifyCapturingReport(report));
    EXPECT_TRUE(report.empty()) << ToUtf8(report);
}

} // namespace
