// The sample documents bound into the real element trees.
#include <gtest/gtest.h>

#include "engine/Package.h"
#include "policy/CPolicy.h"
#include "policy/Configuration.h"
#include "support/TestFiles.h"
#include "xml/Binding.h"
#include "xml/XmlTestSupport.h"

namespace {

TEST(Examples, SamplePackageBindsIntoTheElementTree) {
    Package package;
    std::wstring error;
    ASSERT_TRUE(Deserialize(FixturePath(L"package.xml"), package, error)) << ToUtf8(error);
    EXPECT_EQ(L"5.2.0.118", package.tarnexVersion);
    EXPECT_EQ(L"1.1", package.schemaVersion);
    ASSERT_EQ(2u, package.features.size());

    const Feature& engine = *package.features[0];
    EXPECT_EQ(L"Engine", engine.tag);
    ASSERT_EQ(1u, engine.drivers.size());
    EXPECT_EQ(L"tnxflt.inf", engine.drivers[0]->infFile.fileName);
    ASSERT_EQ(2u, engine.drivers[0]->sysFiles.size());
    EXPECT_EQ(L"tnxmon.sys", engine.drivers[0]->sysFiles[1]->fileName);

    ASSERT_EQ(4u, engine.files.size());
    EXPECT_EQ(L"tnxengine.dll", engine.files[0]->FileName());
    EXPECT_EQ(L"", engine.files[0]->Platform());   // no platform attribute: every architecture
    EXPECT_EQ(L"x64", engine.files[1]->Platform());
    EXPECT_EQ(L"x64", engine.files[1]->Source());
    EXPECT_EQ(L"$INSTALL_PATH\\bin", engine.files[1]->Destination());
    EXPECT_EQ(L"delete", engine.files[3]->Operation());

    ASSERT_EQ(3u, engine.directoryOperations.size());
    EXPECT_EQ(L"delete", engine.directoryOperations[2]->Operation());

    ASSERT_EQ(2u, engine.registryOperations.size());
    const RegKey& key = *engine.registryOperations[0]->Keys()[0];
    EXPECT_EQ(L"HKLM\\SOFTWARE\\Norvex\\Coravel\\Engine", key.KeyPath());
    ASSERT_EQ(10u, key.Values().size());
    EXPECT_EQ(L"$INSTALL_PATH", key.Values()[0]->Data());
    EXPECT_TRUE(key.Values()[5]->KeepExisting());
    EXPECT_FALSE(key.Values()[7]->KeepExisting());
    EXPECT_EQ(L"MULTI_SZ", key.Values()[8]->Type());
    EXPECT_EQ(L"exe\\0dll\\0sys", key.Values()[8]->Data());
    EXPECT_EQ(L"delete", engine.registryOperations[1]->Operation());

    ASSERT_EQ(2u, engine.executables.size());
    EXPECT_EQ(L"redist", engine.executables[0]->Source());
    EXPECT_EQ(L"crt_x86.exe", engine.executables[1]->FileName());

    ASSERT_EQ(1u, engine.services.size());
    const Service& service = *engine.services[0];
    EXPECT_EQ(L"TarnexEngine", service.serviceName);
    EXPECT_EQ(L"RpcSs", service.dependOnService);
    EXPECT_EQ(2, service.start);
    EXPECT_EQ(86400, service.failureRestart.resetPeriod);
    EXPECT_EQ(3, service.failureRestart.restartCount);
    EXPECT_EQ(60, service.failureRestart.restartDelay);
    EXPECT_EQ(L"", service.location);

    EXPECT_EQ(L"Content", package.features[1]->tag);
    EXPECT_TRUE(package.features[1]->services.empty());
}

TEST(Examples, InvalidSamplePackageDoesNotDeserialize) {
    Package package;
    std::wstring error;
    EXPECT_FALSE(Deserialize(FixturePath(L"invalid-package.xml"), package, error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(package.features.empty());
}

TEST(Examples, SampleConfigurationBindsIntoPoliciesAndOverrides) {
    Configuration configuration;
    std::wstring error;
    ASSERT_TRUE(Deserialize(FixturePath(L"configuration.xml"), configuration, error)) << ToUtf8(error);
    ASSERT_EQ(1u, configuration.oasPolicies.size());
    ASSERT_EQ(1u, configuration.odsPolicies.size());
    ASSERT_EQ(2u, configuration.globalPolicies.size());

    const CPolicy& oas = *configuration.oasPolicies[0];
    EXPECT_EQ(L"DEFAULT", oas.key);
    EXPECT_EQ(L"OAS", oas.Kind());
    EXPECT_EQ(L"BULWARKGLOBAL", configuration.globalPolicies[1]->Kind());
    EXPECT_EQ(L"BULWARKGLOBAL", configuration.globalPolicies[1]->key);

    auto value = [&oas](const std::wstring& name) -> const CPolicyData* {
        for (const auto& v : oas.values)
            if (v->name == name) return v.get();
        return nullptr;
    };
    ASSERT_NE(nullptr, value(L"AV_POLICY_TIMEOUT"));
    EXPECT_EQ(L"45", value(L"AV_POLICY_TIMEOUT")->valueText);
    EXPECT_EQ(L"", value(L"AV_POLICY_TIMEOUT")->keepExisting);
    EXPECT_EQ(L"AV_POLICY_ENABLE_FILE_OAS", oas.values[0]->name);   // document order

    ASSERT_NE(nullptr, value(L"AV_POLICY_CONTEXTIDS"));
    EXPECT_EQ((std::vector<std::wstring>{L"1", L"4", L"17"}), value(L"AV_POLICY_CONTEXTIDS")->listItems);
    ASSERT_NE(nullptr, value(L"AV_POLICY_SYSTEM_STATE"));
    EXPECT_TRUE(value(L"AV_POLICY_SYSTEM_STATE")->listItems.empty());
    ASSERT_NE(nullptr, value(L"AV_POLICY_DISABLE_DETECTION"));
    EXPECT_EQ((std::vector<std::wstring>{L"3", L"14"}), value(L"AV_POLICY_DISABLE_DETECTION")->listItems);

    const CPolicyData* exclusions = value(L"AV_POLICY_EXCLUSION_FILE");
    ASSERT_NE(nullptr, exclusions);
    ASSERT_EQ(4u, exclusions->exclusions.size());
    EXPECT_EQ(0u, exclusions->exclusions[0]->type);
    EXPECT_EQ(30u, exclusions->exclusions[0]->numDays);
    EXPECT_EQ(3u, exclusions->exclusions[1]->type);
    EXPECT_EQ(2u, exclusions->exclusions[1]->flags);
    EXPECT_EQ(L"%SystemRoot%\\Temp\\", exclusions->exclusions[1]->pattern);
    EXPECT_EQ(L"\\\\fileserver\\builds\\drops", exclusions->exclusions[2]->pattern);
    EXPECT_EQ(4u, exclusions->exclusions[3]->type);

    const CPolicyData* unwanted = value(L"AV_POLICY_UNWANTED_FILES");
    ASSERT_NE(nullptr, unwanted);
    ASSERT_EQ(2u, unwanted->unwantedFiles.size());
    EXPECT_EQ(L"Test", unwanted->unwantedFiles[0]->detectionName);
    EXPECT_EQ(L"C:\\x.exe", unwanted->unwantedFiles[0]->filePath);

    EXPECT_EQ(L"12", configuration.installOverride.productId);
    EXPECT_EQ(L"1", configuration.installOverride.serviceStartMode);
    EXPECT_EQ(L"7", configuration.installOverride.contentMajorVersion);
    EXPECT_EQ(L"3", configuration.installOverride.contentMinorVersion);
}

} // namespace
