#include <gtest/gtest.h>

#include "operations/RegistryOperation.h"
#include "policy/CPolicy.h"
#include "policy/PolicyCommon.h"
#include "shell/AVException.h"
#include "shell/Log.h"
#include "support/LogReader.h"
#include "PolicyRegistry.h"

namespace {

using namespace policytest;

const wchar_t kEveryKind[] = LR"(
  <OASPolicy key="DEFAULT">
    <AV_POLICY_TIMEOUT>30</AV_POLICY_TIMEOUT>
    <AV_POLICY_ENABLE_FILE_OAS>true</AV_POLICY_ENABLE_FILE_OAS>
    <AV_POLICY_REPORT_CLEAN>false</AV_POLICY_REPORT_CLEAN>
    <AV_POLICY_SCAN_MIME>1</AV_POLICY_SCAN_MIME>
    <AV_POLICY_ENABLE_CLQ_FEEDBACK>0</AV_POLICY_ENABLE_CLQ_FEEDBACK>
    <AV_POLICY_PRIMARY_ACTION_VIRUS>4</AV_POLICY_PRIMARY_ACTION_VIRUS>
    <AV_POLICY_EXTENSION_OPTION>3</AV_POLICY_EXTENSION_OPTION>
    <AV_POLICY_CUSTOM_EXTENSION><String>doc</String><String>xls</String></AV_POLICY_CUSTOM_EXTENSION>
    <AV_POLICY_INCLUSION_PROCESS/>
    <AV_POLICY_CONTEXTIDS><Integer>1</Integer><Integer>4</Integer><Integer>17</Integer></AV_POLICY_CONTEXTIDS>
    <AV_POLICY_DISABLE_DETECTION><VirusType>0</VirusType><VirusType>4</VirusType></AV_POLICY_DISABLE_DETECTION>
    <AV_POLICY_EXCLUSION_FILE>
      <Exclusion><Flags>0</Flags><Type>0</Type><NumDays>30</NumDays></Exclusion>
      <Exclusion><Flags>2</Flags><Type>3</Type><Pattern>%SystemRoot%\Temp\</Pattern></Exclusion>
      <Exclusion><Flags>2</Flags><Type>3</Type><Pattern>\\server\share\dir</Pattern></Exclusion>
      <Exclusion><Flags>1</Flags><Type>4</Type><Pattern>tmp</Pattern></Exclusion>
      <Exclusion><Flags>0</Flags><Type>1</Type></Exclusion>
    </AV_POLICY_EXCLUSION_FILE>
    <AV_POLICY_UNWANTED_FILES>
      <UnwantedFile><DetectionName>Test</DetectionName><FilePath>C:\x.exe</FilePath></UnwantedFile>
      <UnwantedFile><DetectionName>Joke</DetectionName><FilePath></FilePath></UnwantedFile>
    </AV_POLICY_UNWANTED_FILES>
    <AV_POLICY_EXCLUSION_BEHAVIOUR>NONE</AV_POLICY_EXCLUSION_BEHAVIOUR>
  </OASPolicy>
  <ODSPolicy key="FULLSCAN">
    <AV_POLICY_INITIAL_IO_PRIORITY>1</AV_POLICY_INITIAL_IO_PRIORITY>
    <AV_POLICY_CPU_UTILIZATION>50</AV_POLICY_CPU_UTILIZATION>
  </ODSPolicy>
  <GlobalPolicy key="GLOBAL">
    <AV_POLICY_CACHE_TYPE>2</AV_POLICY_CACHE_TYPE>
    <AV_POLICY_PROXY_HOST_NAME>proxy.example.net</AV_POLICY_PROXY_HOST_NAME>
    <AV_POLICY_BACKUP_DIRECTORY>C:\Q</AV_POLICY_BACKUP_DIRECTORY>
  </GlobalPolicy>
  <GlobalPolicy key="BULWARKGLOBAL">
    <AV_POLICY_DELAY_STARTUP>10</AV_POLICY_DELAY_STARTUP>
  </GlobalPolicy>)";

struct Expected {
    const wchar_t* key;
    const wchar_t* name;
    DWORD type;
    std::wstring units;   // SZ and MULTI_SZ
    DWORD number;         // DWORD
};

Expected Dword(const wchar_t* key, const wchar_t* name, DWORD number) {
    return { key, name, REG_DWORD, L"", number };
}

TEST_F(PolicyRegistryTest, InstallWritesEveryValueKindWithItsNameTypeAndData) {
    std::wstring error;
    auto configuration = LoadConfiguration(kEveryKind, &error);
    ASSERT_TRUE(configuration) << ToUtf8(error);
    // No document may carry the driver classification; it is written all the same.
    configuration->oasPolicies[0]->values.push_back(
        std::make_unique<CPolicyData>(L"AV_POLICY_DRIVER_CLASSIFICATION", L"1", L"", L""));

    ASSERT_EQ(configuration->Install(), 0u);

    const std::wstring ods = L"SOFTWARE\\Norvex\\Coravel\\ODS\\FULLSCAN";
    const std::wstring temp = Expand(L"%SystemRoot%\\Temp\\");
    const Expected expected[] = {
        Dword(kOas, L"scantimeout", 30),
        Dword(kOas, L"enablefileoas", 1),
        Dword(kOas, L"reportclean", 0),
        Dword(kOas, L"scanmime", 1),
        Dword(kOas, L"enableclqfeedback", 0),
        Dword(kOas, L"primaryactionvirus", 4),
        Dword(kOas, L"extensionoption", 3),
        Dword(kOas, L"classifydriverasbad", 1),
        { kOas, L"customextension", REG_MULTI_SZ, hklm::MultiSzUnits({ L"doc", L"xls" }), 0 },
        { kOas, L"processinclusionlist", REG_MULTI_SZ, hklm::MultiSzUnits({}), 0 },
        { kOas, L"contextidlist", REG_MULTI_SZ, hklm::MultiSzUnits({ L"1", L"4", L"17" }), 0 },
        { kOas, L"disabledetection", REG_MULTI_SZ, hklm::MultiSzUnits({ L"0", L"4" }), 0 },
        { kOas, L"exclusions", REG_MULTI_SZ,
          hklm::MultiSzUnits({ L"0|0|30", L"3|2|\\Device\\HarddiskVolume1" + temp.substr(2) + L">" + temp,
                    L"3|2|\\Device\\Mup\\server\\share\\dir>\\\\server\\share\\dir", L"4|1|tmp", L"1|0|0" }), 0 },
        { kOas, L"unwantedfiles", REG_MULTI_SZ, hklm::MultiSzUnits({ L"Test|C:\\x.exe", L"Joke|" }), 0 },
        { kOas, L"", REG_SZ, hklm::SzUnits(L"NONE"), 0 },
        Dword(ods.c_str(), L"initialiopriority", 1),
        Dword(ods.c_str(), L"cpuutilization", 50),
        Dword(kGlobal, L"cachetype", 2),
        { kGlobal, L"clqproxyhostname", REG_SZ, hklm::SzUnits(L"proxy.example.net"), 0 },
        { kGlobal, L"backupdirectory", REG_SZ, hklm::SzUnits(L"C:\\Q"), 0 },
        { kBulwarkGlobal, L"backupdirectory", REG_SZ, hklm::SzUnits(L"C:\\Q"), 0 },
        Dword(kBulwarkGlobal, L"delaystartup", 10),
    };
    for (const auto& e : expected) {
        const std::string where = ToUtf8(std::wstring(e.key) + L" : " + e.name);
        const hklm::StoredValue stored = hklm::ReadValue(e.key, e.name);
        ASSERT_TRUE(stored.exists) << where;
        EXPECT_EQ(stored.type, e.type) << where;
        if (e.type == REG_DWORD) {
            EXPECT_EQ(stored.bytes.size(), 4u) << where;
            EXPECT_EQ(stored.Number(), e.number) << where;
        } else {
            EXPECT_EQ(stored.Units(), e.units) << where;
        }
    }
    // One registry value per element (the unnamed one included), nothing else.
    EXPECT_EQ(hklm::ValueNames(kOas).size(), 15u);

    // Verify compares what install wrote, booleans spelled as words included.
    EXPECT_EQ(configuration->Verify(), 0u);
}

TEST_F(PolicyRegistryTest, BackupDirectoryGoesToBothGlobalKeysAndTheQuarantineDirectoryWins) {
    const std::wstring globalPath = PolicyKeyPath(L"BULWARKGLOBAL", L"GLOBAL");
    CPolicyData entry(L"AV_POLICY_BACKUP_DIRECTORY", L"C:\\Q", L"0", globalPath);
    ASSERT_EQ(entry.Install(), 0u);
    EXPECT_EQ(hklm::ReadValue(kGlobal, L"backupdirectory").Units(), hklm::SzUnits(L"C:\\Q"));
    EXPECT_EQ(hklm::ReadValue(kBulwarkGlobal, L"backupdirectory").Units(), hklm::SzUnits(L"C:\\Q"));

    InstallContext().backupDirectory = L"C:\\Quarantine";
    ASSERT_EQ(entry.Install(), 0u);
    EXPECT_EQ(hklm::ReadValue(kGlobal, L"backupdirectory").Units(), hklm::SzUnits(L"C:\\Quarantine"));
    EXPECT_EQ(hklm::ReadValue(kBulwarkGlobal, L"backupdirectory").Units(), hklm::SzUnits(L"C:\\Quarantine"));

    // Only the copy the engine reads is verified.
    EXPECT_EQ(entry.Verify(), 0u);
    ASSERT_TRUE(hklm::WriteString(kGlobal, L"backupdirectory", L"C:\\Elsewhere"));
    EXPECT_EQ(entry.Verify(), 0u);
    ASSERT_TRUE(hklm::WriteString(kBulwarkGlobal, L"backupdirectory", L"C:\\Elsewhere"));
    EXPECT_EQ(entry.Verify(), DWORD(ERROR_INVALID_DATA));
}

TEST_F(PolicyRegistryTest, KeepExistingOneWritesNothing) {
    CPolicyData entry(L"AV_POLICY_BACKUP_DIRECTORY", L"C:\\Q", L"1", PolicyKeyPath(L"BULWARKGLOBAL", L"GLOBAL"));
    EXPECT_EQ(entry.Install(), 0u);
    EXPECT_FALSE(hklm::ReadValue(kGlobal, L"backupdirectory").exists);
    EXPECT_FALSE(hklm::ReadValue(kBulwarkGlobal, L"backupdirectory").exists);
}

TEST_F(PolicyRegistryTest, UncataloguedElementInstallsNothingAndFailsVerify) {
    auto configuration = LoadConfiguration(LR"(
      <GlobalPolicy key="GLOBAL">
        <AV_POLICY_CLQ_SERVER_IP>10.0.0.1</AV_POLICY_CLQ_SERVER_IP>
        <AV_POLICY_PROXY_PORT>8080</AV_POLICY_PROXY_PORT>
      </GlobalPolicy>)");
    ASSERT_TRUE(configuration);
    EXPECT_EQ(configuration->Install(), 0u);
    EXPECT_EQ(hklm::ValueNames(kGlobal), (std::vector<std::wstring>{ L"clqproxyport" }));
    EXPECT_EQ(configuration->Verify(), DWORD(ERROR_INVALID_DATA));
}

TEST_F(PolicyRegistryTest, UnnamedValueHoldsTheLaterOfTwoElements) {
    auto configuration = LoadConfiguration(LR"(
      <OASPolicy key="DEFAULT">
        <AV_POLICY_EXCLUSION_BEHAVIOUR>NONE</AV_POLICY_EXCLUSION_BEHAVIOUR>
        <AV_POLICY_REPAIR_BACKUP_BEHAVIOUR>1</AV_POLICY_REPAIR_BACKUP_BEHAVIOUR>
      </OASPolicy>)");
    ASSERT_TRUE(configuration);
    ASSERT_EQ(configuration->Install(), 0u);
    const hklm::StoredValue unnamed = hklm::ReadValue(kOas, L"");
    EXPECT_EQ(unnamed.type, DWORD(REG_DWORD));
    EXPECT_EQ(unnamed.Number(), 1u);
}

TEST_F(PolicyRegistryTest, FailedValueSkipsTheRestOfItsPolicyButNotTheNextPolicy) {
    // Two strings joined are longer than a multi-string value may be.
    const std::wstring longString(8200, L'x');
    auto configuration = LoadConfiguration(L"<OASPolicy key=\"DEFAULT\">"
                                           L"<AV_POLICY_TIMEOUT>30</AV_POLICY_TIMEOUT>"
                                           L"<AV_POLICY_CUSTOM_EXTENSION><String>" + longString + L"</String><String>" +
                                           longString + L"</String></AV_POLICY_CUSTOM_EXTENSION>"
                                           L"<AV_POLICY_ARCHIVE_TIMEOUT>5</AV_POLICY_ARCHIVE_TIMEOUT>"
                                           L"</OASPolicy>"
                                           L"<ODSPolicy key=\"S1\"><AV_POLICY_TIMEOUT>7</AV_POLICY_TIMEOUT></ODSPolicy>");
    ASSERT_TRUE(configuration);

    TempDir logs(L"log");
    const std::wstring logPath = logs / L"policy.log";
    InitializeLog(logPath);
    const DWORD result = configuration->Install();
    UninitializeLog(logPath);

    EXPECT_EQ(result, 0u);
    EXPECT_EQ(hklm::ReadValue(kOas, L"scantimeout").Number(), 30u);
    EXPECT_FALSE(hklm::ReadValue(kOas, L"customextension").exists);
    EXPECT_FALSE(hklm::ReadValue(kOas, L"archivetimeout").exists);
    EXPECT_EQ(hklm::ReadValue(L"SOFTWARE\\Norvex\\Coravel\\ODS\\S1", L"scantimeout").Number(), 7u);

    const std::wstring log = ReadLogText(logPath);
    EXPECT_NE(log.find(L"Failed to install Policy data."), std::wstring::npos);
    EXPECT_NE(log.find(L"Failed to install Policy: DEFAULT."), std::wstring::npos);
    EXPECT_EQ(log.find(L"Failed to install Policy: S1."), std::wstring::npos);

    EXPECT_EQ(configuration->Verify(), DWORD(ERROR_INVALID_DATA));
}

TEST_F(PolicyRegistryTest, ExclusionThatDoesNotParseLeavesTheActionAfterEarlierValues) {
    auto configuration = LoadConfiguration(LR"(
      <OASPolicy key="DEFAULT">
        <AV_POLICY_TIMEOUT>30</AV_POLICY_TIMEOUT>
        <AV_POLICY_EXCLUSION_FILE><Exclusion><Flags>2</Flags><Type>3</Type></Exclusion></AV_POLICY_EXCLUSION_FILE>
        <AV_POLICY_ARCHIVE_TIMEOUT>5</AV_POLICY_ARCHIVE_TIMEOUT>
      </OASPolicy>)");
    ASSERT_TRUE(configuration);
    try {
        configuration->Install();
        ADD_FAILURE() << "no exception";
    } catch (const AVException& e) {
        EXPECT_EQ(e.Code(), 0xA7F40209u);
    }
    EXPECT_EQ(hklm::ReadValue(kOas, L"scantimeout").Number(), 30u);
    EXPECT_FALSE(hklm::ReadValue(kOas, L"exclusions").exists);
    EXPECT_FALSE(hklm::ReadValue(kOas, L"archivetimeout").exists);
}

TEST_F(PolicyRegistryTest, UnInstallRemovesEverythingBelowThePolicyRoot) {
    auto configuration = LoadConfiguration(L"<OASPolicy key=\"DEFAULT\"><AV_POLICY_TIMEOUT>30</AV_POLICY_TIMEOUT></OASPolicy>");
    ASSERT_TRUE(configuration);
    ASSERT_EQ(configuration->Install(), 0u);
    ASSERT_TRUE(hklm::WriteString(L"SOFTWARE\\Norvex\\Coravel\\Install_Reference", L"szInstallPath", L"C:\\Inst"));

    Configuration empty;
    EXPECT_EQ(empty.UnInstall(), 0u);
    EXPECT_FALSE(hklm::KeyExists(kRoot));
    EXPECT_EQ(empty.UnInstall(), 0u);
}

TEST_F(PolicyRegistryTest, ContentVersionOverrideKeepsAnExistingDwordAndFillsAMissingOne) {
    const std::wstring versionKey = L"SOFTWARE\\Norvex\\Coravel\\CRV\\CRV";
    ASSERT_TRUE(hklm::WriteDword(versionKey, L"dwContentMajorVersion", 5));
    auto configuration = LoadConfiguration(LR"(
      <InstallOverride>
        <dwContentMajorVersion>7</dwContentMajorVersion>
        <dwContentMinorVersion>3</dwContentMinorVersion>
      </InstallOverride>)");
    ASSERT_TRUE(configuration);
    ASSERT_EQ(configuration->Install(), 0u);

    // What the installation document's own registry elements then write.
    const std::wstring keyPath = L"HKLM\\" + versionKey;
    ASSERT_EQ(RegValue(keyPath, L"dwContentMajorVersion", L"DWORD", L"1", false).Install(), 0u);
    ASSERT_EQ(RegValue(keyPath, L"dwContentMinorVersion", L"DWORD", L"1", false).Install(), 0u);
    EXPECT_EQ(hklm::ReadValue(versionKey, L"dwContentMajorVersion").Number(), 5u);
    EXPECT_EQ(hklm::ReadValue(versionKey, L"dwContentMinorVersion").Number(), 3u);
}

TEST_F(PolicyRegistryTest, EmptyOverrideIsNoOverride) {
    Configuration configuration;
    configuration.installOverride.productId = L"";
    configuration.installOverride.serviceStartMode = L"0";
    ASSERT_EQ(configuration.Install(), 0u);

    const std::wstring keyPath = L"HKLM\\SOFTWARE\\Norvex\\Coravel\\CRV\\CRV";
    ASSERT_EQ(RegValue(keyPath, L"dwProductID", L"DWORD", L"3", false).Install(), 0u);
    ASSERT_EQ(RegValue(keyPath, L"Start", L"DWORD", L"2", false).Install(), 0u);
    EXPECT_EQ(hklm::ReadValue(L"SOFTWARE\\Norvex\\Coravel\\CRV\\CRV", L"dwProductID").Number(), 3u);
    EXPECT_EQ(hklm::ReadValue(L"SOFTWARE\\Norvex\\Coravel\\CRV\\CRV", L"Start").Number(), 0u);
}

TEST_F(PolicyRegistryTest, VerifyInALaterRunComparesOverriddenValuesWithTheOverride) {
    const wchar_t document[] = LR"(
      <OASPolicy key="DEFAULT"><AV_POLICY_TIMEOUT>30</AV_POLICY_TIMEOUT></OASPolicy>
      <InstallOverride><dwProductID>12</dwProductID></InstallOverride>)";
    const std::wstring keyPath = L"HKLM\\SOFTWARE\\Norvex\\Coravel\\CRV\\CRV";
    {
        auto configuration = LoadConfiguration(document);
        ASSERT_TRUE(configuration);
        ASSERT_EQ(configuration->Install(), 0u);
        ASSERT_EQ(RegValue(keyPath, L"dwProductID", L"DWORD", L"3", false).Install(), 0u);
        EXPECT_EQ(hklm::ReadValue(L"SOFTWARE\\Norvex\\Coravel\\CRV\\CRV", L"dwProductID").Number(), 12u);
    }

    // The verify run is a new process: no overrides recorded yet.
    InstallOverrideTable::ClearForTests();
    EXPECT_EQ(RegValue(keyPath, L"dwProductID", L"DWORD", L"3", false).Verify(), DWORD(ERROR_INVALID_DATA));

    auto configuration = LoadConfiguration(document);
    ASSERT_TRUE(configuration);
    EXPECT_EQ(configuration->Verify(), 0u);
    EXPECT_EQ(RegValue(keyPath, L"dwProductID", L"DWORD", L"3", false).Verify(), 0u);
    // Nothing was written by verifying.
    EXPECT_EQ(hklm::ValueNames(L"SOFTWARE\\Norvex\\Coravel\\CRV\\CRV"), (std::vector<std::wstring>{ L"dwProductID" }));
}

} // namespace
