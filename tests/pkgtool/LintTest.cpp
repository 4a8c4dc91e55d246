// pkgtool lint on a small package laid out per test: clean as built, and each fault found as one
// line naming the document, the element's line, what is wrong and how to fix it, with exit 1.
#include <gtest/gtest.h>
#include <functional>
#include <map>
#include "pkgtool/PkgtoolRun.h"
#include "shell/Handles.h"
#include "support/Hex.h"
#include "support/LogReader.h"
#include "support/Process.h"
#include "support/Strings.h"
#include "support/TestFiles.h"

namespace {

const wchar_t kInf[] =
    L"[Version]\r\nSignature = \"$Windows NT$\"\r\nCatalogFile = tnxflt.cat\r\n"
    L"[DefaultInstall]\r\nAddReg = NvxAddReg\r\n[DefaultInstall.NTamd64]\r\nAddReg = NvxAddReg\r\n"
    L"[DefaultInstall.Services]\r\nAddService = tnxflt,,Filter.Service\r\n"
    L"[DefaultInstall.NTamd64.Services]\r\nAddService = tnxflt,,Filter.Service\r\n"
    L"[DefaultUninstall]\r\nDelReg = NvxAddReg\r\n[DefaultUninstall.NTamd64]\r\nDelReg = NvxAddReg\r\n"
    L"[DefaultUninstall.Services]\r\nDelService = tnxflt\r\n"
    L"[DefaultUninstall.NTamd64.Services]\r\nDelService = tnxflt\r\n"
    L"[Filter.Service]\r\nServiceType = 1\r\nStartType = 3\r\nErrorControl = 1\r\nServiceBinary = %12%\\tnxflt.sys\r\n"
    L"[NvxAddReg]\r\nHKLM,%Params%,Altitude,0x00000000,\"328010\"\r\n"
    L"[Strings]\r\nParams = \"SYSTEM\\CurrentControlSet\\Services\\tnxflt\\Parameters\"\r\n";

// The document; "@name@" stands for the digest of the payload file `name`.
const wchar_t kDocument[] =
    L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    L"<Package schemaVersion=\"1.1\" TarnexVersion=\"1.0.0.7\">\n"
    L"  <Feature tag=\"Core\">\n"
    L"    <Driver>\n"
    L"      <InfFile sha256=\"@tnxflt.inf@\">tnxflt.inf</InfFile>\n"
    L"      <SysFile sha256=\"@tnxflt.sys@\">tnxflt.sys</SysFile>\n"
    L"    </Driver>\n"
    L"    <FileOperation operation=\"copy\" source=\"bin\" sha256=\"@bin\\engine.dll@\">engine.dll</FileOperation>\n"
    L"    <FileOperation operation=\"copy\" source=\"bin\" sha256=\"@bin\\tnxsvc.exe@\">tnxsvc.exe</FileOperation>\n"
    L"    <FileOperation operation=\"copy\" source=\"data\" destination=\"$INSTALL_PATH\\data\"\n"
    L"                   sha256=\"@data\\rules.dat@\">rules.dat</FileOperation>\n"
    L"    <!-- Meant for 32-bit machines only: this machine never reads it. -->\n"
    L"    <FileOperation operation=\"copy\" platform=\"x86\" source=\"x86\" sha256=\"@tnxflt.sys@\">engine32.dll</FileOperation>\n"
    L"    <DirectoryOperation operation=\"create\">$INSTALL_PATH\\data</DirectoryOperation>\n"
    L"    <RegistryOperation operation=\"create\">\n"
    L"      <RegKey key=\"HKLM\\SOFTWARE\\Norvex\\Coravel\\Engine\">\n"
    L"        <RegValue type=\"DWORD\" name=\"dwLogLevel\" data=\"4\"/>\n"
    L"      </RegKey>\n"
    L"    </RegistryOperation>\n"
    L"    <Service>\n"
    L"      <ServiceFile>tnxsvc.exe</ServiceFile>\n"
    L"      <ServiceName>TarnexEngine</ServiceName>\n"
    L"      <DisplayName>Tarnex</DisplayName>\n"
    L"      <Description>Engine</Description>\n"
    L"      <DependOnService></DependOnService>\n"
    L"      <Start>3</Start>\n"
    L"      <FailureRestart><ResetPeriod>0</ResetPeriod><RestartCount>0</RestartCount><RestartDelay>0</RestartDelay></FailureRestart>\n"
    L"    </Service>\n"
    L"  </Feature>\n"
    L"</Package>\n";

const wchar_t kConfiguration[] =
    L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    L"<Configuration schemaVersion=\"1.1\">\n"
    L"  <OASPolicy key=\"DEFAULT\">\n"
    L"    <AV_POLICY_TIMEOUT>45</AV_POLICY_TIMEOUT>\n"
    L"    <AV_POLICY_EXCLUSION_FILE>\n"
    L"      <Exclusion><Flags>0</Flags><Type>0</Type><NumDays>30</NumDays></Exclusion>\n"
    L"      <Exclusion>\n"
    L"        <Flags>1</Flags><Type>4</Type><Pattern>tmp</Pattern>\n"
    L"      </Exclusion>\n"
    L"    </AV_POLICY_EXCLUSION_FILE>\n"
    L"  </OASPolicy>\n"
    L"</Configuration>\n";

std::wstring Replaced(std::wstring text, const std::wstring& from, const std::wstring& to) {
    const size_t at = text.find(from);
    if (at != std::wstring::npos) text.replace(at, from.size(), to);
    return text;
}

class LintTest : public testing::Test {
public:
    void SetUp() override { Reset(); }

    // A fresh package folder with a clean payload, and the documents as written above.
    void Reset() {
        held_.reset();
        root_ = std::make_unique<TempDir>(L"lint");
        package_ = *root_ / L"Tarnex Package";
        ASSERT_TRUE(::CreateDirectoryW(package_.c_str(), nullptr));
        for (const wchar_t* folder : {L"bin", L"data"}) ASSERT_TRUE(::CreateDirectoryW(Payload(folder).c_str(), nullptr));
        ASSERT_TRUE(::CopyFileW(Fixture(L"pkgtool_versioned.dll").c_str(), Payload(L"bin\\engine.dll").c_str(), FALSE));
        ASSERT_TRUE(::CopyFileW(Fixture(L"pkgtool_versioned.dll").c_str(), Payload(L"bin\\tnxsvc.exe").c_str(), FALSE));
        ASSERT_TRUE(WriteTextFile(Payload(L"data\\rules.dat"), L"rules"));
        ASSERT_TRUE(WriteTextFile(Payload(L"tnxflt.inf"), kInf));
        ASSERT_TRUE(::CopyFileW(Fixture(L"pkgtool_versioned.dll").c_str(), Payload(L"tnxflt.sys").c_str(), FALSE));
        ASSERT_TRUE(WriteTextFile(Payload(L"tnxflt.cat"), L"catalog stand-in"));
        document_ = kDocument;
        configuration_ = kConfiguration;
    }

    static std::wstring Fixture(const std::wstring& name) { return TestProgramDirectory() + L"pkgtool-fixtures\\" + name; }
    std::wstring Payload(const std::wstring& relative) const { return package_ + L"\\" + relative; }
    std::wstring DocumentPath() const { return Payload(L"package.xml"); }
    std::wstring ConfigurationPath() const { return *root_ / L"configuration.xml"; }

    // The document with the digests of the payload as it is now.
    std::wstring FilledDocument() const {
        std::wstring text = document_;
        for (size_t open = text.find(L'@'); open != std::wstring::npos; open = text.find(L'@')) {
            const size_t close = text.find(L'@', open + 1);
            const std::wstring name = text.substr(open + 1, close - open - 1);
            text.replace(open, close - open + 1, Sha256Text(ReadFileBytes(Payload(name))));
        }
        return text;
    }

    // Writes both documents, the package's digests taken now.
    void WriteDocuments() {
        written_ = FilledDocument();
        ASSERT_TRUE(WriteTextFile(DocumentPath(), written_));
        ASSERT_TRUE(WriteTextFile(ConfigurationPath(), configuration_));
    }

    ToolRun Lint() {
        WriteDocuments();
        return RunPkgtool({L"lint", DocumentPath(), L"--config", ConfigurationPath()});
    }

    std::unique_ptr<TempDir> root_;
    std::wstring package_;
    std::wstring document_;        // "@name@" for the digest of payload file name
    std::wstring configuration_;
    std::wstring written_;         // the document as last written
    UniqueFileHandle held_;        // a payload file another program holds open without sharing
};

TEST_F(LintTest, PackageAsBuiltIsClean) {
    const ToolRun run = Lint();
    EXPECT_EQ(0u, run.exitCode) << run.Describe();
    EXPECT_TRUE(run.output.empty()) << run.Describe();
}

struct FaultCase {
    const char* name;
    std::function<void(LintTest&)> before;         // breaks the package before the digests are taken
    std::function<void(LintTest&)> afterDigests;   // breaks it after the document is written
    std::wstring marker;                           // text at the start of the faulty element
    bool inConfiguration;                          // the finding names the configuration document
    std::vector<std::wstring> expected;            // parts of the one finding line
};

void WriteInf(LintTest& t, const std::wstring& cut) { ASSERT_TRUE(WriteTextFile(t.Payload(L"tnxflt.inf"), Replaced(kInf, cut, L""))); }

TEST_F(LintTest, EachFaultIsOneLineNamingTheElementsLineWithExitOne) {
    const std::wstring edited = Sha256Text("rules, edited");
    const FaultCase cases[] = {
        {"wrong digest", nullptr,
         [](LintTest& t) { ASSERT_TRUE(WriteTextFile(t.Payload(L"data\\rules.dat"), L"rules, edited")); },
         L"<FileOperation operation=\"copy\" source=\"data\"", false,
         {L"FileOperation \"rules.dat\": wrong digest: data\\rules.dat has SHA-256 " + edited, L"Fix: set sha256=\"" + edited + L"\""}},
        {"missing file", nullptr, [](LintTest& t) { ASSERT_TRUE(::DeleteFileW(t.Payload(L"data\\rules.dat").c_str())); },
         L"<FileOperation operation=\"copy\" source=\"data\"", false, {L"FileOperation \"rules.dat\": missing file: data\\rules.dat"}},
        {"file another program holds", nullptr,
         [](LintTest& t) {
             t.held_.reset(::CreateFileW(t.Payload(L"data\\rules.dat").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
             ASSERT_TRUE(t.held_);
         },
         L"<FileOperation operation=\"copy\" source=\"data\"", false,
         {L"FileOperation \"rules.dat\": unreadable file: data\\rules.dat cannot be read (error 32"}},
        {"missing INF section", [](LintTest& t) { WriteInf(t, L"[DefaultUninstall.NTamd64.Services]\r\nDelService = tnxflt\r\n"); },
         nullptr, L"<InfFile", false,
         {L"InfFile \"tnxflt.inf\": missing INF section: tnxflt.inf has no [DefaultUninstall.NTamd64.Services]",
          L"Fix: add [DefaultUninstall.NTamd64.Services] to tnxflt.inf"}},
        {"NvxAddReg named but missing", [](LintTest& t) { WriteInf(t, L"[NvxAddReg]\r\nHKLM,%Params%,Altitude,0x00000000,\"328010\"\r\n"); },
         nullptr, L"<InfFile", false, {L"names [NvxAddReg] but does not have it"}},
        {"NvxAddReg line verify cannot read", [](LintTest& t) { WriteInf(t, L",0x00000000,\"328010\""); },
         nullptr, L"<InfFile", false, {L"NvxAddReg line \"HKLM,%Params%,Altitude\" has fewer than the five fields"}},
        {"INF without CatalogFile", [](LintTest& t) { WriteInf(t, L"CatalogFile = tnxflt.cat\r\n"); },
         nullptr, L"<InfFile", false, {L"no catalog: [Version] of tnxflt.inf has no CatalogFile entry"}},
        {"missing catalog", [](LintTest& t) { ASSERT_TRUE(::DeleteFileW(t.Payload(L"tnxflt.cat").c_str())); },
         nullptr, L"<InfFile", false, {L"missing catalog: tnxflt.inf names the catalog tnxflt.cat"}},
        {"executable image with a four-field version",
         [](LintTest& t) {
             ASSERT_TRUE(::CopyFileW(LintTest::Fixture(L"pkgtool_four_fields.dll").c_str(), t.Payload(L"bin\\engine.dll").c_str(), FALSE));
         },
         nullptr, L"<FileOperation operation=\"copy\" source=\"bin\" sha256", false,
         {L"FileOperation \"engine.dll\": no usable version: the FileVersion text \"1.2.0.7\" of bin\\engine.dll has fewer than six fields",
          L"an upgrade will never replace this file"}},
        {"executable image without a version resource",
         [](LintTest& t) { ASSERT_TRUE(WriteTextFile(t.Payload(L"bin\\tnxsvc.exe"), L"not an image")); },
         nullptr, L">tnxsvc.exe</FileOperation>", false,
         {L"FileOperation \"tnxsvc.exe\": no usable version: bin\\tnxsvc.exe has no version resource",
          L"an upgrade will never replace this file"}},
        {"driver image without a usable version",
         [](LintTest& t) { ASSERT_TRUE(WriteTextFile(t.Payload(L"tnxflt.sys"), L"driver image stand-in")); },
         nullptr, L"<SysFile", false,
         {L"SysFile \"tnxflt.sys\": no usable version: tnxflt.sys has no version resource", L"an upgrade will never replace this file"}},
        {"no driver file named after the INF",
         [](LintTest& t) {
             ASSERT_TRUE(::CopyFileW(t.Payload(L"tnxflt.sys").c_str(), t.Payload(L"filter.sys").c_str(), FALSE));
             t.document_ = Replaced(t.document_, L"<SysFile sha256=\"@tnxflt.sys@\">tnxflt.sys", L"<SysFile sha256=\"@filter.sys@\">filter.sys");
         },
         nullptr, L"<InfFile", false,
         {L"InfFile \"tnxflt.inf\": no driver file named after the INF: an upgrade compares the version of tnxflt.sys"}},
        {"exclusion text that does not parse",
         [](LintTest& t) { t.configuration_ = Replaced(t.configuration_, L"<Pattern>tmp</Pattern>", L""); },
         nullptr, L"<Exclusion>\n        <Flags>1", true,
         {L"Exclusion of AV_POLICY_EXCLUSION_FILE: the exclusion text \"4|1|\" does not parse (InValid Parameter for Exclusion List)",
          L"the install ends with 0xA7F40209"}},
        {"registry key outside the engine's roots",
         [](LintTest& t) { t.document_ = Replaced(t.document_, L"key=\"HKLM\\", L"key=\"HKEY_LOCAL_MACHINE\\"); },
         nullptr, L"<RegKey", false,
         {L"RegKey \"HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvex\\Coravel\\Engine\": the key is not under HKLM, HKCR, HKCC, HKU or HKCU"}},
        {"registry key that is a whole root",
         [](LintTest& t) { t.document_ = Replaced(t.document_, L"key=\"HKLM\\SOFTWARE\\Norvex\\Coravel\\Engine\"", L"key=\"HKCU\\\""); },
         nullptr, L"<RegKey", false, {L"RegKey \"HKCU\\\": the key names a whole root"}},
        {"service file no element installs",
         [](LintTest& t) { t.document_ = Replaced(t.document_, L"<ServiceFile>tnxsvc.exe", L"<ServiceFile>bin\\tnxsvc.exe"); },
         nullptr, L"<Service>", false,
         {L"Service \"TarnexEngine\": missing service file: no FileOperation of this feature installs bin\\tnxsvc.exe"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(Reset());
        if (c.before) {
            ASSERT_NO_FATAL_FAILURE(c.before(*this));
        }
        ASSERT_NO_FATAL_FAILURE(WriteDocuments());
        if (c.afterDigests) {
            ASSERT_NO_FATAL_FAILURE(c.afterDigests(*this));
        }
        const ToolRun run = RunPkgtool({L"lint", DocumentPath(), L"--config", ConfigurationPath()});
        EXPECT_EQ(1u, run.exitCode) << run.Describe();
        const auto lines = run.Lines();
        ASSERT_EQ(1u, lines.size()) << run.Describe();
        const std::wstring& line = lines[0];
        const long expectedLine = LineOfMarker(c.inConfiguration ? configuration_ : written_, c.marker);
        ASSERT_NE(0, expectedLine);
        const std::wstring file = c.inConfiguration ? ConfigurationPath() : DocumentPath();
        EXPECT_EQ(0u, line.find(file + L"(" + std::to_wstring(expectedLine) + L"): ")) << ToUtf8(line);
        for (const auto& part : c.expected) EXPECT_TRUE(Contains(line, part)) << ToUtf8(line) << "\nlacks: " << ToUtf8(part);
        EXPECT_TRUE(Contains(line, L". Fix: ")) << ToUtf8(line);
    }
}

TEST_F(LintTest, SchemaViolationCarriesTheReasonInstallerGivesForTheSameDocument) {
    document_ = Replaced(document_, L"<FileOperation operation=\"copy\" source=\"bin\"", L"<FileOperation mode=\"fast\" operation=\"copy\" source=\"bin\"");
    const ToolRun run = Lint();
    EXPECT_EQ(1u, run.exitCode) << run.Describe();
    const auto lines = run.Lines();
    ASSERT_EQ(1u, lines.size()) << run.Describe();

    const std::wstring log = *root_ / L"installer.log";
    const ProcessResult installer = RunProgram(InstallerPath(), {L"-vi", L"-x", DocumentPath(), L"-d", *root_ / L"Inst",
                                                                 L"-c", *root_ / L"Content", L"-l", log});
    EXPECT_EQ(static_cast<DWORD>(ERROR_XML_PARSE_ERROR), installer.exitCode);
    const std::wstring marker = L"Error message : ";
    const std::wstring text = ReadLogText(log);
    const size_t at = text.find(marker);
    ASSERT_NE(std::wstring::npos, at) << ToUtf8(text);
    std::wstring reason = text.substr(at + marker.size(), text.find(L"\r\n", at) - at - marker.size());
    while (!reason.empty() && (reason.back() == L' ' || reason.back() == L'.')) reason.pop_back();
    ASSERT_FALSE(reason.empty());
    EXPECT_EQ(0u, lines[0].find(DocumentPath() + L": installer.exe refuses the document with 1465: " + reason))
        << ToUtf8(lines[0]) << "\ninstaller: " << ToUtf8(reason);
}

TEST_F(LintTest, ConfigurationThatFailsItsSchemaIsOneFinding) {
    configuration_ = Replaced(configuration_, L"<OASPolicy key=\"DEFAULT\">", L"<OASPolicy key=\"DEFAULT\"><Unknown/>");
    const ToolRun run = Lint();
    EXPECT_EQ(1u, run.exitCode) << run.Describe();
    const auto lines = run.Lines();
    ASSERT_EQ(1u, lines.size()) << run.Describe();
    EXPECT_EQ(0u, lines[0].find(ConfigurationPath() + L": installer.exe refuses the configuration document with 87: "))
        << ToUtf8(lines[0]);
}

TEST_F(LintTest, SeveralFaultsAreEachReportedOnTheirOwnLine) {
    document_ = Replaced(document_, L"@bin\\engine.dll@", std::wstring(64, L'0'));
    ASSERT_TRUE(::DeleteFileW(Payload(L"tnxflt.sys").c_str()));
    const ToolRun run = Lint();
    EXPECT_EQ(1u, run.exitCode) << run.Describe();
    const auto lines = run.Lines();
    ASSERT_EQ(2u, lines.size()) << run.Describe();
    EXPECT_TRUE(Contains(lines[0], L"SysFile \"tnxflt.sys\": missing file")) << run.Describe();
    EXPECT_TRUE(Contains(lines[1], L"FileOperation \"engine.dll\": wrong digest")) << run.Describe();
}

TEST(LintCommandLine, BadCommandLinesEndWith87AndTheUsageText) {
    for (const std::vector<std::wstring>& arguments :
         std::vector<std::vector<std::wstring>>{{}, {L"lint"}, {L"lint", L"a.xml", L"--bogus"}, {L"squash", L"x"}}) {
        const ToolRun run = RunPkgtool(arguments);
        EXPECT_EQ(87u, run.exitCode) << run.Describe();
        EXPECT_TRUE(Contains(run.output, L"pkgtool lint <document>")) << run.Describe();
        EXPECT_FALSE(run.errors.empty()) << run.Describe();
    }
    const ToolRun help = RunPkgtool({L"-h"});
    EXPECT_EQ(0u, help.exitCode);
    EXPECT_TRUE(Contains(help.output, L"pkgtool harvest <payload dir>")) << help.Describe();
}

TEST(LintCommandLine, MissingDocumentIsAFindingNotACrash) {
    TempDir dir(L"nodoc");
    const ToolRun run = RunPkgtool({L"lint", dir / L"absent.xml"});
    EXPECT_EQ(1u, run.exitCode) << run.Describe();
    ASSERT_EQ(1u, run.Lines().size()) << run.Describe();
    EXPECT_TRUE(Contains(run.Lines()[0], L"Cannot open")) << run.Describe();
}

} // namespace
