#include <gtest/gtest.h>

#include "operations/NameRules.h"
#include "OperationsTestSupport.h"

namespace {

TEST(NameRules, RelativeNamesStayBelowTheirFolder) {
    struct Case { const wchar_t* text; bool safe; };
    const Case cases[] = {
        { L"engine.cfg", true }, { L"bin\\tarnexcore.dll", true }, { L"data files\\a b.dat", true },
        { L"Donn\u00e9es\\lisezmoi.txt", true }, { L"", true }, { L"a\\..\\b.dll", true }, { L".\\x.dll", true },
        { L"..\\x.dll", false }, { L"..\\..\\Windows\\x.dll", false }, { L"a\\..\\..\\x.dll", false },
        { L"a/../../x.dll", false },
        { L"C:\\x.dll", false }, { L"C:x.dll", false }, { L"\\x.dll", false }, { L"/x.dll", false },
        { L"\\\\server\\share\\x.dll", false }, { L"a:b", false }, { L"x.dll:stream", false },
        { L"x\".dll", false }, { L"x<.dll", false }, { L"x>.dll", false }, { L"x|.dll", false },
        { L"x?.dll", false }, { L"x*.dll", false }, { L"x\t.dll", false }, { L"x\x1f.dll", false },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.safe, CheckRelativeName(c.text).empty()) << ToUtf8(c.text) << ": " << ToUtf8(CheckRelativeName(c.text));
    }
}

TEST(NameRules, FolderPathsMayBeAbsoluteButNotClimbAboveTheirBase) {
    struct Case { const wchar_t* text; bool safe; };
    const Case cases[] = {
        { L"C:\\ProgramData\\Norvex", true }, { L"$INSTALL_PATH\\logs", true }, { L"$CONTENT_PATH", true },
        { L"\\\\server\\share\\drops", true }, { L"$INSTALL_PATH\\a\\..\\b", true }, { L"", true },
        { L"$INSTALL_PATH\\..", false }, { L"$INSTALL_PATH\\..\\..\\Windows", false }, { L"C:\\..\\x", false },
        { L"\\\\server\\share\\..\\other", false }, { L"..\\x", false },
        { L"C:\\a:b", false }, { L"$INSTALL_PATH\\x|y", false }, { L"C:\\a\"b", false },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.safe, CheckPathText(c.text).empty()) << ToUtf8(c.text) << ": " << ToUtf8(CheckPathText(c.text));
    }
}

} // namespace
