#include <gtest/gtest.h>

#include "operations/RegistryHelpers.h"
#include "shell/Handles.h"
#include "OperationsTestSupport.h"

namespace {

TEST(KeyPath, SplitsIntoAPredefinedRootAndTheSubKey) {
    struct Case { const wchar_t* path; DWORD result; HKEY root; const wchar_t* subKey; };
    const Case cases[] = {
        { L"HKLM\\SOFTWARE", 0, HKEY_LOCAL_MACHINE, L"SOFTWARE" },
        { L"HKLM\\SOFTWARE\\Norvex\\Coravel", 0, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Norvex\\Coravel" },
        { L"HKLM\\", 0, HKEY_LOCAL_MACHINE, L"" },
        { L"HKCR\\.txt", 0, HKEY_CLASSES_ROOT, L".txt" },
        { L"HKCC\\System", 0, HKEY_CURRENT_CONFIG, L"System" },
        { L"HKU\\.DEFAULT", 0, HKEY_USERS, L".DEFAULT" },
        { L"HKCU\\Software", 0, HKEY_CURRENT_USER, L"Software" },
        { L"HKLM", ERROR_NO_MATCH, nullptr, L"untouched" },
        { L"hklm\\SOFTWARE", ERROR_NO_MATCH, nullptr, L"untouched" },
        { L"HKEY_LOCAL_MACHINE\\SOFTWARE", ERROR_NO_MATCH, nullptr, L"untouched" },
        { L"HKLMX\\SOFTWARE", ERROR_NO_MATCH, nullptr, L"untouched" },
        { L"\\SOFTWARE", ERROR_NO_MATCH, nullptr, L"untouched" },
        { L"", ERROR_NO_MATCH, nullptr, L"untouched" },
    };
    for (const auto& c : cases) {
        HKEY root = nullptr;
        std::wstring subKey = L"untouched";
        EXPECT_EQ(ParseKeyPath(c.path, root, subKey), c.result) << ToUtf8(c.path);
        EXPECT_EQ(root, c.root) << ToUtf8(c.path);
        EXPECT_EQ(subKey, c.subKey) << ToUtf8(c.path);
    }
}

TEST(MultiStringText, EncodesTheBackslashZeroPairsAsSeparators) {
    struct Case { std::wstring text; std::wstring units; };
    const Case cases[] = {
        { L"a\\0b", std::wstring(L"a\0b\0\0", 5) },
        { L"a", std::wstring(L"a\0\0", 3) },
        { L"", std::wstring(L"\0\0", 2) },
        { L"a\\0", std::wstring(L"a\0\0\0", 4) },
        { L"a\\0\\0b", std::wstring(L"a\0\0b\0\0", 6) },
        { L"C:\\0dir\\x", std::wstring(L"C:\0dir\\x\0\0", 10) },   // any backslash before a zero separates
        { L"a\\\\0", std::wstring(L"a\\\0\0\0", 5) },
        { L"trailing\\", std::wstring(L"trailing\\\0\0", 11) },
    };
    for (const auto& c : cases) EXPECT_EQ(EncodeMultiSzText(c.text), c.units) << ToUtf8(c.text);
}

TEST(MultiStringText, DecodesOnlyNonEmptyStringsAndJoinsThemBack) {
    struct Case { std::wstring units; std::vector<std::wstring> items; std::wstring joined; };
    const Case cases[] = {
        { std::wstring(L"a\0b\0\0", 5), { L"a", L"b" }, L"a\\0b" },
        { std::wstring(L"a\0\0b\0\0", 6), { L"a", L"b" }, L"a\\0b" },
        { std::wstring(L"\0\0", 2), {}, L"" },
        { std::wstring(L"no terminator", 13), { L"no terminator" }, L"no terminator" },
        { std::wstring(), {}, L"" },
    };
    for (const auto& c : cases) {
        const auto items = DecodeMultiSz(reinterpret_cast<const BYTE*>(c.units.data()), c.units.size() * sizeof(wchar_t));
        EXPECT_EQ(items, c.items);
        EXPECT_EQ(JoinMultiSzText(items), c.joined);
    }
    // An odd trailing byte is not half a character.
    const std::wstring units(L"ab", 2);
    EXPECT_EQ(DecodeMultiSz(reinterpret_cast<const BYTE*>(units.data()), 3), std::vector<std::wstring>{ L"a" });
}

class RegistryReads : public testing::Test {
protected:
    void SetUp() override {
        DeleteScratchKey();
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kScratchSubKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key_.put(), nullptr), 0);
    }
    void TearDown() override {
        key_.reset();
        DeleteScratchKey();
    }
    void Set(const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
        ASSERT_EQ(::RegSetValueExW(key_.get(), name, 0, type, static_cast<const BYTE*>(data), bytes), 0);
    }
    UniqueKey key_;
};

TEST_F(RegistryReads, FindKeysAndValues) {
    const DWORD one = 1;
    Set(L"present", REG_DWORD, &one, 4);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kScratchSubKey));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, std::wstring(kScratchSubKey) + L"\\missing"));
    EXPECT_TRUE(ValueExists(key_.get(), L"present"));
    EXPECT_FALSE(ValueExists(key_.get(), L"absent"));
}

TEST_F(RegistryReads, StringsLoseOneTerminatorOnly) {
    // "abcX" with the byte count of "abc": stored without a terminator.
    Set(L"bare", REG_SZ, L"abcX", 6);
    Set(L"doubled", REG_SZ, L"abc\0\0X", 10);   // the X keeps the system from adding a NUL
    Set(L"empty", REG_SZ, L"", 0);
    struct Case { const wchar_t* name; bool read; std::wstring value; };
    const Case cases[] = {
        { L"bare", true, L"abc" },
        { L"doubled", true, std::wstring(L"abc\0", 4) },
        { L"empty", true, L"unchanged" },
        { L"absent", false, L"unchanged" },
    };
    for (const auto& c : cases) {
        std::wstring value = L"unchanged";
        EXPECT_EQ(ReadStringValue(key_.get(), c.name, value), c.read) << ToUtf8(c.name);
        EXPECT_EQ(value, c.value) << ToUtf8(c.name);
    }
}

TEST_F(RegistryReads, NumbersAreReadOnlyFromFourBytes) {
    const DWORD number = 0x01020304;
    Set(L"dword", REG_DWORD, &number, 4);
    Set(L"short", REG_BINARY, "\x01\x02", 2);
    DWORD value = 7;
    EXPECT_TRUE(ReadDwordValue(key_.get(), L"dword", value));
    EXPECT_EQ(value, number);
    value = 7;
    EXPECT_TRUE(ReadDwordValue(key_.get(), L"short", value));
    EXPECT_EQ(value, 7u);
    EXPECT_FALSE(ReadDwordValue(key_.get(), L"absent", value));
}

TEST_F(RegistryReads, MultiStringsSkipEmptyItems) {
    Set(L"multi", REG_MULTI_SZ, L"a\0\0b\0\0X", 12);
    std::vector<std::wstring> values{ L"kept" };
    EXPECT_TRUE(ReadMultiStringValue(key_.get(), L"multi", values));
    EXPECT_EQ(values, (std::vector<std::wstring>{ L"kept", L"a", L"b" }));
    EXPECT_FALSE(ReadMultiStringValue(key_.get(), L"absent", values));
}

TEST_F(RegistryReads, RawReadGivesTheStoredBytes) {
    Set(L"bytes", REG_BINARY, "\x01\x02\x03", 3);
    Set(L"nothing", REG_BINARY, "", 0);
    std::vector<BYTE> data{ 9 };
    DWORD size = 99;
    EXPECT_TRUE(ReadRawValue(key_.get(), L"bytes", data, size));
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(data, (std::vector<BYTE>{ 1, 2, 3 }));
    EXPECT_TRUE(ReadRawValue(key_.get(), L"nothing", data, size));
    EXPECT_EQ(size, 0u);
    EXPECT_TRUE(data.empty());
}

} // namespace
