#include <gtest/gtest.h>

#include "engine/IInstallable.h"
#include "engine/InstallContext.h"

namespace {

const ExpansionValues kValues{ L"C:\\Inst", L"D:\\Content", L"C:\\windows\\system32\\", L"O:BAG:BA", L"O:SY" };

TEST(VariableExpansion, ReplacesOnlyOneLeadingVariableCaseSensitively) {
    struct Case { const wchar_t* text; const wchar_t* expected; };
    const Case cases[] = {
        { L"$INSTALL_PATH", L"C:\\Inst" },
        { L"$INSTALL_PATH\\a.dll", L"C:\\Inst\\a.dll" },
        { L"$CONTENT_PATHx", L"D:\\Contentx" },
        { L"$SYSTEM_DIR\\drivers", L"C:\\windows\\system32\\\\drivers" },
        { L"$REALTIME_SCAN_SD", L"O:BAG:BA" },
        { L"$CONFIG_SD", L"O:SY" },
        { L"x$INSTALL_PATH", L"x$INSTALL_PATH" },
        { L"$install_path", L"$install_path" },
        { L"$INSTALL_PATH$CONTENT_PATH", L"C:\\Inst$CONTENT_PATH" },
        { L"$INSTALL_PAT", L"$INSTALL_PAT" },
        { L"", L"" },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExpandLeadingVariable(c.text, kValues), c.expected) << "text: " << testing::PrintToString(std::wstring(c.text));
    }
}

TEST(VariableExpansion, ExpandsOnceWhenCalledTwiceOnTheSameString) {
    ResetInstallContext();
    InstallContext().installDirectory = L"C:\\Inst";
    IInstallable element;
    std::wstring text = L"$INSTALL_PATH\\bin";
    element.ReplaceEnvVariable(text);
    element.ReplaceEnvVariable(text);
    EXPECT_EQ(text, L"C:\\Inst\\bin");
    ResetInstallContext();
}

TEST(PlatformFilter, SkipsOnlyElementsMeantForAnotherKnownArchitecture) {
    struct Case { const wchar_t* platform; const wchar_t* running; bool expected; };
    const Case cases[] = {
        { L"x64", L"x64", true }, { L"x64", L"x86", false }, { L"x64", L"ia64", false },
        { L"x86", L"x64", false }, { L"x86", L"x86", true }, { L"ia64", L"x64", false },
        { L"", L"x64", true }, { L"arm", L"x64", true }, { L"x86", L"Unknown architecture", true },
        { L"X86", L"x64", true },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PlatformMatches(c.platform, c.running), c.expected)
            << testing::PrintToString(std::wstring(c.platform)) << " on " << testing::PrintToString(std::wstring(c.running));
    }
}

TEST(PlatformFilter, RunningArchitectureIsX64AndElementsStartWithIt) {
    EXPECT_EQ(RunningArchitectureName(), L"x64");
    IInstallable element;
    EXPECT_EQ(element.Platform(), L"x64");
    EXPECT_EQ(element.SystemDirectory().back(), L'\\');
}

} // namespace
