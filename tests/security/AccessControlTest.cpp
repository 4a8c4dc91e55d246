// The client security descriptors: the two defaults, the SDDL check and the descriptor holder.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>
#include <string>

#include "security/AccessControl.h"
#include "shell/AVException.h"
#include "shell/Log.h"
#include "support/LogReader.h"
#include "support/TestFiles.h"

namespace {

TEST(AccessControlTest, DefaultsAreTheFixedTextsAndConvert) {
    EXPECT_EQ(GetDefaultOASSecurityDescriptor(), L"O:BAG:BAD:(D;;0x001F0000;;;AN)(D;;0x001F0000;;;BG)(A;;0x001F0000;;;WD)");
    EXPECT_EQ(GetDefaultConfigSecurityDescriptor(), L"O:BAG:BAD:(A;;0x001F0000;;;BA)");
    EXPECT_TRUE(IsValidSddl(GetDefaultOASSecurityDescriptor()));
    EXPECT_TRUE(IsValidSddl(GetDefaultConfigSecurityDescriptor()));
    EXPECT_TRUE(IsValidSddl(L"O:SYG:SYD:(A;;GA;;;SY)(A;;GR;;;IU)"));
}

TEST(AccessControlTest, TextsThatDoNotConvertFailWithTheExceptionOfTheConversion) {
    const wchar_t* const texts[] = {
        L"garbage",
        L"O:BAG:BAD:(A;;0x001F0000;;;QQ)",   // unknown SID abbreviation
        L"O:BAG:BAD:(A;;0x001F0000;;;BA",    // unterminated entry
        L"O:BAG:BAD:(Z;;0x001F0000;;;BA)",   // unknown entry type
        L"O:XXG:BA",
    };
    for (const wchar_t* text : texts) {
        EXPECT_FALSE(IsValidSddl(text)) << ToUtf8(text);
        SecurityDescriptorHolder holder;
        try {
            AccessControl::ConvertSddlToSecurityDescriptor(text, holder);
            ADD_FAILURE() << "converted: " << ToUtf8(text);
        } catch (const AVException& exception) {
            EXPECT_EQ(exception.Message(), "Failed to SDDL string to Security Descriptor");
            EXPECT_EQ(exception.SourceFile(), "AccessControl");
            EXPECT_NE(exception.Code(), 0u) << ToUtf8(text);
        }
        EXPECT_FALSE(holder) << ToUtf8(text);
    }
}

TEST(AccessControlTest, HolderGivesUpItsDescriptorBeforeEachConversion) {
    SecurityDescriptorHolder holder;
    AccessControl::ConvertSddlToSecurityDescriptor(GetDefaultConfigSecurityDescriptor(), holder);
    ASSERT_TRUE(holder);
    EXPECT_TRUE(IsValidSecurityDescriptor(holder.get()));
    // A failed conversion leaves the holder empty, not holding the old descriptor.
    EXPECT_THROW(AccessControl::ConvertSddlToSecurityDescriptor(L"garbage", holder), AVException);
    EXPECT_FALSE(holder);
}

SIZE_T PrivateBytes() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters.PagefileUsage;
}

TEST(AccessControlTest, ConversionsFreeTheirDescriptors) {
    // About 160 bytes a descriptor: 40,000 conversions that kept theirs would hold over 6 MB.
    const std::wstring text = GetDefaultOASSecurityDescriptor();
    SecurityDescriptorHolder holder;
    for (int i = 0; i < 1000; ++i) AccessControl::ConvertSddlToSecurityDescriptor(text, holder);
    const SIZE_T before = PrivateBytes();
    for (int i = 0; i < 20000; ++i) AccessControl::ConvertSddlToSecurityDescriptor(text, holder);
    for (int i = 0; i < 20000; ++i) ASSERT_TRUE(IsValidSddl(text));
    const SIZE_T after = PrivateBytes();
    EXPECT_LT(after, before + 1024 * 1024) << "grew by " << (after - before) << " bytes";
}

TEST(AccessControlTest, DefaultsLogTheirEntryAndExit) {
    TempDir dir(L"sddl");
    const std::wstring path = dir / L"install.log";
    InitializeLog(path);
    GetDefaultOASSecurityDescriptor();
    GetDefaultConfigSecurityDescriptor();
    UninitializeLog(path);

    const std::wstring log = ReadLogText(path);
    for (const wchar_t* line : { L"Entered function GetDefaultOASSecurityDescriptor", L"Exiting function GetDefaultOASSecurityDescriptor",
                                 L"Entered function GetDefaultConfigSecurityDescriptor", L"Exiting function GetDefaultConfigSecurityDescriptor" }) {
        const size_t at = log.find(line);
        ASSERT_NE(at, std::wstring::npos) << ToUtf8(line);
        // "<time> InstallHelper.cpp: .\InstallHelper: <line>: <message>"
        const size_t recordStart = log.rfind(L"\n", at);
        const std::wstring head = log.substr(recordStart + 1, at - recordStart - 1);
        EXPECT_NE(head.find(L"InstallHelper.cpp: .\\InstallHelper: "), std::wstring::npos) << ToUtf8(head);
    }
}

} // namespace

// Texts of the SDDL grammar's shape reach the system's conversion; others never do (the
// conversion ends the process on some, "C::\x" among them).
TEST(AccessControlTest, OnlyTextsOfTheSddlShapeReachTheConversion) {
    struct Case { const wchar_t* text; bool wellFormed; };
    const Case cases[] = {
        { L"O:BAG:BAD:(D;;0x001F0000;;;AN)(A;;0x001F0000;;;WD)", true },
        { L"D:(A;;GA;;;SY)(A;;GR;;;BA)", true },
        { L"O:S-1-5-32-544G:SYD:PAI(A;OICI;FA;;;BA)S:(AU;SA;FA;;;WD)", true },
        { L"D:", true }, { L"", true },
        { L"D:(XA;;FX;;;WD;(Member_of {SID(BA)}))", true },
        { L"C::\\x", false }, { L"D::", false }, { L"O:BA::", false }, { L"-h C::\\x", false },
        { L"garbage", false }, { L"O:", false }, { L"O:BAO:SY", false }, { L"D:(A;;GA;;;SY", false },
        { L"D:(A;;GA;SY)", false }, { L"D:(A;;GA;;;SY)x", false }, { L"D:(A;;GA;;;SY))", false },
        { L"O:B A", false }, { L"D:(A;;GA;;;SY)\t", false }, { L"D:(A;;GA;;;\u00e9)", false },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.wellFormed, IsWellFormedSddl(c.text)) << ToUtf8(c.text);
        if (!c.wellFormed) EXPECT_FALSE(IsValidSddl(c.text)) << ToUtf8(c.text);
    }
}
