// What main decides from the command line before anything runs: the exit code of help and
// rejected command lines, and the log file it may write (never one of its input documents).
#include <gtest/gtest.h>

#include <windows.h>
#include <string>
#include <vector>

#include "engine/InstallContext.h"
#include "shell/StartDecision.h"
#include "support/TestFiles.h"

namespace {

StartDecision Decide(const std::vector<std::wstring>& arguments) {
    std::vector<const wchar_t*> argv = {L"installer.exe"};
    for (const std::wstring& argument : arguments) argv.push_back(argument.c_str());
    ResetInstallContext();
    const CCommandLineOptions options(static_cast<int>(argv.size()), argv.data());
    return DecideStart(options);
}

TEST(StartDecisionTest, HelpAndRejectedCommandLinesEndBeforeTheMainSequence) {
    struct Case { std::vector<std::wstring> arguments; bool runs; DWORD exitCode; };
    const Case cases[] = {
        { {L"-h"}, false, ERROR_SUCCESS },
        { {L"-i", L"-h", L"stray"}, false, ERROR_SUCCESS },
        { {}, false, ERROR_INVALID_PARAMETER },
        { {L"-x", L"doc.xml"}, false, ERROR_INVALID_PARAMETER },   // no action switch
        { {L"-u", L"-x", L"doc.xml", L"-d", L"dir"}, false, ERROR_INVALID_PARAMETER },
        { {L"-u", L"-x", L"doc.xml"}, true, ERROR_SUCCESS },
    };
    for (const auto& c : cases) {
        const StartDecision decision = Decide(c.arguments);
        EXPECT_EQ(c.runs, decision.runMainSequence) << c.arguments.size();
        if (!c.runs) {
            EXPECT_EQ(c.exitCode, decision.exitCode) << c.arguments.size();
        }
    }
}

// Every spelling that opens the installation or configuration document gives no log file; the
// log would otherwise be appended to the document.
TEST(StartDecisionTest, ALogPathThatOpensAnInputDocumentGivesNoLogFile) {
    TempDir dir(L"start");
    const std::wstring package = dir / L"package.xml";
    const std::wstring configuration = dir / L"configuration.xml";
    ASSERT_TRUE(WriteTextFile(package, L"<Package/>"));
    ASSERT_TRUE(WriteTextFile(configuration, L"<Configuration/>"));
    const std::wstring link = dir / L"linked.xml";
    const bool linked = ::CreateHardLinkW(link.c_str(), package.c_str(), nullptr) != FALSE;

    struct Case { std::wstring document; std::wstring log; bool logged; };
    std::vector<Case> cases = {
        { package, package, false },
        { package, package + L"\\", false },
        { package + L"/", package, false },
        { package + L"\\", package, false },
        { package, dir / L"SUB\\..\\PACKAGE.XML", false },
        { package, configuration, false },
        { package, dir / L"install.log", true },
        { package, dir.Path() + L"\\", true },   // a folder: the log decides it writes nothing there
    };
    if (linked) cases.push_back({ package, link, false });
    for (const auto& c : cases) {
        const StartDecision decision = Decide({L"-u", L"-x", c.document, L"-s", configuration, L"-l", c.log});
        ASSERT_TRUE(decision.runMainSequence) << ToUtf8(c.log);
        EXPECT_EQ(c.logged ? c.log : std::wstring(), decision.logPath) << ToUtf8(c.document) << " / " << ToUtf8(c.log);
    }
    EXPECT_TRUE(linked) << "hard links are not available here: that spelling was not tried";
}

} // namespace
