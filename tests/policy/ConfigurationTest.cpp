#include <gtest/gtest.h>

#include "policy/CPolicy.h"
#include "PolicyRegistry.h"

namespace {

using namespace policytest;

TEST(ConfigurationBinding, BindsPoliciesValuesListsRecordsAndOverridesInDocumentOrder) {
    std::wstring error;
    auto configuration = LoadConfiguration(LR"(
      <OASPolicy key="DEFAULT">
        <AV_POLICY_TIMEOUT>30</AV_POLICY_TIMEOUT>
        <AV_POLICY_CONTEXTIDS><Integer>4</Integer><Integer>1</Integer></AV_POLICY_CONTEXTIDS>
        <AV_POLICY_EXCLUSION_FILE>
          <Exclusion><Flags>65537</Flags><Type>3</Type><Pattern>a&gt;b</Pattern></Exclusion>
          <Exclusion><Flags>0</Flags><Type>0</Type></Exclusion>
        </AV_POLICY_EXCLUSION_FILE>
        <AV_POLICY_UNWANTED_FILES>
          <UnwantedFile><DetectionName>Test</DetectionName><FilePath>C:\x.exe</FilePath></UnwantedFile>
        </AV_POLICY_UNWANTED_FILES>
      </OASPolicy>
      <OASPolicy key="SECOND"/>
      <ODSPolicy key="S1"><AV_POLICY_EXCLUSION_DETECTION><String>b</String><String>a</String></AV_POLICY_EXCLUSION_DETECTION></ODSPolicy>
      <GlobalPolicy key="GLOBAL"/>
      <GlobalPolicy key="BULWARKGLOBAL"/>
      <InstallOverride><dwProductID>12</dwProductID><dwContentMinorVersion>3</dwContentMinorVersion></InstallOverride>)",
                                           &error);
    ASSERT_TRUE(configuration) << ToUtf8(error);

    ASSERT_EQ(configuration->oasPolicies.size(), 2u);
    ASSERT_EQ(configuration->odsPolicies.size(), 1u);
    ASSERT_EQ(configuration->globalPolicies.size(), 2u);
    const CPolicy& oas = *configuration->oasPolicies[0];
    EXPECT_EQ(oas.Kind(), L"OAS");
    EXPECT_EQ(oas.KeyPath(), L"HKLM\\SOFTWARE\\Norvex\\Coravel\\OAS\\DEFAULT");
    EXPECT_EQ(configuration->oasPolicies[1]->key, L"SECOND");
    EXPECT_TRUE(configuration->oasPolicies[1]->values.empty());
    EXPECT_EQ(configuration->odsPolicies[0]->KeyPath(), L"HKLM\\SOFTWARE\\Norvex\\Coravel\\ODS\\S1");
    EXPECT_EQ(configuration->globalPolicies[0]->KeyPath(), L"HKLM\\SOFTWARE\\Norvex\\Coravel\\BULWARKGLOBAL\\GLOBAL");
    EXPECT_EQ(configuration->globalPolicies[1]->KeyPath(), L"HKLM\\SOFTWARE\\Norvex\\Coravel\\BULWARKGLOBAL\\BULWARKGLOBAL");

    ASSERT_EQ(oas.values.size(), 4u);
    EXPECT_EQ(oas.values[0]->name, L"AV_POLICY_TIMEOUT");
    EXPECT_EQ(oas.values[0]->valueText, L"30");
    EXPECT_EQ(oas.values[0]->keepExisting, L"");
    EXPECT_EQ(oas.values[1]->name, L"AV_POLICY_CONTEXTIDS");
    EXPECT_EQ(oas.values[1]->listItems, (std::vector<std::wstring>{ L"4", L"1" }));
    EXPECT_EQ(configuration->odsPolicies[0]->values[0]->listItems, (std::vector<std::wstring>{ L"b", L"a" }));

    const auto& exclusions = oas.values[2]->exclusions;
    ASSERT_EQ(exclusions.size(), 2u);
    EXPECT_EQ(exclusions[0]->flags, 65537u);
    EXPECT_EQ(exclusions[0]->type, 3u);
    EXPECT_EQ(exclusions[0]->pattern, L"a>b");
    EXPECT_EQ(exclusions[1]->numDays, 0u);
    EXPECT_EQ(exclusions[1]->pattern, L"");
    ASSERT_EQ(oas.values[3]->unwantedFiles.size(), 1u);
    EXPECT_EQ(oas.values[3]->unwantedFiles[0]->detectionName, L"Test");
    EXPECT_EQ(oas.values[3]->unwantedFiles[0]->filePath, L"C:\\x.exe");

    EXPECT_EQ(configuration->installOverride.productId, L"12");
    EXPECT_EQ(configuration->installOverride.serviceStartMode, L"");
    EXPECT_EQ(configuration->installOverride.contentMinorVersion, L"3");
}

TEST(ConfigurationBinding, DocumentsTheSchemaRejectsAreNotLoaded) {
    struct Case { const char* what; const wchar_t* body; };
    const Case cases[] = {
        { "lower-case policy key", L"<OASPolicy key=\"Default\"><AV_POLICY_TIMEOUT>30</AV_POLICY_TIMEOUT></OASPolicy>" },
        { "unknown global key", L"<GlobalPolicy key=\"OTHER\"/>" },
        { "value twice", L"<OASPolicy key=\"D\"><AV_POLICY_TIMEOUT>1</AV_POLICY_TIMEOUT><AV_POLICY_TIMEOUT>2</AV_POLICY_TIMEOUT></OASPolicy>" },
        { "value of another policy kind", L"<OASPolicy key=\"D\"><AV_POLICY_USE_CACHE>1</AV_POLICY_USE_CACHE></OASPolicy>" },
        { "policies out of order", L"<ODSPolicy key=\"S\"/><OASPolicy key=\"D\"/>" },
        { "exclusion type out of range", L"<OASPolicy key=\"D\"><AV_POLICY_EXCLUSION_FILE><Exclusion><Flags>0</Flags><Type>5</Type></Exclusion></AV_POLICY_EXCLUSION_FILE></OASPolicy>" },
    };
    for (const auto& c : cases) EXPECT_FALSE(LoadConfiguration(c.body)) << c.what;
}

TEST_F(PolicyRegistryTest, DocumentWithOnlyTheRootInstallsNothing) {
    auto configuration = LoadConfiguration(L"");
    ASSERT_TRUE(configuration);
    EXPECT_EQ(configuration->Install(), 0u);
    EXPECT_FALSE(hklm::KeyExists(kRoot));
    EXPECT_EQ(configuration->Verify(), 0u);
}

TEST_F(PolicyRegistryTest, LaterPolicyWithTheSameKeyOverwritesCoincidingValues) {
    auto configuration = LoadConfiguration(LR"(
      <OASPolicy key="DEFAULT"><AV_POLICY_TIMEOUT>30</AV_POLICY_TIMEOUT><AV_POLICY_ARCHIVE_TIMEOUT>5</AV_POLICY_ARCHIVE_TIMEOUT></OASPolicy>
      <OASPolicy key="DEFAULT"><AV_POLICY_TIMEOUT>60</AV_POLICY_TIMEOUT></OASPolicy>)");
    ASSERT_TRUE(configuration);
    ASSERT_EQ(configuration->Install(), 0u);
    EXPECT_EQ(hklm::ReadValue(kOas, L"scantimeout").Number(), 60u);
    EXPECT_EQ(hklm::ReadValue(kOas, L"archivetimeout").Number(), 5u);
}

TEST_F(PolicyRegistryTest, RepairRewritesChangedValuesAndKeepsValuesTheDocumentLacks) {
    auto configuration = LoadConfiguration(L"<OASPolicy key=\"DEFAULT\"><AV_POLICY_TIMEOUT>30</AV_POLICY_TIMEOUT></OASPolicy>");
    ASSERT_TRUE(configuration);
    ASSERT_EQ(configuration->Install(), 0u);
    ASSERT_TRUE(hklm::WriteDword(kOas, L"scantimeout", 99));
    ASSERT_TRUE(hklm::WriteDword(kOas, L"leftover", 1));
    EXPECT_EQ(configuration->Verify(), DWORD(ERROR_INVALID_DATA));

    EXPECT_EQ(configuration->Repair(), 0u);
    EXPECT_EQ(hklm::ReadValue(kOas, L"scantimeout").Number(), 30u);
    EXPECT_TRUE(hklm::ReadValue(kOas, L"leftover").exists);
    EXPECT_EQ(configuration->Verify(), 0u);
}

} // namespace
