// What administrators rely on beyond a clean install: a failed install puts back exactly what
// was there, an uninstall never empties a folder the engine does not own, a failure is never
// reported as success, and a document's names cannot reach outside their folders.
#include <windows.h>
#include <shlobj.h>
#include <gtest/gtest.h>
#include <ostream>
#include "e2e/PackageFixture.h"

namespace e2e {
namespace {

const wchar_t kSharedKey[] = L"SOFTWARE\\Norvex\\Shared";
const wchar_t kDeepSettingsKey[] = L"SOFTWARE\\Norvex\\Coravel\\Settings\\Deep";

bool Contains(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }

// The paths waiting for the next restart, as one text ("" when none).
std::wstring PendingRenames() {
    const auto entries =
        ReadMultiString(L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", L"PendingFileRenameOperations");
    std::wstring text;
    if (entries) {
        for (const auto& entry : *entries) text += entry + L"\n";
    }
    return text;
}

std::vector<std::wstring> With(std::vector<std::wstring> arguments, std::initializer_list<std::wstring> more) {
    arguments.insert(arguments.end(), more);
    return arguments;
}

struct RollbackCase {
    const char* name;
    const wchar_t* document;
    DWORD expected;
};
void PrintTo(const RollbackCase& c, std::ostream* os) { *os << c.name; }

const RollbackCase kRollbackCases[] = {
    {"ExistingFolder", L"rollback-existing.xml", ERROR_ALREADY_EXISTS},
    {"WrongDigest", L"rollback-digest.xml", ERROR_FILE_CORRUPT},
};

class RollbackTest : public PackageTest, public testing::WithParamInterface<RollbackCase> {};

TEST_P(RollbackTest, PutsBackWhatWasThereAndRemovesOnlyWhatItCreated) {
    // What the machine holds before: a file the first feature overwrites (hidden from listings,
    // as a shared runtime may be), a value it overwrites, and a folder with the user's own file.
    const std::wstring sharedFile = contentDirectory_ + L"\\shared\\tarnexcore.dll";
    ASSERT_EQ(0, ::SHCreateDirectoryExW(nullptr, (contentDirectory_ + L"\\shared").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(sharedFile, "the runtime that was there"));
    ASSERT_TRUE(::SetFileAttributesW(sharedFile.c_str(), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED));
    const DWORD attributesBefore = ::GetFileAttributesW(sharedFile.c_str());
    ASSERT_TRUE(WriteString(kSharedKey, L"szOwner", L"another product"));
    const std::wstring userFolder = contentDirectory_ + L"\\existing data";
    ASSERT_TRUE(::CreateDirectoryW(userFolder.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(userFolder + L"\\notes.txt", "the user's notes"));
    const std::wstring pendingBefore = PendingRenames();

    const ProcessResult result = RunInstaller(InstallArguments(GetParam().document));
    const std::wstring log = LogText();
    ASSERT_EQ(GetParam().expected, result.exitCode) << Describe(result, log);
    EXPECT_TRUE(Contains(log, L"Failed to Install, Starting RollBack.")) << ToUtf8(log);

    EXPECT_EQ("the runtime that was there", ReadFileBytes(sharedFile));
    EXPECT_EQ(attributesBefore, ::GetFileAttributesW(sharedFile.c_str()));
    EXPECT_EQ(std::optional<std::wstring>(L"another product"), ReadString(kSharedKey, L"szOwner"));
    EXPECT_FALSE(ReadDword(kSharedKey, L"dwFresh").has_value());
    EXPECT_EQ("the user's notes", ReadFileBytes(userFolder + L"\\notes.txt"));

    EXPECT_FALSE(KeyExists(kDeepSettingsKey));
    EXPECT_FALSE(KeyExists(L"SOFTWARE\\Norvex\\Coravel")) << "the family key was created by this install";
    EXPECT_FALSE(DirectoryExists(installDirectory_));
    EXPECT_FALSE(DirectoryExists(*root_ / L"Programmes")) << "the install directory's parents were created by it";
    EXPECT_EQ(pendingBefore, PendingRenames());
    EXPECT_FALSE(Contains(log, L"Rollback could not put back")) << ToUtf8(log);
}

INSTANTIATE_TEST_SUITE_P(Install, RollbackTest, testing::ValuesIn(kRollbackCases),
                         [](const testing::TestParamInfo<RollbackCase>& info) { return std::string(info.param.name); });

TEST_F(PackageTest, InstallDirectoryNamingAFileLeavesTheFileAlone) {
    const std::wstring file = *root_ / L"report.txt";
    ASSERT_TRUE(WriteFileBytes(file, "the administrator's report"));
    const std::wstring pendingBefore = PendingRenames();
    installDirectory_ = file;

    const ProcessResult result = RunInstaller(InstallArguments(L"lifecycle.xml"));
    const std::wstring log = LogText();
    EXPECT_NE(0u, result.exitCode) << Describe(result, log);
    EXPECT_EQ("the administrator's report", ReadFileBytes(file));
    EXPECT_EQ(pendingBefore, PendingRenames());
    EXPECT_FALSE(Contains(PendingRenames(), L"report.txt"));
    EXPECT_FALSE(KeyExists(kReferenceKey));
}

TEST_F(PackageTest, UninstallAfterARepairIntoProgramFilesDeletesNothingOfItsOwn) {
    wchar_t programFiles[MAX_PATH] = {};
    ASSERT_TRUE(SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, programFiles)));
    const std::wstring sentinel = std::wstring(programFiles) + L"\\administrator-sentinel.txt";
    ASSERT_TRUE(WriteFileBytes(sentinel, "stays"));

    ASSERT_EQ(0u, RunInstaller(InstallArguments(L"lifecycle.xml")).exitCode) << ToUtf8(LogText());
    installDirectory_ = programFiles;
    const ProcessResult repair = RunInstaller(RepairArguments(L"lifecycle.xml"));
    ASSERT_EQ(0u, repair.exitCode) << Describe(repair, LogText());

    const ProcessResult uninstall = RunInstaller(UninstallArguments(L"lifecycle.xml"));
    const std::wstring log = LogText();
    EXPECT_NE(0u, uninstall.exitCode) << Describe(uninstall, log);
    EXPECT_TRUE(Contains(log, L"Refusing to delete protected directory")) << ToUtf8(log);
    EXPECT_EQ("stays", ReadFileBytes(sentinel));
    EXPECT_TRUE(DirectoryExists(std::wstring(programFiles) + L"\\Common Files"));
    EXPECT_TRUE(KeyExists(kReferenceKey)) << "a failed uninstall keeps the install reference";
    ::DeleteFileW(sentinel.c_str());
}

// The smallest configuration document: one policy value.
const wchar_t kOnePolicy[] = LR"(<?xml version="1.0" encoding="utf-8"?>
<Configuration schemaVersion="1.1">
  <OASPolicy key="DEFAULT">
    <AV_POLICY_TIMEOUT>30</AV_POLICY_TIMEOUT>
  </OASPolicy>
</Configuration>
)";

TEST_F(PackageTest, FailedUninstallWithPoliciesKeepsTheReferenceForARetry) {
    const std::wstring policies = *root_ / L"policies.xml";
    ASSERT_TRUE(WriteTextFile(policies, kOnePolicy));
    ASSERT_EQ(0u, RunInstaller(With(InstallArguments(L"lifecycle.xml"), {L"-s", policies})).exitCode)
        << ToUtf8(LogText());
    {
        // A file of someone else's, held open in the install directory.
        const std::wstring foreign = Installed(L"foreign.log");
        ASSERT_TRUE(WriteFileBytes(foreign, "busy"));
        UniqueFileHandle held = HoldFile(foreign, 0);
        ASSERT_TRUE(held);
        const ProcessResult failed = RunInstaller(With(UninstallArguments(L"lifecycle.xml"), {L"-s", policies}));
        EXPECT_NE(0u, failed.exitCode) << Describe(failed, LogText());
        EXPECT_TRUE(KeyExists(kReferenceKey)) << ToUtf8(LogText());
        EXPECT_EQ(std::optional<std::wstring>(installDirectory_), ReadString(kReferenceKey, L"szInstallPath"));
    }
    const ProcessResult retry = RunInstaller(With(UninstallArguments(L"lifecycle.xml"), {L"-s", policies}));
    const std::wstring log = LogText();
    EXPECT_TRUE(retry.exitCode == 0 || retry.exitCode == ERROR_SUCCESS_REBOOT_REQUIRED) << Describe(retry, log);
    EXPECT_FALSE(KeyExists(kReferenceKey));
}

// A document names a payload file that does not exist: the policy step fails first, and the
// file repair then needs a restart for a file held open.
TEST_F(PackageTest, RepairReportsAnEarlierFailureRatherThanTheRestart) {
    ASSERT_EQ(0u, RunInstaller(InstallArguments(L"lifecycle.xml")).exitCode) << ToUtf8(LogText());
    ASSERT_TRUE(WriteFileBytes(Installed(L"engine.cfg"), "damaged"));
    UniqueFileHandle held = HoldFile(Installed(L"engine.cfg"), FILE_SHARE_READ | FILE_SHARE_DELETE);
    ASSERT_TRUE(held);
    const std::wstring broken = *root_ / L"broken-policies.xml";
    ASSERT_TRUE(WriteTextFile(broken, L"<Configuration>not a configuration</Configuration>"));

    const ProcessResult repair = RunInstaller(With(RepairArguments(L"lifecycle.xml"), {L"-s", broken}));
    const std::wstring log = LogText();
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), repair.exitCode) << Describe(repair, log);
    EXPECT_TRUE(Contains(log, L"Failed to repair policies. Error Code: 87")) << ToUtf8(log);
    EXPECT_TRUE(Contains(log, L"Reboot Required.")) << ToUtf8(log);
}

TEST_F(PackageTest, InstallWithAQuarantinePathThatIsAFileInstallsNothing) {
    const std::wstring file = *root_ / L"quarantine";
    ASSERT_TRUE(WriteFileBytes(file, "not a folder"));
    const ProcessResult result = RunInstaller(With(InstallArguments(L"lifecycle.xml"), {L"-q", file}));
    const std::wstring log = LogText();
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), result.exitCode) << Describe(result, log);
    EXPECT_TRUE(Contains(log, L"Failed to create Quarantine directory.")) << ToUtf8(log);
    EXPECT_FALSE(KeyExists(kReferenceKey));
    EXPECT_FALSE(DirectoryExists(installDirectory_));
    EXPECT_EQ("not a folder", ReadFileBytes(file));
}

// Another object holding the marker's name: no marker can be made or opened, so nothing guards
// against a second installer, and the run stops as if one were running.
TEST_F(PackageTest, InstallStopsWhenTheSingleInstanceMarkerCannotBeMade) {
    UniqueKernelHandle squatter(::CreateMutexW(nullptr, FALSE, L"ORIOLEINSTALLER"));
    ASSERT_TRUE(squatter);
    const ProcessResult result = RunInstaller(InstallArguments(L"lifecycle.xml"));
    const std::wstring log = LogText();
    EXPECT_EQ(static_cast<DWORD>(ERROR_SINGLE_INSTANCE_APP), result.exitCode) << Describe(result, log);
    EXPECT_TRUE(Contains(log, L"Another Instance of Installer is already running.")) << ToUtf8(log);
    EXPECT_FALSE(KeyExists(kReferenceKey));
}

struct UnsafeNameCase {
    const char* name;
    const wchar_t* element;
    const wchar_t* expectedInReason;
};
void PrintTo(const UnsafeNameCase& c, std::ostream* os) { *os << c.name; }

const UnsafeNameCase kUnsafeNames[] = {
    {"ClimbsAboveItsFolder",
     LR"(<FileOperation operation="copy" sha256="0000000000000000000000000000000000000000000000000000000000000000" source="core">..\..\Windows\x.dll</FileOperation>)", L"climbs above"},
    {"AbsoluteName", LR"(<FileOperation operation="copy" sha256="0000000000000000000000000000000000000000000000000000000000000000" source="core">C:\x.dll</FileOperation>)", L"drive"},
    {"DriveRelative", LR"(<FileOperation operation="copy" sha256="0000000000000000000000000000000000000000000000000000000000000000" source="core">a:b</FileOperation>)", L"drive"},
    {"Stream", LR"(<FileOperation operation="copy" sha256="0000000000000000000000000000000000000000000000000000000000000000" source="core">x.dll:stream</FileOperation>)",
     L"\":\""},
    {"DestinationClimbs",
     LR"(<FileOperation operation="copy" sha256="0000000000000000000000000000000000000000000000000000000000000000" source="core" destination="$INSTALL_PATH\..\..">engine.cfg</FileOperation>)",
     L"climbs above"},
    {"DirectoryClimbs", LR"(<DirectoryOperation operation="create">$INSTALL_PATH\..\elsewhere</DirectoryOperation>)",
     L"climbs above"},
    {"QuoteInHelperName", LR"(<ExecuteOperation sha256="0000000000000000000000000000000000000000000000000000000000000000" source="crt">x" /evil "y.exe</ExecuteOperation>)",
     L"does not allow"},
    {"ControlCharacter", L"<FileOperation operation=\"copy\" sha256=\"0000000000000000000000000000000000000000000000000000000000000000\" source=\"core\">a&#9;b.dll</FileOperation>",
     L"does not allow"},
};

class UnsafeNameTest : public PackageTest, public testing::WithParamInterface<UnsafeNameCase> {};

TEST_P(UnsafeNameTest, DocumentIsRejectedAndNothingInstalled) {
    const std::wstring document = std::wstring(LR"(<?xml version="1.0" encoding="utf-8"?>
<Package schemaVersion="1.0" TarnexVersion="1.0.0.1600">
  <Feature tag="Core">
    )") + GetParam().element + LR"(
  </Feature>
</Package>
)";
    ASSERT_TRUE(WriteTextFile(Document(L"unsafe.xml"), document));

    const ProcessResult result = RunInstaller(InstallArguments(L"unsafe.xml"));
    const std::wstring log = LogText();
    EXPECT_EQ(static_cast<DWORD>(ERROR_XML_PARSE_ERROR), result.exitCode) << Describe(result, log);
    EXPECT_TRUE(Contains(log, L"is refused")) << ToUtf8(log);
    EXPECT_TRUE(Contains(log, GetParam().expectedInReason)) << ToUtf8(log);
    EXPECT_FALSE(KeyExists(kReferenceKey));
    EXPECT_FALSE(DirectoryExists(installDirectory_));
    EXPECT_TRUE(HelperRuns().empty());
}

INSTANTIATE_TEST_SUITE_P(Bind, UnsafeNameTest, testing::ValuesIn(kUnsafeNames),
                         [](const testing::TestParamInfo<UnsafeNameCase>& info) { return std::string(info.param.name); });

TEST_F(PackageTest, ReadOnlyPayloadIsInstalledWritableAndRepairedAtOnce) {
    const std::wstring payload = Payload(L"core\\engine.cfg");
    ASSERT_TRUE(::SetFileAttributesW(payload.c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_EQ(0u, RunInstaller(InstallArguments(L"lifecycle.xml")).exitCode) << ToUtf8(LogText());
    EXPECT_EQ(0u, ::GetFileAttributesW(Installed(L"engine.cfg").c_str()) & FILE_ATTRIBUTE_READONLY);

    ASSERT_TRUE(WriteFileBytes(Installed(L"engine.cfg"), "damaged"));
    const ProcessResult repair = RunInstaller(RepairArguments(L"lifecycle.xml"));
    EXPECT_EQ(0u, repair.exitCode) << Describe(repair, LogText());
    EXPECT_EQ(ReadFileBytes(payload), ReadFileBytes(Installed(L"engine.cfg")));
    ::SetFileAttributesW(payload.c_str(), FILE_ATTRIBUTE_NORMAL);
}

} // namespace
} // namespace e2e
