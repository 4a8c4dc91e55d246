#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <stdexcept>
#include <thread>
#include "policy/PolicyCommon.h"
#include "shell/AVException.h"
#include "support/TestFiles.h"
#include "xml/XmlDocument.h"

namespace {

TEST(PolicyCatalogue, KnowsKindAndRegistryNameOfEachValueKind) {
    struct Case { const wchar_t* element; PolicyValueKind kind; const wchar_t* registryName; };
    const Case cases[] = {
        { L"AV_POLICY_TIMEOUT", PolicyKindNumber, L"scantimeout" },
        { L"AV_POLICY_ENABLE_FILE_OAS", PolicyKindBoolean, L"enablefileoas" },
        { L"AV_POLICY_BACKUP_DIRECTORY", PolicyKindString, L"backupdirectory" },
        { L"AV_POLICY_PRIMARY_ACTION_ROOTKIT_OBSOLETE", PolicyKindScanAction, L"primaryactionrootkit" },
        { L"AV_POLICY_SECONDARY_ACTION_DEFAULT", PolicyKindScanAction, L"secondaryactiondefault" },
        { L"AV_POLICY_CACHE_TYPE", PolicyKindCacheType, L"cachetype" },
        { L"AV_POLICY_EXTENSION_OPTION", PolicyKindExtensionOption, L"extensionoption" },
        { L"AV_POLICY_UNWANTED_FILES", PolicyKindUnwantedFileList, L"unwantedfiles" },
        { L"AV_POLICY_SYSTEM_STATE", PolicyKindIntegerList, L"systemstates" },
        { L"AV_POLICY_EXCLUSION_FILE", PolicyKindExclusionList, L"exclusions" },
        { L"AV_POLICY_DISABLE_DETECTION", PolicyKindVirusTypeList, L"disabledetection" },
        { L"AV_POLICY_INCLUSION_PROCESS", PolicyKindStringList, L"processinclusionlist" },
        { L"AV_POLICY_INITIAL_IO_PRIORITY", PolicyKindScanPriority, L"initialiopriority" },
        { L"AV_POLICY_BOOT_DAT_INTERVAL", PolicyKindNumber, L"bootdatsinterval" },
        // Catalogued although no policy element admits it.
        { L"AV_POLICY_DRIVER_CLASSIFICATION", PolicyKindDriverClassification, L"classifydriverasbad" },
        // Stored in the policy key's unnamed value.
        { L"AV_POLICY_EXCLUSION_BEHAVIOUR", PolicyKindString, L"" },
        { L"AV_POLICY_REPAIR_BACKUP_BEHAVIOUR", PolicyKindBoolean, L"" },
        { L"AV_POLICY_STORAGE_CONFIG", PolicyKindNumber, L"" },
        // Not catalogued: names match exactly, and the global policy's server address has no entry.
        { L"av_policy_timeout", PolicyKindNotCatalogued, L"" },
        { L"AV_POLICY_TIMEOUT ", PolicyKindNotCatalogued, L"" },
        { L"AV_POLICY_CLQ_SERVER_IP", PolicyKindNotCatalogued, L"" },
        { L"", PolicyKindNotCatalogued, L"" },
    };
    const PolicyCatalogue& catalogue = PolicyCatalogue::Instance();
    for (const auto& c : cases) {
        EXPECT_EQ(catalogue.GetValueKind(c.element), c.kind) << ToUtf8(c.element);
        EXPECT_EQ(catalogue.GetRegistryValueName(c.element), c.registryName) << ToUtf8(c.element);
    }
}

TEST(PolicyCatalogue, LookupByUnknownIdentifierRaisesInvalidPolicyType) {
    const PolicyCatalogue& catalogue = PolicyCatalogue::Instance();
    EXPECT_EQ(catalogue.GetValueKindById(8), PolicyKindNumber);
    EXPECT_EQ(catalogue.GetRegistryValueNameById(8), L"scantimeout");
    for (int id : { 0, 10, 17, 124, -1 }) {
        try {
            catalogue.GetValueKindById(id);
            ADD_FAILURE() << "no exception for kind of id " << id;
        } catch (const AVException& e) {
            EXPECT_EQ(e.Code(), 0xA7F40509u);
            EXPECT_EQ(e.Message(), "Invalid policy type");
            EXPECT_EQ(e.SourceFile(), "PolicyCommon");
        }
        EXPECT_THROW(catalogue.GetRegistryValueNameById(id), AVException) << id;
    }
}

// The first child element with that (prefixed) name.
XmlNode ChildNamed(const XmlNode& node, const std::wstring& name) {
    XmlNodeList children = node.SelectNodes(L"./*");
    for (long i = 0; i < children.Length(); ++i) {
        if (children.Item(i).GetName() == name) return children.Item(i);
    }
    return XmlNode();
}

// The element names each policy element of the embedded configuration schema admits.
std::set<std::wstring> AdmittedElements(const XmlNode& schema, const std::wstring& policyElement) {
    std::set<std::wstring> names;
    XmlNodeList topLevel = schema.SelectNodes(L"./*");
    for (long i = 0; i < topLevel.Length(); ++i) {
        XmlNode declaration = topLevel.Item(i);
        if (declaration.GetName() != L"xs:element" || declaration.GetAttribute(L"name") != policyElement) continue;
        XmlNode group = ChildNamed(ChildNamed(declaration, L"xs:complexType"), L"xs:all");
        XmlNodeList members = group.SelectNodes(L"./*");
        for (long j = 0; j < members.Length(); ++j) {
            XmlNode member = members.Item(j);
            std::wstring name = member.GetAttribute(L"ref");
            if (name.empty()) name = member.GetAttribute(L"name");
            names.insert(name);
        }
    }
    return names;
}

TEST(PolicyCatalogue, CataloguesEveryElementTheSchemaAdmitsExceptTheFiveObsoleteOnes) {
    const std::string schemaText = LoadSchemaResource(L"nvxcrvconfig.xsd");
    ASSERT_FALSE(schemaText.empty());
    XmlDocument document;
    ASSERT_TRUE(document.LoadText(schemaText));
    XmlNode schema = ChildNamed(document.Root(), L"xs:schema");
    ASSERT_FALSE(schema.IsEmpty());

    std::set<std::wstring> admitted;
    for (const wchar_t* policy : { L"OASPolicy", L"ODSPolicy", L"GlobalPolicy" }) {
        const std::set<std::wstring> names = AdmittedElements(schema, policy);
        EXPECT_GT(names.size(), 20u) << ToUtf8(policy);
        admitted.insert(names.begin(), names.end());
    }

    const std::set<std::wstring> uncatalogued = {
        L"AV_POLICY_ENABLE_COOKIE_SCANNING_OBSOLETE", L"AV_POLICY_PRIMARY_ACTION_COOKIE_OBSOLETE",
        L"AV_POLICY_SECONDARY_ACTION_COOKIE_OBSOLETE", L"AV_POLICY_REPAIR_BACKUP_COOKIE_OBSOLETE",
        L"AV_POLICY_CLQ_SERVER_IP",
    };
    const PolicyCatalogue& catalogue = PolicyCatalogue::Instance();
    for (const std::wstring& name : admitted) {
        const bool expectCatalogued = uncatalogued.count(name) == 0;
        EXPECT_EQ(catalogue.GetValueKind(name) != PolicyKindNotCatalogued, expectCatalogued) << ToUtf8(name);
    }
    for (const std::wstring& name : uncatalogued) EXPECT_EQ(admitted.count(name), 1u) << ToUtf8(name);

    // The other way round: every catalogued name is admitted somewhere, but for the two entries
    // that no policy element carries.
    std::set<std::wstring> notAdmitted;
    for (const PolicyNameRow& row : PolicyNameTable()) {
        if (admitted.count(row.name) == 0) notAdmitted.insert(row.name);
    }
    EXPECT_EQ(notAdmitted, (std::set<std::wstring>{ L"AV_POLICY_STORAGE_CONFIG", L"AV_POLICY_DRIVER_CLASSIFICATION" }));
}

TEST(PolicyCatalogue, NameAndEntryTablesDescribeTheSameHundredAndTenIdentifiers) {
    std::set<int> named;
    for (const PolicyNameRow& row : PolicyNameTable()) named.insert(row.id);
    std::set<int> entered;
    for (const PolicyEntryRow& row : PolicyEntryTable()) {
        EXPECT_TRUE(entered.insert(row.id).second) << "identifier listed twice: " << row.id;
        EXPECT_NE(row.kind, PolicyKindNotCatalogued) << row.id;
    }
    EXPECT_EQ(named, entered);

    // The overrides are recorded after the policies are written; that order is only safe while
    // no policy value carries the name of an override.
    for (const PolicyEntryRow& row : PolicyEntryTable()) {
        for (const wchar_t* overridden : { L"dwProductID", L"Start", L"dwContentMajorVersion", L"dwContentMinorVersion" }) {
            EXPECT_NE(std::wstring(row.registryName), overridden) << row.id;
        }
    }

    const PolicyCatalogue& catalogue = PolicyCatalogue::Instance();
    EXPECT_EQ(catalogue.EntryCount(), 110u);
    EXPECT_EQ(catalogue.NameCount(), 110u);
    for (const PolicyNameRow& row : PolicyNameTable()) {
        EXPECT_NO_THROW(catalogue.GetValueKindById(row.id)) << ToUtf8(row.name);
    }
}

// Tests that rebuild the catalogue leave a normal one behind for the tests after them.
class CatalogueBuild : public testing::Test {
protected:
    void SetUp() override { PolicyCatalogue::ResetForTests(); }
    void TearDown() override {
        PolicyCatalogue::SetBuildHookForTests(nullptr);
        PolicyCatalogue::ResetForTests();
    }
};

TEST_F(CatalogueBuild, ConcurrentFirstCallsBuildOneCatalogue) {
    // The first builder lingers so that the second caller arrives while the build is under way.
    PolicyCatalogue::SetBuildHookForTests([] { std::this_thread::sleep_for(std::chrono::milliseconds(200)); });
    const unsigned long builtBefore = PolicyCatalogue::BuildCountForTests();

    std::atomic<bool> go{ false };
    PolicyCatalogue* seen[2] = {};
    auto caller = [&](int slot) {
        while (!go.load()) std::this_thread::yield();
        seen[slot] = &PolicyCatalogue::Instance();
    };
    std::thread first(caller, 0);
    std::thread second(caller, 1);
    go = true;
    first.join();
    second.join();

    EXPECT_EQ(PolicyCatalogue::BuildCountForTests() - builtBefore, 1u);
    ASSERT_NE(seen[0], nullptr);
    EXPECT_EQ(seen[0], seen[1]);
    EXPECT_EQ(seen[0]->GetValueKind(L"AV_POLICY_TIMEOUT"), PolicyKindNumber);
}

TEST_F(CatalogueBuild, BuildThatRaisesLeavesTheLockSoAnotherThreadCanBuild) {
    PolicyCatalogue::SetBuildHookForTests([] { throw std::runtime_error("build failed"); });
    EXPECT_THROW(PolicyCatalogue::Instance(), std::runtime_error);
    PolicyCatalogue::SetBuildHookForTests(nullptr);

    // Another thread would block for ever on a critical section still held by this one.
    std::atomic<bool> done{ false };
    std::atomic<PolicyValueKind> kind{ PolicyKindNotCatalogued };
    std::thread other([&] {
        kind = PolicyCatalogue::Instance().GetValueKind(L"AV_POLICY_TIMEOUT");
        done = true;
    });
    for (int i = 0; i < 500 && !done.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!done.load()) {
        other.detach();
        FAIL() << "the build lock was not released";
    }
    other.join();
    EXPECT_EQ(kind.load(), PolicyKindNumber);
}

} // namespace
