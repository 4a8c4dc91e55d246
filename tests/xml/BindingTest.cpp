// The binding accessors and the generic document loader, on small test-only element classes.
#include <gtest/gtest.h>

#include <climits>
#include "support/TestFiles.h"
#include "xml/Binding.h"
#include "xml/XmlTestSupport.h"

namespace {

struct TestFile {
    static const wchar_t* ElementName() { return L"FileOperation"; }
    void Bind(const XmlNode& node) {
        BindAttribute(node, L"operation", operation);
        BindAttribute(node, L"platform", platform);
        BindText(node, name);
    }
    std::wstring operation = L"unset", platform = L"unset", name;
};

struct TestRestart {
    static const wchar_t* ElementName() { return L"FailureRestart"; }
    void Bind(const XmlNode& node) {
        BindChildInt(node, L"ResetPeriod", resetPeriod);
        BindChildInt(node, L"RestartCount", restartCount);
        BindChildInt(node, L"RestartDelay", restartDelay);
    }
    long resetPeriod = -1, restartCount = -1, restartDelay = -1;
};

struct TestService {
    static const wchar_t* ElementName() { return L"Service"; }
    void Bind(const XmlNode& node) {
        BindChildText(node, L"ServiceName", serviceName);
        BindChildText(node, L"DependOnService", dependOnService);
        BindChildInt(node, L"Start", start);
        BindChild(node, restart);
    }
    std::wstring serviceName, dependOnService = L"unset";
    long start = -1;
    TestRestart restart;
};

struct TestFeature {
    static const wchar_t* ElementName() { return L"Feature"; }
    void Bind(const XmlNode& node) {
        BindAttribute(node, L"tag", tag);
        BindChildren(node, files);
        BindChildren(node, services);
    }
    std::wstring tag;
    std::vector<std::unique_ptr<TestFile>> files;
    std::vector<std::unique_ptr<TestService>> services;
};

struct TestPackage {
    static const wchar_t* ElementName() { return L"Package"; }
    static const wchar_t* SchemaName() { return L"install.xsd"; }
    void Bind(const XmlNode& node) {
        BindAttribute(node, L"TarnexVersion", version);
        BindChildren(node, features);
    }
    std::wstring version = L"unbound";
    std::vector<std::unique_ptr<TestFeature>> features;
};

// A root class without a schema: any well-formed document with the right root binds.
struct TestLooseRoot {
    static const wchar_t* ElementName() { return L"Loose"; }
    static const wchar_t* SchemaName() { return L""; }
    void Bind(const XmlNode& node) {
        BindName(node, name);
        BindTextList(node, L"Item", items);
    }
    std::wstring name;
    std::vector<std::wstring> items;
};

class BindingTest : public testing::Test {
protected:
    void TearDown() override { OverrideSchemaTextForTests(L"", nullptr); }

    // The root element of a document loaded without a schema; the node keeps its document alive.
    XmlNode Load(const std::wstring& text) {
        XmlDocument document;
        std::wstring error;
        EXPECT_TRUE(document.LoadFile(Write(text), error)) << ToUtf8(error);
        return document.Root().SelectSingleNode(L"./*");
    }
    std::wstring Write(const std::wstring& text) {
        return WriteDocument(dir_, L"doc" + std::to_wstring(count_++) + L".xml", text);
    }

    TempDir dir_{L"binding"};
    int count_ = 0;
};

TEST_F(BindingTest, BoolAttributeIsTrueOnlyForLowerCaseTrue) {
    XmlNodeList values = Load(L"<R><V k=\"true\"/><V k=\"1\"/><V k=\"TRUE\"/><V k=\"True\"/><V k=\"false\"/>"
                              L"<V k=\"\"/><V k=\" true\"/><V/></R>").SelectNodes(L"V");
    const bool expected[] = {true, false, false, false, false, false, false, false};
    ASSERT_EQ(static_cast<long>(std::size(expected)), values.Length());
    for (long i = 0; i < values.Length(); ++i) {
        bool field = !expected[i];
        BindBoolAttribute(values.Item(i), L"k", field);
        EXPECT_EQ(expected[i], field) << "item " << i;
    }
}

TEST(ParseLong, ConvertsLikeWcstolAndSaturates) {
    struct Case { const wchar_t* text; long expected; };
    const Case cases[] = {
        {L"2", 2},
        {L" -7x", -7},
        {L"", 0},
        {L"x1", 0},
        {L"-", 0},
        {L"- 5", 0},
        {L"+15", 15},
        {L"007", 7},
        {L"0x1A", 0},
        {L"\t\r\n\v\f 42", 42},
        {L"12 34", 12},
        {L"2147483647", LONG_MAX},
        {L"2147483648", LONG_MAX},
        {L"-2147483648", LONG_MIN},
        {L"-2147483649", LONG_MIN},
        {L"99999999999999999999999", LONG_MAX},
        {L"-99999999999999999999999", LONG_MIN},
        {L"000000000000000000000000012", 12},
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, ParseLongLikeWcstol(c.text)) << ToUtf8(c.text);
}

TEST_F(BindingTest, ChildIntReadsTheChildTextAndIsZeroWhenAbsent) {
    XmlNodeList services = Load(L"<R><S><Start>2</Start></S><S><Start> -7x</Start></S><S><Start/></S>"
                                L"<S><Start>4294967296</Start></S><S/><S><Other><Start>3</Start></Other></S></R>")
                               .SelectNodes(L"S");
    const long expected[] = {2, -7, 0, LONG_MAX, 0, 0};
    ASSERT_EQ(static_cast<long>(std::size(expected)), services.Length());
    for (long i = 0; i < services.Length(); ++i) {
        long field = 5;
        BindChildInt(services.Item(i), L"Start", field);
        EXPECT_EQ(expected[i], field) << "item " << i;
    }
}

TEST_F(BindingTest, ChildTextIsUnchangedWhenAbsentButAttributeIsCleared) {
    XmlNode root = Load(L"<R a=\"1\"><Name>n</Name><Empty/></R>");
    std::wstring text = L"before";
    BindChildText(root, L"Missing", text);
    EXPECT_EQ(L"before", text);
    BindChildText(root, L"Empty", text);
    EXPECT_EQ(L"", text);
    BindChildText(root, L"Name", text);
    EXPECT_EQ(L"n", text);

    std::wstring attribute = L"before";
    BindAttribute(root, L"b", attribute);
    EXPECT_EQ(L"", attribute);
    BindAttribute(root, L"a", attribute);
    EXPECT_EQ(L"1", attribute);
}

TEST_F(BindingTest, TextListAppendsDirectChildrenInDocumentOrder) {
    XmlNode root = Load(L"<V><Integer>1</Integer><String>s</String><Integer>2</Integer><X><Integer>9</Integer></X></V>");
    std::vector<std::wstring> list = {L"kept"};
    BindTextList(root, L"Integer", list);
    BindTextList(root, L"String", list);
    BindTextList(root, L"VirusType", list);
    EXPECT_EQ((std::vector<std::wstring>{L"kept", L"1", L"2", L"s"}), list);

    std::wstring name;
    BindName(root, name);
    EXPECT_EQ(L"V", name);
}

TEST_F(BindingTest, ChildrenKeepDocumentOrderAndAbsentChildrenLeaveFieldsAlone) {
    TestFeature feature;
    feature.Bind(Load(L"<Feature tag=\"F\">"
                      L"<FileOperation operation=\"copy\">a</FileOperation>"
                      L"<Service><ServiceName>S1</ServiceName><Start>2</Start></Service>"
                      L"<FileOperation platform=\"x86\">b</FileOperation>"
                      L"<Service><FailureRestart><ResetPeriod>60</ResetPeriod><RestartDelay>7</RestartDelay></FailureRestart></Service>"
                      L"</Feature>"));
    EXPECT_EQ(L"F", feature.tag);
    ASSERT_EQ(2u, feature.files.size());
    EXPECT_EQ(L"a", feature.files[0]->name);
    EXPECT_EQ(L"copy", feature.files[0]->operation);
    EXPECT_EQ(L"", feature.files[0]->platform);
    EXPECT_EQ(L"b", feature.files[1]->name);
    EXPECT_EQ(L"x86", feature.files[1]->platform);

    ASSERT_EQ(2u, feature.services.size());
    const TestService& first = *feature.services[0];
    EXPECT_EQ(L"S1", first.serviceName);
    EXPECT_EQ(L"unset", first.dependOnService);
    EXPECT_EQ(2, first.start);
    EXPECT_EQ(-1, first.restart.resetPeriod);   // no FailureRestart: the embedded object stays as built
    const TestService& second = *feature.services[1];
    EXPECT_EQ(0, second.start);
    EXPECT_EQ(60, second.restart.resetPeriod);
    EXPECT_EQ(0, second.restart.restartCount);
    EXPECT_EQ(7, second.restart.restartDelay);

    TestFeature empty;
    empty.Bind(Load(L"<Feature/>"));
    EXPECT_TRUE(empty.files.empty());
    EXPECT_TRUE(empty.services.empty());
}

TEST_F(BindingTest, ChildrenWithAMakerBindEveryElementChild) {
    struct Entry {
        explicit Entry(std::wstring kind) : kind(std::move(kind)) {}
        void Bind(const XmlNode& node) { BindName(node, name); }
        std::wstring kind, name;
    };
    std::vector<std::unique_ptr<Entry>> entries;
    BindChildrenWith(Load(L"<P><AV_POLICY_TIMEOUT>1</AV_POLICY_TIMEOUT><!-- note --><AV_POLICY_CONTEXTIDS/></P>"),
                     L"./*", entries, [] { return std::make_unique<Entry>(L"OAS"); });
    ASSERT_EQ(2u, entries.size());
    EXPECT_EQ(L"AV_POLICY_TIMEOUT", entries[0]->name);
    EXPECT_EQ(L"AV_POLICY_CONTEXTIDS", entries[1]->name);
    EXPECT_EQ(L"OAS", entries[1]->kind);
}

TEST_F(BindingTest, DeserializeBindsAValidDocument) {
    const std::wstring path = Write(L"<Package schemaVersion=\"1\" TarnexVersion=\"5.2\">"
                                    L"<Feature tag=\"A\"><FileOperation operation=\"copy\" sha256=\"" + Digest() +
                                    L"\">a.dll</FileOperation></Feature><Feature tag=\"B\"/></Package>");
    TestPackage package;
    std::wstring error;
    ASSERT_TRUE(Deserialize(path, package, error)) << ToUtf8(error);
    EXPECT_EQ(L"5.2", package.version);
    ASSERT_EQ(2u, package.features.size());
    EXPECT_EQ(L"B", package.features[1]->tag);
    ASSERT_EQ(1u, package.features[0]->files.size());
    EXPECT_EQ(L"a.dll", package.features[0]->files[0]->name);
}

TEST_F(BindingTest, DeserializeOfAnInvalidDocumentFailsAndBindsNothing) {
    const std::wstring path = Write(L"<Package schemaVersion=\"1\" TarnexVersion=\"5.2\"><Feature/></Package>");
    TestPackage package;
    std::wstring error;
    EXPECT_FALSE(Deserialize(path, package, error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(L"unbound", package.version);
}

TEST_F(BindingTest, MissingOrBrokenSchemaFailsBeforeTheDocumentIsRead) {
    // The document is not even well-formed: only the schema failure can be reported.
    const std::wstring path = Write(L"<Package");
    const std::string empty;
    const std::string broken = "<xs:schema";
    for (const std::string* schema : {&empty, &broken}) {
        OverrideSchemaTextForTests(L"install.xsd", schema);
        TestPackage package;
        std::wstring error;
        EXPECT_FALSE(Deserialize(path, package, error));
        EXPECT_EQ(L"Fail to load schema for object.", error) << schema->size();
    }
}

TEST_F(BindingTest, RootWithoutSchemaLoadsAnyWellFormedDocument) {
    TestLooseRoot root;
    std::wstring error;
    ASSERT_TRUE(Deserialize(Write(L"<Loose><Item>a</Item><Undeclared/><Item>b</Item></Loose>"), root, error)) << ToUtf8(error);
    EXPECT_EQ(L"Loose", root.name);
    EXPECT_EQ((std::vector<std::wstring>{L"a", L"b"}), root.items);

    TestLooseRoot other;
    EXPECT_FALSE(Deserialize(Write(L"<Tight/>"), other, error));
    EXPECT_EQ(L"", error);
}

TEST_F(BindingTest, LargeValidDocumentLoadsAndBinds) {
    // 10 features of 1,000 file operations each: 10,011 elements.
    const int features = 10, filesPerFeature = 1000;
    std::wstring text = L"<Package schemaVersion=\"1\" TarnexVersion=\"5.2\">";
    for (int f = 0; f < features; ++f) {
        text += L"<Feature tag=\"F" + std::to_wstring(f) + L"\">";
        for (int i = 0; i < filesPerFeature; ++i)
            text += L"<FileOperation operation=\"copy\" sha256=\"" + Digest() + L"\">f" + std::to_wstring(i) + L".dll</FileOperation>";
        text += L"</Feature>";
    }
    text += L"</Package>";

    TestPackage package;
    std::wstring error;
    ASSERT_TRUE(Deserialize(Write(text), package, error)) << ToUtf8(error);
    ASSERT_EQ(static_cast<size_t>(features), package.features.size());
    for (const auto& feature : package.features) ASSERT_EQ(static_cast<size_t>(filesPerFeature), feature->files.size());
    EXPECT_EQ(L"F9", package.features[9]->tag);
    EXPECT_EQ(L"f999.dll", package.features[9]->files[999]->name);
}

} // namespace
