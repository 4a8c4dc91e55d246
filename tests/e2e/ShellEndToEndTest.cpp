// installer.exe as an administrator meets it before any action runs: the usage text, the exit
// codes of help and rejected command lines, the log file around a document that does not load,
// and command lines that must not bring the program down.
#include <gtest/gtest.h>
#include <cwctype>

#include <windows.h>
#include <cwchar>
#include <iterator>
#include <string>
#include <vector>

#include "support/LogReader.h"
#include "support/Process.h"
#include "support/TestFiles.h"

namespace {

const wchar_t kUsage[] =
    L"\nsyntax: installer.exe [<switch>...] -x <xmlconfig>"
    L"\nvalid switches:"
    L"\n  -i\tInstall Tarnex."
    L"\n  -iu\tUpgrade Install Tarnex."
    L"\n  -r\tRepair Tarnex."
    L"\n  -d\tInstall Directory."
    L"\n  -q\tQuarantine Directory path."
    L"\n  -u\tUninstall Tarnex."
    L"\n  -x\t<xmlconfig for Binary installation>"
    L"\n  -s\t<xmlconfig for Configuration>"
    L"\n  -c\t<Content Path>"
    L"\n  -l\t<Log File Path>"
    L"\n  -sd1\tSecurity Descriptor (in SDDL format) for verifying Realtime Scanning clients"
    L"\n  -sd2\tSecurity Descriptor (in SDDL format) for verifying Configuration clients"
    L"\n  -vi\tVerify whether installation/repair was successful."
    L"\n  -h\tShow this help information\n"
    L"\n  -w\tWait for service to start after install\n"
    L"\n  Usage for Install    : Installer -i -x <xmlconfig for binaries> -s <xmlconfig for policies> -d <Install Directory> -c <Content Path> -sd1 <SD for Realtime Scanning clients> -sd2 <SD for Configuration clients>"
    L"\n  Usage for Repair     : Installer -r -x <xmlconfig for binaries> -s <xmlconfig for policies> -d <Install Directory> -c <Content Path> -sd1 <SD for Realtime Scanning clients> -sd2 <SD for Configuration clients>"
    L"\n  Usage for Upgrade    : Installer -iu -x <xmlconfig for binaries> -s <xmlconfig for policies> -c <Content Path> -sd1 <SD for Realtime Scanning clients> -sd2 <SD for Configuration clients>"
    L"\n  Usage for UnInstall  : Installer -u -x <xmlconfig for binaries>";

const wchar_t kRule[] = L"###**********************************************************************************";

// A well-formed installation document that its schema rejects: a required attribute missing and
// an element the schema does not declare.
const wchar_t kInvalidDocument[] =
    L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    L"<Package schemaVersion=\"1.0\"><Bogus/></Package>\n";

// The message of every record ("<time> InstallHelper.cpp: <source>: <line>: <message>"), and
// the number of byte-order marks seen.
struct Log {
    std::vector<std::wstring> messages;
    std::vector<std::wstring> sources;
    size_t byteOrderMarks = 0;
};

Log ReadLog(const std::wstring& path) {
    Log log;
    const std::wstring text = ReadLogText(path);
    for (wchar_t c : text) log.byteOrderMarks += c == 0xFEFF;
    for (std::wstring record : LogRecords(text)) {
        if (!record.empty() && record[0] == 0xFEFF) record.erase(0, 1);
        const LogRecord parts = ParseLogRecord(record);
        log.sources.push_back(parts.parsed ? parts.source : L"?");
        log.messages.push_back(parts.message);
    }
    return log;
}

class ShellEndToEndTest : public ::testing::Test {
protected:
    ProcessResult Run(const std::vector<std::wstring>& arguments) {
        ProcessResult result = RunProgram(InstallerPath(), arguments);
        EXPECT_TRUE(result.started) << "start error " << result.startError;
        return result;
    }

    // An install command line for `document` with the log in `log`.
    std::vector<std::wstring> InstallArguments(const std::wstring& document, const std::wstring& log) const {
        return { L"-i", L"-x", document, L"-d", dir_ / L"Inst", L"-c", dir_ / L"Content", L"-l", log };
    }

    void ExpectBannerAndClosing(const Log& log, const std::wstring& result) {
        ASSERT_GE(log.messages.size(), 8u);
        const std::vector<std::wstring> banner(log.messages.begin(), log.messages.begin() + 5);
        const std::vector<std::wstring> expectedBanner = {
            L"", L"", kRule, L"Beginning Tarnex Installation/Uninstallation sequence", kRule
        };
        EXPECT_EQ(banner, expectedBanner);
        const std::vector<std::wstring> closing(log.messages.end() - 3, log.messages.end());
        const std::vector<std::wstring> expectedClosing = {
            kRule, L"Completed Tarnex Installation/Uninstallation sequence with result " + result + L"\n", kRule
        };
        EXPECT_EQ(closing, expectedClosing);
        for (size_t i : { size_t(0), log.messages.size() - 1 }) EXPECT_EQ(log.sources[i], L".\\Main");
    }

    TempDir dir_{ L"shell" };
};

TEST_F(ShellEndToEndTest, NoArgumentsPrintsTheUsageAndReturnsInvalidParameterWithoutALog) {
    ProcessResult result = Run({});
    EXPECT_EQ(result.exitCode, 87u);
    EXPECT_EQ(result.OutputText(), kUsage);

    // Rejected for the missing -x: the log named with -l is never written.
    const std::wstring log = dir_ / L"install.log";
    result = Run({ L"-i", L"-d", L"dir", L"-c", L"content", L"-l", log });
    EXPECT_EQ(result.exitCode, 87u);
    EXPECT_EQ(result.OutputText(), kUsage);
    EXPECT_FALSE(FileExists(log));
}

TEST_F(ShellEndToEndTest, HelpPrintsTheUsageAndSucceeds) {
    const std::wstring log = dir_ / L"help.log";
    for (const std::vector<std::wstring>& arguments : { std::vector<std::wstring>{ L"-h" },
                                                         std::vector<std::wstring>{ L"/H", L"-u", L"-i", L"-l", log } }) {
        const ProcessResult result = Run(arguments);
        EXPECT_EQ(result.exitCode, 0u);
        EXPECT_EQ(result.OutputText(), kUsage);
    }
    EXPECT_FALSE(FileExists(log));
}

TEST_F(ShellEndToEndTest, NoActionSwitchReturnsInvalidParameterSilently) {
    const std::wstring document = dir_ / L"package.xml";
    ASSERT_TRUE(WriteTextFile(document, kInvalidDocument));
    const std::wstring log = dir_ / L"install.log";
    const ProcessResult result = Run({ L"-x", document, L"-l", log });
    EXPECT_EQ(result.exitCode, 87u);
    EXPECT_EQ(result.output, "");
    EXPECT_FALSE(FileExists(log));
}

TEST_F(ShellEndToEndTest, DocumentThatFailsValidationOrIsMissingEndsWithXmlParseError) {
    const std::wstring invalid = dir_ / L"invalid.xml";
    ASSERT_TRUE(WriteTextFile(invalid, kInvalidDocument));
    const std::wstring missing = dir_ / L"missing.xml";
    for (const std::wstring& document : { invalid, missing }) {
        const std::wstring logPath = dir_ / (document == invalid ? L"invalid.log" : L"missing.log");
        const ProcessResult result = Run(InstallArguments(document, logPath));
        EXPECT_EQ(result.exitCode, 1465u) << ToUtf8(document);
        EXPECT_EQ(result.output, "");

        const std::string bytes = ReadFileBytes(logPath);
        ASSERT_GE(bytes.size(), 2u);
        EXPECT_EQ(bytes.substr(0, 2), std::string("\xFF\xFE", 2));
        const Log log = ReadLog(logPath);
        ExpectBannerAndClosing(log, L"0x5b9");
        const std::wstring failure = L"Failed to deserialize " + document + L". Error message : ";
        size_t failures = 0;
        for (size_t i = 0; i < log.messages.size(); ++i) {
            if (log.messages[i].rfind(failure, 0) == 0) {
                ++failures;
                EXPECT_EQ(log.sources[i], L".\\Main");
            }
        }
        EXPECT_EQ(failures, 1u) << ToUtf8(document);
        EXPECT_FALSE(DirectoryExists(dir_ / L"Inst")) << "nothing was installed";
    }
}

TEST_F(ShellEndToEndTest, TwoRunsAppendToOneLogWithASecondByteOrderMark) {
    const std::wstring document = dir_ / L"missing.xml";
    const std::wstring logPath = dir_ / L"logs\\deeper\\install.log";
    ASSERT_EQ(Run(InstallArguments(document, logPath)).exitCode, 1465u);
    const size_t firstRun = ReadLog(logPath).messages.size();
    ASSERT_EQ(Run(InstallArguments(document, logPath)).exitCode, 1465u);

    const Log log = ReadLog(logPath);
    EXPECT_EQ(log.byteOrderMarks, 2u);
    ASSERT_EQ(log.messages.size(), 2 * firstRun);
    const std::wstring text = ReadLogText(logPath);
    const size_t second = text.find(wchar_t(0xFEFF), 1);
    ASSERT_NE(second, std::wstring::npos);
    EXPECT_EQ(text.substr(second - 2 - wcslen(kRule), wcslen(kRule) + 2), std::wstring(kRule) + L"\r\n")
        << "the second run starts right after the first run's last record";
    const Log secondRun{ std::vector<std::wstring>(log.messages.begin() + firstRun, log.messages.end()),
                         std::vector<std::wstring>(log.sources.begin() + firstRun, log.sources.end()), 1 };
    ExpectBannerAndClosing(secondRun, L"0x5b9");
}

TEST_F(ShellEndToEndTest, LogDirectoryThatCannotBeCreatedLeavesTheRunWithoutALog) {
    const std::wstring blocker = dir_ / L"blocker";
    ASSERT_TRUE(WriteFileBytes(blocker, "not a directory"));
    const std::wstring logPath = blocker + L"\\sub\\install.log";
    const ProcessResult result = Run(InstallArguments(dir_ / L"missing.xml", logPath));
    EXPECT_EQ(result.exitCode, 1465u);
    EXPECT_FALSE(FileExists(logPath));
    EXPECT_EQ(ReadFileBytes(blocker), "not a directory");
}

TEST_F(ShellEndToEndTest, HostileCommandLinesAreRejectedWithoutACrash) {
    const std::wstring lone(1, wchar_t(0xD800));
    const std::wstring trailing(1, wchar_t(0xDC00));
    const std::wstring longText(10000, L'a');
    const std::vector<std::vector<std::wstring>> cases = {
        { longText },
        { L"-" + longText },
        { L"", L"" },
        { L"", L"-i", L"", L"-x", L"" },
        { lone },
        { L"-" + lone, L"/" + trailing + L":x" },
        { L"-i", L"-x", lone + L"doc.xml" + trailing },
        { L"-i", L"-x", L"-" + longText, L"-d", L"d", L"-c", L"c" },
        { L"-i", L"-x", L"doc.xml", L"-d", L"d", L"-c", L"c", L"-sd1", std::wstring(10000, L'(') },
        { L"-i", L"-x", L"doc.xml", L"-d", L"d", L"-c", L"c", L"-sd2", L"O:BAG:BAD:(A;;GA;;;" + lone + L")" },
        { L"-l", longText, L"-l", lone },
        // Texts on which the system's SDDL conversion ends the process.
        { L"-i", L"-x", L"doc.xml", L"-d", L"d", L"-c", L"c", L"-sd1", L"C::\\x" },
        { L"-vi", L"-x", L"doc.xml", L"-d", L"d", L"-c", L"c", L"-sd2", L"D::" },
    };
    for (const auto& arguments : cases) {
        const ProcessResult result = Run(arguments);
        std::string name;
        for (const std::wstring& argument : arguments) name += "[" + ToUtf8(argument.substr(0, 20)) + "]";
        EXPECT_EQ(result.exitCode, 87u) << name;
        EXPECT_EQ(result.OutputText(), kUsage) << name;
    }
}

// A -l that names one of the run's own documents (in another letter case) gets no log file: the
// documents stay byte for byte as they were, and a second run reads them as the first did.
TEST_F(ShellEndToEndTest, LogNamingAnInputDocumentLeavesTheDocumentsUnchanged) {
    const std::wstring document = dir_ / L"Package.xml";
    const std::wstring policies = dir_ / L"Policies.xml";
    const std::string documentText =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Package schemaVersion=\"1.0\" TarnexVersion=\"1.0.0.1\">"
        "<Feature tag=\"Core\"/></Package>\n";
    const std::string policiesText =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Configuration schemaVersion=\"1.1\"/>\n";
    ASSERT_TRUE(WriteFileBytes(document, documentText));
    ASSERT_TRUE(WriteFileBytes(policies, policiesText));
    auto upper = [](std::wstring text) {
        for (auto& c : text) c = static_cast<wchar_t>(::towupper(c));
        return text;
    };
    for (const std::wstring& log : { upper(document), policies }) {
        const std::vector<std::wstring> arguments = { L"-vi", L"-x", document, L"-s", policies, L"-d", dir_ / L"Inst",
                                                      L"-c", dir_ / L"Content", L"-l", log };
        const ProcessResult first = Run(arguments);
        const ProcessResult second = Run(arguments);
        EXPECT_EQ(documentText, ReadFileBytes(document)) << ToUtf8(log);
        EXPECT_EQ(policiesText, ReadFileBytes(policies)) << ToUtf8(log);
        EXPECT_EQ(first.exitCode, second.exitCode) << ToUtf8(log);
        EXPECT_NE(first.exitCode, 1465u) << ToUtf8(log);
    }
}

TEST_F(ShellEndToEndTest, OddDocumentPathsEndWithXmlParseErrorWithoutACrash) {
    const std::wstring logPath = dir_ / L"odd.log";
    const std::wstring paths[] = {
        dir_ / std::wstring(10000, L'p'),
        dir_ / (std::wstring(L"doc") + wchar_t(0xD800) + L".xml"),
        dir_.Path(),
    };
    for (const std::wstring& path : paths) {
        const ProcessResult result = Run(InstallArguments(path, logPath));
        EXPECT_EQ(result.exitCode, 1465u) << ToUtf8(path.substr(0, 60));
    }
    EXPECT_EQ(ReadLog(logPath).byteOrderMarks, std::size(paths));
}

} // namespace
