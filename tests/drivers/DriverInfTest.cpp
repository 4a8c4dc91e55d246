// The pure parts of driver handling, case by case.
#include <gtest/gtest.h>
#include <map>
#include "drivers/DriverInf.h"
#include "support/TestFiles.h"

namespace {

TEST(InfCommandsTest, OnlyX86UsesTheDefaultSectionsEveryOtherPlatformTheAmd64Ones) {
    struct Case { const wchar_t* platform; const char* install; const wchar_t* installServices; const char* uninstall;
                  const wchar_t* uninstallServices; };
    const Case cases[] = {
        {L"x86", ",,,36", L"DefaultInstall.Services", ",DefaultUninstall,,36", L"DefaultUninstall.Services"},
        {L"x64", ",DefaultInstall.NTamd64,,36", L"DefaultInstall.NTamd64.Services", ",DefaultUninstall.NTamd64,,36",
         L"DefaultUninstall.NTamd64.Services"},
        {L"ia64", ",DefaultInstall.NTamd64,,36", L"DefaultInstall.NTamd64.Services", ",DefaultUninstall.NTamd64,,36",
         L"DefaultUninstall.NTamd64.Services"},
        {L"Unknown architecture", ",DefaultInstall.NTamd64,,36", L"DefaultInstall.NTamd64.Services",
         ",DefaultUninstall.NTamd64,,36", L"DefaultUninstall.NTamd64.Services"},
    };
    for (const auto& c : cases) {
        const InfCommands commands = InfCommandsFor(c.platform);
        SCOPED_TRACE(ToUtf8(c.platform));
        EXPECT_STREQ(c.install, commands.installArguments);
        EXPECT_STREQ(c.installServices, commands.installServicesSection);
        EXPECT_STREQ(c.uninstall, commands.uninstallArguments);
        EXPECT_STREQ(c.uninstallServices, commands.uninstallServicesSection);
    }
}

TEST(InfCommandLineTest, GivesTheFullPathQuotedWhenABlankOrCommaWouldEndTheField) {
    struct Case { const wchar_t* path; const char* expected; };
    const Case cases[] = {
        {L"C:\\Setup\\tnxflt.inf", "C:\\Setup\\tnxflt.inf,DefaultInstall.NTamd64,,36"},
        {L"C:\\Tarnex Setup\\tnxflt.inf", "\"C:\\Tarnex Setup\\tnxflt.inf\",DefaultInstall.NTamd64,,36"},
        {L"C:\\a,b\\tnxflt.inf", "\"C:\\a,b\\tnxflt.inf\",DefaultInstall.NTamd64,,36"},
        {L"C:\\D\u00e9fense\\tnxflt.inf", "C:\\D\xC3\xA9" "fense\\tnxflt.inf,DefaultInstall.NTamd64,,36"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, InfCommandLine(c.path, ",DefaultInstall.NTamd64,,36")) << ToUtf8(c.path);
    }
}

TEST(AddRegTypeNameTest, MapsTheThreeFlagTextsAndNothingElse) {
    struct Case { const wchar_t* flags; const wchar_t* type; };
    const Case cases[] = {
        {L"0x00010001", L"DWORD"}, {L"0x00010000", L"MULTI_SZ"}, {L"0x00000000", L"SZ"},
        {L"0x00020000", L""},      {L"0x10001", L""},             {L"", L""},
    };
    for (const auto& c : cases) EXPECT_EQ(c.type, AddRegTypeName(c.flags)) << ToUtf8(c.flags);
}

InfStringLookup TableLookup() {
    static const std::map<std::wstring, std::wstring> strings = {
        {L"Key", L"SYSTEM\\CurrentControlSet\\Services\\tnxflt"}, {L"Name", L"Tarnex filter"}, {L"Empty", L""}};
    return [](const std::wstring& name) {
        const auto found = strings.find(name);
        return found == strings.end() ? std::wstring() : found->second;
    };
}

TEST(ReplaceInfStringsTest, ReplacesEveryNamedStringAndKeepsTheTextAroundIt) {
    struct Case { const wchar_t* field; const wchar_t* expected; };
    const Case cases[] = {
        {L"%Name%", L"Tarnex filter"},
        {L"%Key%\\Parameters", L"SYSTEM\\CurrentControlSet\\Services\\tnxflt\\Parameters"},
        {L"Prefix %Name% suffix", L"Prefix Tarnex filter suffix"},
        {L"%Name%-%Name%", L"Tarnex filter-Tarnex filter"},
        {L"%Unknown%", L""},
        {L"100%% sure", L"100% sure"},
        {L"50% off", L"50% off"},
        {L"plain", L"plain"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, ReplaceInfStrings(c.field, TableLookup())) << ToUtf8(c.field);
}

TEST(ParseNvxAddRegLineTest, BuildsTheRegistryValueEachLineDescribes) {
    struct Case { const wchar_t* line; bool complete; const wchar_t* keyPath; const wchar_t* name; const wchar_t* type;
                  const wchar_t* data; };
    const Case cases[] = {
        {L"HKLM,%Key%\\Parameters,Level,0x00010001,3", true, L"HKLM\\SYSTEM\\CurrentControlSet\\Services\\tnxflt\\Parameters",
         L"Level", L"DWORD", L"3"},
        {L"HKLM,%Key%,Flags,0x00010001,0x10", true, L"HKLM\\SYSTEM\\CurrentControlSet\\Services\\tnxflt", L"Flags",
         L"DWORD", L"16"},
        {L"HKLM, %Key% , \"Display Name\" , 0x00000000 , %Name%", true,
         L"HKLM\\SYSTEM\\CurrentControlSet\\Services\\tnxflt", L"Display Name", L"SZ", L"Tarnex filter"},
        {L"HKLM,Software\\T,List,0x00010000,\"a\",\"b c\",d", true, L"HKLM\\Software\\T", L"List", L"MULTI_SZ",
         L"a\\0b c\\0d"},
        {L"HKLM,Software\\T,List,0x00010000,%Name%", true, L"HKLM\\Software\\T", L"List", L"MULTI_SZ", L"%Name%"},
        {L"HKLM,Software\\T,Blob,0x00000001,01,02", true, L"HKLM\\Software\\T", L"Blob", L"", L"01"},
        {L"HKLM,Software\\T,Empty,0x00000000,", true, L"HKLM\\Software\\T", L"Empty", L"SZ", L""},
        {L"HKLM,Software\\T,Level,0x00010001", false, L"", L"", L"", L""},
        {L"HKLM", false, L"", L"", L"", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.line));
        const NvxAddRegValue value = ParseNvxAddRegLine(c.line, TableLookup());
        EXPECT_EQ(c.complete, value.complete);
        EXPECT_EQ(c.keyPath, value.keyPath);
        EXPECT_EQ(c.name, value.name);
        EXPECT_EQ(c.type, value.type);
        EXPECT_EQ(c.data, value.data);
    }
}

TEST(SplitSectionLinesTest, ReadsTheNulSeparatedLinesUpToTheDoubleNul) {
    const wchar_t block[] = L"a,b\0c\0\0stale\0";
    EXPECT_EQ((std::vector<std::wstring>{L"a,b", L"c"}), SplitSectionLines(block, 6));
    EXPECT_TRUE(SplitSectionLines(L"\0", 0).empty());
    // A count that stops inside a line keeps what came before it.
    EXPECT_EQ((std::vector<std::wstring>{L"a,", }), SplitSectionLines(block, 2));
}

TEST(CatalogMemberTagTest, WritesEachHashByteAsTwoUpperCaseDigits) {
    const BYTE hash[] = {0x00, 0x0F, 0xA5, 0xFF, 0x10};
    EXPECT_EQ(L"000FA5FF10", CatalogMemberTag(hash, sizeof(hash)));
    EXPECT_EQ(L"", CatalogMemberTag(hash, 0));
}

TEST(DriverNamesTest, ServiceAndFileNamesComeFromTheInfAndDriverFileNames) {
    struct Case { const wchar_t* sysFile; const wchar_t* service; };
    const Case cases[] = {
        {L"tnxflt.sys", L"tnxflt"}, {L"a.sys", L"a"}, {L"abcd", L""}, {L"abc", L""}, {L"", L""}, {L"long.name.sys", L"long.name"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.service, TombstoneServiceName(c.sysFile)) << ToUtf8(c.sysFile);

    EXPECT_EQ(L"system\\CurrentControlSet\\Services\\tnxflt", DriverServiceKeyPath(L"tnxflt"));
    EXPECT_EQ(L"tnxflt", InfServiceName(L"tnxflt.inf"));
    EXPECT_EQ(L"tnx.flt", InfServiceName(L"tnx.flt.inf"));
    EXPECT_EQ(L"tnxflt", InfServiceName(L"tnxflt"));
    EXPECT_EQ(L"tnxflt.sys", InfDriverFileName(L"tnxflt.inf"));
    EXPECT_EQ(L"tnx.flt.sys", InfDriverFileName(L"tnx.flt.inf"));
    EXPECT_EQ(L"tnxflt.sys", InfDriverFileName(L"tnxflt"));
}

} // namespace
