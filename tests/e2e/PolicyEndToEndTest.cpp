// The engine's policies as an administrator installs them with -s: written below
// HKLM\SOFTWARE\Norvex\Coravel, verified, repaired, removed, and the install overrides and
// quarantine directory applied on the way.
#include <gtest/gtest.h>
#include "e2e/PackageFixture.h"

namespace e2e {
namespace {

const wchar_t kOasKey[] = L"SOFTWARE\\Norvex\\Coravel\\OAS\\DEFAULT";
const wchar_t kOdsKey[] = L"SOFTWARE\\Norvex\\Coravel\\ODS\\FULLSCAN";
const wchar_t kGlobalKey[] = L"SOFTWARE\\Norvex\\Coravel\\BULWARKGLOBAL\\GLOBAL";
const wchar_t kBulwarkGlobalKey[] = L"SOFTWARE\\Norvex\\Coravel\\BULWARKGLOBAL\\BULWARKGLOBAL";

// Every value kind, item lists and record lists, every exclusion type and the overrides.
const wchar_t kPolicies[] = LR"(<?xml version="1.0" encoding="utf-8"?>
<Configuration schemaVersion="1.1">
  <OASPolicy key="DEFAULT">
    <AV_POLICY_ENABLE_FILE_OAS>true</AV_POLICY_ENABLE_FILE_OAS>
    <AV_POLICY_REPORT_CLEAN>0</AV_POLICY_REPORT_CLEAN>
    <AV_POLICY_TIMEOUT>30</AV_POLICY_TIMEOUT>
    <AV_POLICY_PERFORMANCE_TRADEOFF>3</AV_POLICY_PERFORMANCE_TRADEOFF>
    <AV_POLICY_PRIMARY_ACTION_VIRUS>0</AV_POLICY_PRIMARY_ACTION_VIRUS>
    <AV_POLICY_SECONDARY_ACTION_VIRUS>5</AV_POLICY_SECONDARY_ACTION_VIRUS>
    <AV_POLICY_EXTENSION_OPTION>3</AV_POLICY_EXTENSION_OPTION>
    <AV_POLICY_EXCLUSION_BEHAVIOUR>NONE</AV_POLICY_EXCLUSION_BEHAVIOUR>
    <AV_POLICY_CUSTOM_EXTENSION><String>doc</String><String>xls</String></AV_POLICY_CUSTOM_EXTENSION>
    <AV_POLICY_CONTEXTIDS><Integer>1</Integer><Integer>4</Integer><Integer>17</Integer></AV_POLICY_CONTEXTIDS>
    <AV_POLICY_SYSTEM_STATE/>
    <AV_POLICY_DISABLE_DETECTION><VirusType>3</VirusType><VirusType>14</VirusType></AV_POLICY_DISABLE_DETECTION>
    <AV_POLICY_EXCLUSION_FILE>
      <Exclusion><Flags>0</Flags><Type>0</Type><NumDays>30</NumDays></Exclusion>
      <Exclusion><Flags>2</Flags><Type>3</Type><Pattern>%SystemRoot%\Temp\</Pattern></Exclusion>
      <Exclusion><Flags>2</Flags><Type>3</Type><Pattern>\\fileserver\builds\drops</Pattern></Exclusion>
      <Exclusion><Flags>1</Flags><Type>4</Type><Pattern>tmp</Pattern></Exclusion>
    </AV_POLICY_EXCLUSION_FILE>
    <AV_POLICY_UNWANTED_FILES>
      <UnwantedFile><DetectionName>Test</DetectionName><FilePath>C:\x.exe</FilePath></UnwantedFile>
    </AV_POLICY_UNWANTED_FILES>
  </OASPolicy>
  <ODSPolicy key="FULLSCAN">
    <AV_POLICY_USE_CACHE>false</AV_POLICY_USE_CACHE>
    <AV_POLICY_INITIAL_THREAD_PRIORITY>2</AV_POLICY_INITIAL_THREAD_PRIORITY>
    <AV_POLICY_EXCLUSION_FILE>
      <Exclusion><Flags>0</Flags><Type>1</Type><NumDays>90</NumDays></Exclusion>
      <Exclusion><Flags>0</Flags><Type>2</Type><NumDays>7</NumDays></Exclusion>
    </AV_POLICY_EXCLUSION_FILE>
  </ODSPolicy>
  <GlobalPolicy key="GLOBAL">
    <AV_POLICY_CACHE_TYPE>2</AV_POLICY_CACHE_TYPE>
    <AV_POLICY_PROXY_HOST_NAME>proxy.example.net</AV_POLICY_PROXY_HOST_NAME>
    <AV_POLICY_BACKUP_DIRECTORY>C:\Q</AV_POLICY_BACKUP_DIRECTORY>
    <AV_POLICY_TRUSTED_PROCESS_LIST><String>C:\Program Files\Backup\backup.exe</String></AV_POLICY_TRUSTED_PROCESS_LIST>
  </GlobalPolicy>
  <GlobalPolicy key="BULWARKGLOBAL">
    <AV_POLICY_DELAY_STARTUP>10</AV_POLICY_DELAY_STARTUP>
  </GlobalPolicy>
  <InstallOverride>
    <dwProductID>12</dwProductID>
    <dwContentMajorVersion>7</dwContentMajorVersion>
    <dwContentMinorVersion>3</dwContentMinorVersion>
  </InstallOverride>
</Configuration>
)";

// A package of registry records only, among them the values the overrides replace.
const wchar_t kRecordsPackage[] = LR"(<?xml version="1.0" encoding="utf-8"?>
<Package schemaVersion="1.0" TarnexVersion="1.0.0.1600">
  <Feature tag="Records">
    <RegistryOperation operation="create">
      <RegKey key="HKLM\SOFTWARE\Norvex\Coravel\CRV\CRV">
        <RegValue name="szTarnexVersion" type="SZ" data="1.0.0.1600.1"/>
        <RegValue name="dwProductID" type="DWORD" data="3"/>
      </RegKey>
      <RegKey key="HKLM\SOFTWARE\Norvex\Coravel\DS\DS">
        <RegValue name="dwContentMajorVersion" type="DWORD" data="1"/>
        <RegValue name="dwContentMinorVersion" type="DWORD" data="0"/>
      </RegKey>
    </RegistryOperation>
  </Feature>
</Package>
)";

class PolicyEndToEndTest : public PackageTest {
protected:
    void SetUp() override {
        PackageTest::SetUp();
        if (HasFatalFailure()) return;
        policies_ = *root_ / L"policies.xml";
        ASSERT_TRUE(WriteTextFile(policies_, kPolicies));
        ASSERT_TRUE(WriteTextFile(Document(kPackage), kRecordsPackage));
    }

    static std::vector<std::wstring> With(std::vector<std::wstring> arguments, std::initializer_list<std::wstring> more) {
        arguments.insert(arguments.end(), more);
        return arguments;
    }

    void InstallWithPolicies() {
        const ProcessResult result = RunInstaller(With(InstallArguments(kPackage), { L"-s", policies_ }));
        ASSERT_EQ(0u, result.exitCode) << Describe(result, LogText());
    }

    ProcessResult VerifyWithPolicies() {
        return RunInstaller(With(VerifyArguments(kPackage), { L"-s", policies_ }));
    }

    static constexpr const wchar_t* kPackage = L"policy-records.xml";
    std::wstring policies_;
};

TEST_F(PolicyEndToEndTest, InstallWritesEveryPolicyValueAsPrescribedAndVerifyReportsThem) {
    ASSERT_NO_FATAL_FAILURE(InstallWithPolicies());

    struct Number { const wchar_t* key; const wchar_t* name; DWORD value; };
    const Number numbers[] = {
        { kOasKey, L"enablefileoas", 1 },
        { kOasKey, L"reportclean", 0 },
        { kOasKey, L"scantimeout", 30 },
        { kOasKey, L"perftradeoff", 3 },
        { kOasKey, L"primaryactionvirus", 0 },
        { kOasKey, L"secondaryactionvirus", 5 },
        { kOasKey, L"extensionoption", 3 },
        { kOdsKey, L"usecache", 0 },
        { kOdsKey, L"initialthreadpriority", 2 },
        { kGlobalKey, L"cachetype", 2 },
        { kBulwarkGlobalKey, L"delaystartup", 10 },
        // The overrides replace the package's values (the machine had no content version).
        { kVersionKey, L"dwProductID", 12 },
        { kContentVersionKey, L"dwContentMajorVersion", 7 },
        { kContentVersionKey, L"dwContentMinorVersion", 3 },
    };
    for (const auto& n : numbers) {
        EXPECT_EQ(ReadDword(n.key, n.name), std::optional<DWORD>(n.value)) << ToUtf8(n.name);
    }

    struct Text { const wchar_t* key; const wchar_t* name; const wchar_t* value; };
    const Text texts[] = {
        { kOasKey, L"", L"NONE" },
        { kGlobalKey, L"clqproxyhostname", L"proxy.example.net" },
        { kGlobalKey, L"backupdirectory", L"C:\\Q" },
        { kBulwarkGlobalKey, L"backupdirectory", L"C:\\Q" },
    };
    for (const auto& t : texts) {
        EXPECT_EQ(ReadString(t.key, t.name), std::optional<std::wstring>(t.value)) << ToUtf8(t.name);
    }

    using Strings = std::vector<std::wstring>;
    const std::wstring temp = Expand(L"%SystemRoot%\\Temp\\");
    struct List { const wchar_t* key; const wchar_t* name; Strings value; };
    const List lists[] = {
        { kOasKey, L"customextension", { L"doc", L"xls" } },
        { kOasKey, L"contextidlist", { L"1", L"4", L"17" } },
        { kOasKey, L"systemstates", {} },
        { kOasKey, L"disabledetection", { L"3", L"14" } },
        { kOasKey, L"exclusions",
          { L"0|0|30", L"3|2|\\Device\\HarddiskVolume1" + temp.substr(2) + L">" + temp,
            L"3|2|\\Device\\Mup\\fileserver\\builds\\drops>\\\\fileserver\\builds\\drops", L"4|1|tmp" } },
        { kOasKey, L"unwantedfiles", { L"Test|C:\\x.exe" } },
        { kOdsKey, L"exclusions", { L"1|0|90", L"2|0|7" } },
        { kGlobalKey, L"trustedprocesslist", { L"C:\\Program Files\\Backup\\backup.exe" } },
    };
    for (const auto& l : lists) {
        EXPECT_EQ(ReadMultiString(l.key, l.name), std::optional<Strings>(l.value)) << ToUtf8(l.name);
    }
    // Nothing but the document's values in the policy keys.
    EXPECT_EQ(ValueNames(kOasKey).size(), 14u);
    EXPECT_EQ(ValueNames(kOdsKey).size(), 3u);
    EXPECT_EQ(ValueNames(kGlobalKey).size(), 4u);
    EXPECT_EQ(ValueNames(kBulwarkGlobalKey), (Strings{ L"backupdirectory", L"delaystartup" }));

    // Verified right after the install: overridden values compare with their overrides.
    const ProcessResult verify = VerifyWithPolicies();
    EXPECT_EQ(0u, verify.exitCode) << Describe(verify, LogText());
    const std::wstring report = verify.OutputText();
    for (const wchar_t* line : {
             L"\nVerification succeeded for value scantimeout under Registry key HKLM\\SOFTWARE\\Norvex\\Coravel\\OAS\\DEFAULT.",
             L"\nVerification succeeded for value exclusions under Registry key HKLM\\SOFTWARE\\Norvex\\Coravel\\ODS\\FULLSCAN.",
             L"\nVerification succeeded for value backupdirectory under Registry key HKLM\\SOFTWARE\\Norvex\\Coravel\\BULWARKGLOBAL\\BULWARKGLOBAL.",
             L"\nVerification succeeded for value dwProductID under Registry key HKLM\\SOFTWARE\\Norvex\\Coravel\\CRV\\CRV.",
         }) {
        EXPECT_TRUE(Contains(report, line)) << ToUtf8(line) << "\n" << verify.output;
    }
    EXPECT_FALSE(Contains(report, L"Verification failed")) << verify.output;
}

TEST_F(PolicyEndToEndTest, ChangedPolicyFailsVerifyAndRepairRewritesIt) {
    ASSERT_NO_FATAL_FAILURE(InstallWithPolicies());
    ASSERT_TRUE(WriteDword(kOasKey, L"scantimeout", 99));

    const ProcessResult verify = VerifyWithPolicies();
    EXPECT_EQ(DWORD(ERROR_INVALID_DATA), verify.exitCode) << Describe(verify, LogText());
    EXPECT_TRUE(Contains(verify.OutputText(),
                         L"\nVerification failed for value data of value scantimeout under Registry key "
                         L"HKLM\\SOFTWARE\\Norvex\\Coravel\\OAS\\DEFAULT."))
        << verify.output;

    const ProcessResult repair = RunInstaller(With(RepairArguments(kPackage), { L"-s", policies_ }));
    ASSERT_EQ(0u, repair.exitCode) << Describe(repair, LogText());
    EXPECT_EQ(ReadDword(kOasKey, L"scantimeout"), std::optional<DWORD>(30));

    const ProcessResult again = VerifyWithPolicies();
    EXPECT_EQ(0u, again.exitCode) << Describe(again, LogText());
}

TEST_F(PolicyEndToEndTest, UninstallWithPoliciesRemovesTheWholeProductKey) {
    ASSERT_NO_FATAL_FAILURE(InstallWithPolicies());
    ASSERT_TRUE(KeyExists(kOasKey));

    const ProcessResult result = RunInstaller(With(UninstallArguments(kPackage), { L"-s", policies_ }));
    EXPECT_EQ(0u, result.exitCode) << Describe(result, LogText());
    EXPECT_FALSE(KeyExists(kFamilyKey));
}

TEST_F(PolicyEndToEndTest, ConfigurationThatFailsValidationInstallsNothing) {
    std::wstring invalid = kPolicies;
    invalid.replace(invalid.find(L"key=\"DEFAULT\""), 13, L"key=\"Default\"");
    ASSERT_TRUE(WriteTextFile(policies_, invalid));

    const ProcessResult result = RunInstaller(With(InstallArguments(kPackage), { L"-s", policies_ }));
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), result.exitCode) << Describe(result, LogText());
    EXPECT_TRUE(Contains(LogText(), L"Failed to deserialize " + policies_)) << ToUtf8(LogText());
    EXPECT_FALSE(KeyExists(kFamilyKey));
    EXPECT_FALSE(DirectoryExists(installDirectory_));
}

TEST_F(PolicyEndToEndTest, PackageInstallThatFailsRemovesThePoliciesAgain) {
    const ProcessResult result = RunInstaller(With(InstallArguments(L"bad-digest.xml"), { L"-s", policies_ }));
    EXPECT_NE(0u, result.exitCode) << Describe(result, LogText());
    const std::wstring log = LogText();
    // The policies were written before the package failed.
    EXPECT_TRUE(Contains(log, L"Installing Policy: DEFAULT.")) << ToUtf8(log);
    EXPECT_TRUE(Contains(log, L"Failed to Install, Starting RollBack.")) << ToUtf8(log);
    EXPECT_FALSE(KeyExists(kFamilyKey));
}

TEST_F(PolicyEndToEndTest, QuarantineDirectoryReplacesTheDocumentsBackupDirectory) {
    const std::wstring quarantine = *root_ / L"Quarantine";
    ASSERT_TRUE(::CreateDirectoryW(quarantine.c_str(), nullptr));

    const ProcessResult result =
        RunInstaller(With(InstallArguments(kPackage), { L"-s", policies_, L"-q", quarantine }));
    ASSERT_EQ(0u, result.exitCode) << Describe(result, LogText());
    EXPECT_EQ(ReadString(kGlobalKey, L"backupdirectory"), std::optional<std::wstring>(quarantine));
    EXPECT_EQ(ReadString(kBulwarkGlobalKey, L"backupdirectory"), std::optional<std::wstring>(quarantine));

    const ProcessResult verify =
        RunInstaller(With(VerifyArguments(kPackage), { L"-s", policies_, L"-q", quarantine }));
    EXPECT_EQ(0u, verify.exitCode) << Describe(verify, LogText());
}

} // namespace
} // namespace e2e
