#include <gtest/gtest.h>

#include "engine/InstallContext.h"
#include "operations/RegistryHelpers.h"
#include "operations/RegistryOperation.h"
#include "policy/InstallOverrideTable.h"
#include "OperationsTestSupport.h"

namespace {

class RegistryOperationTest : public testing::Test {
protected:
    void SetUp() override {
        ResetInstallContext();
        InstallOverrideTable::ClearForTests();
        DeleteScratchKey();
    }
    void TearDown() override {
        DeleteScratchKey();
        InstallOverrideTable::ClearForTests();
        ResetInstallContext();
    }

    static hklm::StoredValue Stored(const std::wstring& name, const std::wstring& subKey = kScratchSubKey) {
        return hklm::ReadValue(subKey, name);
    }

    static void Put(const std::wstring& name, DWORD type, const void* data, DWORD bytes) {
        ASSERT_TRUE(hklm::WriteValue(kScratchSubKey, name, type, data, bytes));
    }
    static void PutDword(const std::wstring& name, DWORD number) { Put(name, REG_DWORD, &number, 4); }

    static RegValue Value(const std::wstring& name, const std::wstring& type, const std::wstring& data, bool keep = false) {
        return RegValue(kScratchKeyPath, name, type, data, keep);
    }

    static DWORD VerifyQuietly(RegValue& value) {
        DWORD result = 0;
        CaptureConsole([&] { result = value.Verify(); });
        return result;
    }
};

TEST_F(RegistryOperationTest, BindsValueAttributesAndOnlyTheExactTrueKeepsExisting) {
    auto key = BindElement<RegKey>(
        L"<RegKey key=\"HKLM\\SOFTWARE\\X\">"
        L"<RegValue type=\"SZ\" name=\"a\" data=\"d\" platform=\"x86\" keepexisting=\"true\"/>"
        L"<RegValue type=\"DWORD\" name=\"b\" data=\"1\" keepexisting=\"1\"/>"
        L"<RegValue type=\"DWORD\" name=\"c\" data=\"1\" keepexisting=\"TRUE\"/>"
        L"</RegKey>");
    EXPECT_EQ(key->KeyPath(), L"HKLM\\SOFTWARE\\X");
    ASSERT_EQ(key->Values().size(), 3u);
    const RegValue& first = *key->Values()[0];
    EXPECT_EQ(first.Type(), L"SZ");
    EXPECT_EQ(first.Name(), L"a");
    EXPECT_EQ(first.Data(), L"d");
    EXPECT_EQ(first.Platform(), L"x86");
    EXPECT_TRUE(first.KeepExisting());
    EXPECT_FALSE(key->Values()[1]->KeepExisting());
    EXPECT_FALSE(key->Values()[2]->KeepExisting());
    EXPECT_EQ(key->Values()[1]->Platform(), L"");
}

TEST_F(RegistryOperationTest, MultiStringIsStoredAsSeparateStringsWithTheDoubleNul) {
    RegValue value = Value(L"mszList", L"MULTI_SZ", L"a\\0b");
    EXPECT_EQ(value.Install(), 0u);
    const hklm::StoredValue stored = Stored(L"mszList");
    EXPECT_EQ(stored.type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(stored.Units(), std::wstring(L"a\0b\0\0", 5));
    EXPECT_EQ(VerifyQuietly(value), 0u);
}

TEST_F(RegistryOperationTest, MultiStringOfMaximumLengthIsWrittenAndOneLongerIsRefused) {
    RegValue longest = Value(L"longest", L"MULTI_SZ", std::wstring(16383, L'm'));
    EXPECT_EQ(longest.Install(), 0u);
    EXPECT_EQ(Stored(L"longest").bytes.size(), (16383u + 2) * 2);
    EXPECT_EQ(VerifyQuietly(longest), 0u);

    RegValue tooLong = Value(L"tooLong", L"MULTI_SZ", std::wstring(16384, L'm'));
    LogCapture log;
    EXPECT_EQ(tooLong.Install(), static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_FALSE(Stored(L"tooLong").exists);
    EXPECT_TRUE(log.Contains(L"Failed to set the MULTI_SZ value for registry key: SOFTWARE\\NorvexTest\\Operations\\tooLong. "
                             L"Length is longer than MAX_VALUE_LENGTH(16383)."))
        << ToUtf8(log.Text().substr(0, 2000));
}

TEST_F(RegistryOperationTest, MultiStringWithEmptyItemsInstallsButDoesNotVerify) {
    const wchar_t* texts[] = { L"a\\0", L"a\\0\\0b", L"\\0a" };
    for (const wchar_t* text : texts) {
        RegValue value = Value(L"msz", L"MULTI_SZ", text);
        EXPECT_EQ(value.Install(), 0u) << ToUtf8(text);
        EXPECT_EQ(VerifyQuietly(value), static_cast<DWORD>(ERROR_INVALID_DATA)) << ToUtf8(text);
    }
}

TEST_F(RegistryOperationTest, StringDataExpandsALeadingVariable) {
    InstallContext().configurationSddl = L"O:BAG:SYD:(A;;GA;;;SY)";
    InstallContext().installDirectory = L"C:\\Program Files\\Tarnex";
    struct Case { const wchar_t* name; const wchar_t* data; std::wstring stored; };
    const Case cases[] = {
        { L"szConfigSD", L"$CONFIG_SD", L"O:BAG:SYD:(A;;GA;;;SY)" },
        { L"szInstallPath", L"$INSTALL_PATH\\bin", L"C:\\Program Files\\Tarnex\\bin" },
        { L"szPlain", L"plain $CONFIG_SD", L"plain $CONFIG_SD" },
        { L"szEmpty", L"", L"" },
    };
    for (const auto& c : cases) {
        RegValue value = Value(c.name, L"SZ", c.data);
        EXPECT_EQ(value.Install(), 0u);
        const hklm::StoredValue stored = Stored(c.name);
        EXPECT_EQ(stored.type, static_cast<DWORD>(REG_SZ)) << ToUtf8(c.name);
        EXPECT_EQ(stored.Units(), c.stored + L'\0') << ToUtf8(c.name);
        EXPECT_EQ(VerifyQuietly(value), 0u) << ToUtf8(c.name);
    }
}

TEST_F(RegistryOperationTest, DwordDataIsADecimalNumberAndAnythingElseWritesZero) {
    struct Case { const wchar_t* data; DWORD stored; };
    const Case cases[] = { { L"42", 42 }, { L"4294967295", 0xFFFFFFFF }, { L"7abc", 7 }, { L"abc", 0 }, { L"", 0 } };
    for (const auto& c : cases) {
        RegValue value = Value(L"dwNumber", L"DWORD", c.data);
        EXPECT_EQ(value.Install(), 0u) << ToUtf8(c.data);
        const hklm::StoredValue stored = Stored(L"dwNumber");
        EXPECT_EQ(stored.type, static_cast<DWORD>(REG_DWORD));
        EXPECT_EQ(stored.Number(), c.stored) << ToUtf8(c.data);
        EXPECT_EQ(VerifyQuietly(value), 0u) << ToUtf8(c.data);
    }
}

TEST_F(RegistryOperationTest, UnknownTypeWritesNothingAndNeverVerifies) {
    RegValue value = Value(L"qwBig", L"QWORD", L"1");
    EXPECT_EQ(value.Install(), 0u);
    EXPECT_FALSE(Stored(L"qwBig").exists);
    PutDword(L"qwBig", 1);
    EXPECT_EQ(VerifyQuietly(value), static_cast<DWORD>(ERROR_INVALID_DATA));
}

TEST_F(RegistryOperationTest, KeepExistingLeavesAnExistingValueOfAnyTypeAndVerifiesIt) {
    Put(L"szKept", REG_SZ, L"old", 8);
    RegValue kept = Value(L"szKept", L"DWORD", L"5", true);
    LogCapture log;
    EXPECT_EQ(kept.Install(), 0u);
    const hklm::StoredValue stored = Stored(L"szKept");
    EXPECT_EQ(stored.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(stored.Units(), std::wstring(L"old\0", 4));
    EXPECT_TRUE(log.Contains(L"Retaining the value for registry key: SOFTWARE\\NorvexTest\\Operations\\szKept.")) << ToUtf8(log.Text());
    EXPECT_EQ(VerifyQuietly(kept), 0u);

    RegValue fresh = Value(L"dwFresh", L"DWORD", L"5", true);
    EXPECT_EQ(fresh.Install(), 0u);
    EXPECT_EQ(Stored(L"dwFresh").Number(), 5u);
    // Without keepexisting the same existing value is overwritten.
    RegValue overwrite = Value(L"szKept", L"DWORD", L"5");
    EXPECT_EQ(overwrite.Install(), 0u);
    EXPECT_EQ(Stored(L"szKept").type, static_cast<DWORD>(REG_DWORD));
}

TEST_F(RegistryOperationTest, InstalledContentVersionsKeepTheirNumberAndVerify) {
    PutDword(L"dwContentMajorVersion", 3);
    Put(L"dwContentMinorVersion", REG_SZ, L"9", 4);   // not a REG_DWORD: replaced
    PutDword(L"dwProductID", 3);
    struct Case { const wchar_t* name; DWORD stored; };
    const Case cases[] = { { L"dwContentMajorVersion", 3 }, { L"dwContentMinorVersion", 7 }, { L"dwProductID", 7 } };
    for (const auto& c : cases) {
        RegValue value = Value(c.name, L"DWORD", L"7");
        EXPECT_EQ(value.Install(), 0u) << ToUtf8(c.name);
        const hklm::StoredValue stored = Stored(c.name);
        EXPECT_EQ(stored.type, static_cast<DWORD>(REG_DWORD)) << ToUtf8(c.name);
        EXPECT_EQ(stored.Number(), c.stored) << ToUtf8(c.name);
        EXPECT_EQ(VerifyQuietly(value), 0u) << ToUtf8(c.name);
    }
    // Any other stored number of an ordinary value is a mismatch.
    RegValue other = Value(L"dwProductID", L"DWORD", L"8");
    EXPECT_EQ(VerifyQuietly(other), static_cast<DWORD>(ERROR_INVALID_DATA));
}

TEST_F(RegistryOperationTest, OverridesReplaceTheDataBeforeWritingAndComparing) {
    InstallOverrideTable::Record(L"dwProductID", L"42");
    InstallOverrideTable::Record(L"Start", L"0");
    InstallOverrideTable::Record(L"dwContentMinorVersion", L"");   // recorded empty: no override
    RegValue product = Value(L"dwProductID", L"DWORD", L"1");
    RegValue start = Value(L"Start", L"DWORD", L"2");
    RegValue minor = Value(L"dwContentMinorVersion", L"DWORD", L"5");
    EXPECT_EQ(product.Install(), 0u);
    EXPECT_EQ(start.Install(), 0u);
    EXPECT_EQ(minor.Install(), 0u);
    EXPECT_EQ(Stored(L"dwProductID").Number(), 42u);
    EXPECT_EQ(product.Data(), L"42");
    EXPECT_EQ(Stored(L"Start").Number(), 0u);
    EXPECT_EQ(Stored(L"dwContentMinorVersion").Number(), 5u);

    RegValue fromDocument = Value(L"dwProductID", L"DWORD", L"1");
    EXPECT_EQ(VerifyQuietly(fromDocument), 0u);
}

TEST_F(RegistryOperationTest, VerifyPrintsWhatItFoundAndReturnsTheCode) {
    PutDword(L"dwShort", 1);
    Put(L"dwShort", REG_BINARY, "\x01\x00", 2);
    PutDword(L"dwRight", 5);
    const std::wstring key = kScratchKeyPath;
    struct Case { std::wstring keyPath; const wchar_t* name; const wchar_t* type; const wchar_t* data; DWORD result; std::wstring output; };
    const Case cases[] = {
        { key, L"dwRight", L"DWORD", L"5", 0, L"\nVerification succeeded for value dwRight under Registry key " + key + L"." },
        { key, L"dwRight", L"DWORD", L"6", ERROR_INVALID_DATA,
          L"\nVerification failed for value data of value dwRight under Registry key " + key + L"." },
        { key, L"dwMissing", L"DWORD", L"0", ERROR_INVALID_DATA,
          L"\nVerification failed for existance of value dwMissing under Registry key " + key + L"." +
              L"\nVerification failed for value data of value dwMissing under Registry key " + key + L"." },
        { key, L"szMissing", L"SZ", L"", ERROR_INVALID_DATA,
          L"\nVerification failed for existance of value szMissing under Registry key " + key + L"." +
              L"\nVerification failed for value data of value szMissing under Registry key " + key + L"." },
        { key, L"dwShort", L"DWORD", L"1", ERROR_INVALID_DATA,
          L"\nVerification failed for value data of value dwShort under Registry key " + key + L"." },
        { L"HKEY_LOCAL_MACHINE\\SOFTWARE", L"x", L"SZ", L"", ERROR_NO_MATCH,
          L"\nFailed to parse registry path HKEY_LOCAL_MACHINE\\SOFTWARE. Error code 1169" },
        { key + L"\\Missing", L"x", L"SZ", L"", ERROR_FILE_NOT_FOUND,
          L"\nFailed to open registry key " + key + L"\\Missing. Error code 2" },
    };
    for (const auto& c : cases) {
        RegValue value(c.keyPath, c.name, c.type, c.data, false);
        DWORD result = 99;
        const std::wstring output = CaptureConsole([&] { result = value.Verify(); });
        EXPECT_EQ(result, c.result) << ToUtf8(c.name);
        EXPECT_EQ(output, c.output) << ToUtf8(c.name);
    }
}

TEST_F(RegistryOperationTest, KeyInstallCreatesTheKeyAndTheValuesForThisProcessor) {
    auto key = BindElement<RegKey>(
        L"<RegKey key=\"HKLM\\SOFTWARE\\NorvexTest\\Operations\\Sub\">"
        L"<RegValue type=\"DWORD\" name=\"dwAny\" data=\"1\"/>"
        L"<RegValue type=\"DWORD\" name=\"dwOther\" data=\"2\" platform=\"x86\"/>"
        L"<RegValue type=\"SZ\" name=\"szMine\" data=\"x\" platform=\"x64\"/>"
        L"</RegKey>");
    EXPECT_EQ(key->Install(), 0u);
    const std::wstring sub = std::wstring(kScratchSubKey) + L"\\Sub";
    EXPECT_TRUE(Stored(L"dwAny", sub).exists);
    EXPECT_FALSE(Stored(L"dwOther", sub).exists);
    EXPECT_TRUE(Stored(L"szMine", sub).exists);

    // Verify expects what install wrote: the value for the other processor is not looked for.
    DWORD result = 0;
    std::wstring output = CaptureConsole([&] { result = key->Verify(); });
    EXPECT_EQ(result, 0u) << ToUtf8(output);
    EXPECT_EQ(output.find(L"\nVerification succeeded for existance of Registry path " + sub + L"."), 0u) << ToUtf8(output);
    EXPECT_EQ(output.find(L"dwOther"), std::wstring::npos) << ToUtf8(output);

    // A value of this processor that went missing still fails.
    ASSERT_TRUE(hklm::DeleteValue(sub, L"szMine"));
    output = CaptureConsole([&] { result = key->Verify(); });
    EXPECT_EQ(result, static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_NE(output.find(L"value data of value szMine"), std::wstring::npos) << ToUtf8(output);
}

TEST_F(RegistryOperationTest, KeyWithoutValuesIsCreatedAndVerified) {
    RegKey key(std::wstring(kScratchKeyPath) + L"\\Empty");
    EXPECT_EQ(key.Install(), 0u);
    EXPECT_TRUE(hklm::KeyExists(std::wstring(kScratchSubKey) + L"\\Empty"));
    DWORD result = 99;
    EXPECT_EQ(CaptureConsole([&] { result = key.Verify(); }),
              L"\nVerification succeeded for existance of Registry path SOFTWARE\\NorvexTest\\Operations\\Empty.");
    EXPECT_EQ(result, 0u);

    RegKey missing(std::wstring(kScratchKeyPath) + L"\\Missing");
    EXPECT_EQ(CaptureConsole([&] { result = missing.Verify(); }),
              L"\nVerification failed for existance of Registry key SOFTWARE\\NorvexTest\\Operations\\Missing.");
    EXPECT_EQ(result, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(RegistryOperationTest, KeyUnInstallDeletesTheWholeTreeButNeverARoot) {
    RegValue(std::wstring(kScratchKeyPath) + L"\\A\\B", L"dwDeep", L"DWORD", L"1", false).Install();
    struct Case { std::wstring keyPath; DWORD result; };
    const Case cases[] = {
        { L"HKEY_LOCAL_MACHINE\\SOFTWARE\\NorvexTest\\Operations", ERROR_NO_MATCH },
        { L"HKLM\\", ERROR_INVALID_PARAMETER },
        { L"HKLM\\\\", ERROR_INVALID_PARAMETER },
        { kScratchKeyPath, 0 },
        // Already gone: nothing left to remove.
        { kScratchKeyPath, 0 },
    };
    for (const auto& c : cases) EXPECT_EQ(RegKey(c.keyPath).UnInstall(), c.result) << ToUtf8(c.keyPath);
    EXPECT_FALSE(hklm::KeyExists(kScratchSubKey));
    EXPECT_TRUE(hklm::KeyExists(L"SOFTWARE"));
}

TEST_F(RegistryOperationTest, UnInstallOfAParentKeyBeforeItsChildSucceeds) {
    auto operation = BindElement<RegistryOperation>(
        L"<RegistryOperation operation=\"create\">"
        L"<RegKey key=\"HKLM\\SOFTWARE\\NorvexTest\\Operations\"/>"
        L"<RegKey key=\"HKLM\\SOFTWARE\\NorvexTest\\Operations\\Child\"><RegValue type=\"DWORD\" name=\"n\" data=\"1\"/></RegKey>"
        L"</RegistryOperation>");
    ASSERT_EQ(operation->Install(), 0u);
    // Removing the parent takes the child with it; the child's removal then finds nothing left.
    EXPECT_EQ(operation->UnInstall(), 0u);
    EXPECT_FALSE(hklm::KeyExists(kScratchSubKey));
}

TEST_F(RegistryOperationTest, OperationInstallStopsAtTheFirstFailingKeyAndUnInstallVisitsAll) {
    auto operation = BindElement<RegistryOperation>(
        L"<RegistryOperation operation=\"create\">"
        L"<RegKey key=\"HKLM\\SOFTWARE\\NorvexTest\\Operations\\One\"><RegValue type=\"DWORD\" name=\"n\" data=\"1\"/></RegKey>"
        L"<RegKey key=\"HKLX\\SOFTWARE\\NorvexTest\\Operations\\Bad\"/>"
        L"<RegKey key=\"HKLM\\SOFTWARE\\NorvexTest\\Operations\\Three\"/>"
        L"</RegistryOperation>");
    EXPECT_EQ(operation->Operation(), L"create");
    ASSERT_EQ(operation->Keys().size(), 3u);
    EXPECT_EQ(operation->Install(), static_cast<DWORD>(ERROR_NO_MATCH));
    EXPECT_TRUE(hklm::KeyExists(std::wstring(kScratchSubKey) + L"\\One"));
    EXPECT_FALSE(hklm::KeyExists(std::wstring(kScratchSubKey) + L"\\Three"));

    RegKey(std::wstring(kScratchKeyPath) + L"\\Three").Install();
    // The failing middle key does not stop the removal; the result is the last key's.
    EXPECT_EQ(operation->UnInstall(), 0u);
    EXPECT_FALSE(hklm::KeyExists(std::wstring(kScratchSubKey) + L"\\One"));
    EXPECT_FALSE(hklm::KeyExists(std::wstring(kScratchSubKey) + L"\\Three"));

    DWORD result = 0;
    CaptureConsole([&] { result = operation->Verify(); });
    EXPECT_EQ(result, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(operation->Repair(), 0u);
    EXPECT_EQ(operation->Upgrade(), 0u);
}

} // namespace

// The encoding of a data text, without the registry: every type word, the "\0" separators and the
// length limit of MULTI_SZ.
TEST(RegValueEncodeTest, EncodesEachTypeWordIntoTheRegistryTypeAndBytes) {
    auto units = [](const std::wstring& text) {
        const BYTE* first = reinterpret_cast<const BYTE*>(text.data());
        return std::vector<BYTE>(first, first + text.size() * sizeof(wchar_t));
    };
    auto dword = [](DWORD number) {
        std::vector<BYTE> bytes(sizeof(number));
        memcpy(bytes.data(), &number, sizeof(number));
        return bytes;
    };
    const std::wstring longest(16383, L'x');
    const std::wstring tooLong(16384, L'x');
    struct Case {
        const wchar_t* type;
        std::wstring data;
        DWORD expectedType;
        std::vector<BYTE> expectedBytes;
        DWORD expectedError;
    };
    const Case cases[] = {
        { L"DWORD", L"42", REG_DWORD, dword(42), ERROR_SUCCESS },
        { L"DWORD", L"4294967295", REG_DWORD, dword(0xFFFFFFFF), ERROR_SUCCESS },
        { L"DWORD", L"12abc", REG_DWORD, dword(12), ERROR_SUCCESS },
        { L"DWORD", L"abc", REG_DWORD, dword(0), ERROR_SUCCESS },
        { L"DWORD", L"", REG_DWORD, dword(0), ERROR_SUCCESS },
        { L"SZ", L"C:\\Program Files\\Tarnex", REG_SZ, units(std::wstring(L"C:\\Program Files\\Tarnex") + L'\0'), ERROR_SUCCESS },
        { L"SZ", L"", REG_SZ, units(std::wstring(1, L'\0')), ERROR_SUCCESS },
        // A variable is not this function's business: the text stays as it is.
        { L"SZ", L"$INSTALL_PATH", REG_SZ, units(std::wstring(L"$INSTALL_PATH") + L'\0'), ERROR_SUCCESS },
        { L"MULTI_SZ", L"a\\0b", REG_MULTI_SZ, units(std::wstring(L"a\0b\0\0", 5)), ERROR_SUCCESS },
        { L"MULTI_SZ", L"one", REG_MULTI_SZ, units(std::wstring(L"one\0\0", 5)), ERROR_SUCCESS },
        { L"MULTI_SZ", L"", REG_MULTI_SZ, units(std::wstring(2, L'\0')), ERROR_SUCCESS },
        { L"MULTI_SZ", L"a\\0", REG_MULTI_SZ, units(std::wstring(L"a\0\0\0", 4)), ERROR_SUCCESS },
        { L"MULTI_SZ", L"a\\0\\0b", REG_MULTI_SZ, units(std::wstring(L"a\0\0b\0\0", 6)), ERROR_SUCCESS },
        // A backslash before anything but "0" is an ordinary letter.
        { L"MULTI_SZ", L"C:\\x\\0D:\\y", REG_MULTI_SZ, units(std::wstring(L"C:\\x\0D:\\y\0\0", 11)), ERROR_SUCCESS },
        { L"MULTI_SZ", longest, REG_MULTI_SZ, units(longest + std::wstring(2, L'\0')), ERROR_SUCCESS },
        { L"MULTI_SZ", tooLong, REG_MULTI_SZ, {}, static_cast<DWORD>(ERROR_INVALID_DATA) },
        // Type words are exact: anything else writes nothing.
        { L"EXPAND_SZ", L"%SystemRoot%", REG_NONE, {}, ERROR_SUCCESS },
        { L"BINARY", L"0102", REG_NONE, {}, ERROR_SUCCESS },
        { L"dword", L"1", REG_NONE, {}, ERROR_SUCCESS },
        { L"", L"", REG_NONE, {}, ERROR_SUCCESS },
    };
    for (const Case& c : cases) {
        const std::wstring label = std::wstring(c.type) + L" \"" + c.data.substr(0, 24) + L"\"";
        const RegValue::Encoded encoded = RegValue::Encode(c.type, c.data);
        EXPECT_EQ(encoded.type, c.expectedType) << testing::PrintToString(label);
        EXPECT_EQ(encoded.bytes, c.expectedBytes) << testing::PrintToString(label);
        EXPECT_EQ(encoded.error, c.expectedError) << testing::PrintToString(label);
    }
}
