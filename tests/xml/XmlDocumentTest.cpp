// The document layer: loading, validation against the embedded schemas, node access, the text
// rule for CDATA markers, and the MSXML 4.0 fallback.
#include <gtest/gtest.h>

#include "support/TestFiles.h"
#include "xml/Binding.h"
#include "xml/XmlDocument.h"
#include "xml/XmlTestSupport.h"

namespace {

const wchar_t kValidPackage[] =
    L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    L"<Package schemaVersion=\"1.0\" TarnexVersion=\"5.2\">\n"
    L"  <Feature tag=\"Engine\">\n"
    L"    <FileOperation operation=\"copy\" platform=\"x64\" sha256=\"%DIGEST%\">a.dll</FileOperation>\n"
    L"    <FileOperation operation=\"delete\" sha256=\"%DIGEST%\">b.dll</FileOperation>\n"
    L"    <RegistryOperation operation=\"create\">\n"
    L"      <RegKey key=\"HKLM\\SOFTWARE\\T\"><RegValue type=\"SZ\" name=\"n\" data=\"d\"/></RegKey>\n"
    L"    </RegistryOperation>\n"
    L"  </Feature>\n"
    L"</Package>\n";

std::wstring WithDigest(std::wstring text) {
    const std::wstring marker = L"%DIGEST%";
    for (size_t at = text.find(marker); at != std::wstring::npos; at = text.find(marker, at))
        text.replace(at, marker.size(), Digest());
    return text;
}

// Each behaviour runs with the MSXML 6.0 classes and again with the 4.0 classes forced.
class XmlDocumentTest : public testing::TestWithParam<bool> {
protected:
    void SetUp() override { ForceMsxml40ForTests(GetParam()); }
    void TearDown() override {
        ForceMsxml40ForTests(false);
        OverrideSchemaTextForTests(L"", nullptr);
    }

    std::wstring Write(const std::wstring& text) { return WriteDocument(dir_, L"doc" + std::to_wstring(count_++) + L".xml", text); }

    TempDir dir_{L"xmldoc"};
    int count_ = 0;
};

TEST_P(XmlDocumentTest, CreatesTheRequestedMsxmlVersion) {
    XmlDocument document;
    ASSERT_TRUE(document.EnsureCreated());
    EXPECT_EQ(GetParam() ? 4 : 6, document.MsxmlVersion());
}

TEST_P(XmlDocumentTest, ValidDocumentLoadsAndItsNodesRead) {
    std::wstring error;
    XmlDocument document;
    ASSERT_TRUE(document.AttachSchema(LoadSchemaResource(L"install.xsd"), L"install.xsd"));
    ASSERT_TRUE(document.LoadFile(Write(WithDigest(kValidPackage)), error)) << error;

    XmlNode package = document.Root().SelectSingleNode(L"Package");
    ASSERT_FALSE(package.IsEmpty());
    EXPECT_EQ(L"Package", package.GetName());
    EXPECT_EQ(L"5.2", package.GetAttribute(L"TarnexVersion"));

    XmlNode feature = package.SelectSingleNode(L"Feature");
    XmlNodeList files = feature.SelectNodes(L"FileOperation");
    ASSERT_EQ(2, files.Length());
    EXPECT_EQ(L"a.dll", files.Item(0).GetText());
    EXPECT_EQ(L"x64", files.Item(0).GetAttribute(L"platform"));
    // An optional attribute that is absent reads as the empty string.
    EXPECT_EQ(L"", files.Item(1).GetAttribute(L"platform"));
    EXPECT_EQ(L"", files.Item(1).GetAttribute(L"destination"));
    EXPECT_TRUE(files.Item(2).IsEmpty());

    // "./*" selects every element child in document order; a name selects direct children only.
    XmlNodeList children = feature.SelectNodes(L"./*");
    ASSERT_EQ(3, children.Length());
    EXPECT_EQ(L"RegistryOperation", children.Item(2).GetName());
    EXPECT_EQ(0, feature.SelectNodes(L"RegKey").Length());
    EXPECT_TRUE(feature.SelectSingleNode(L"RegValue").IsEmpty());
}

TEST_P(XmlDocumentTest, UndeclaredElementFailsAtLoadWithTheValidatorsReason) {
    std::wstring text = WithDigest(kValidPackage);
    text.replace(text.find(L"  </Feature>"), 0, L"    <Bogus/>\n");
    std::wstring error;
    XmlDocument document;
    ASSERT_TRUE(document.AttachSchema(LoadSchemaResource(L"install.xsd"), L"install.xsd"));
    EXPECT_FALSE(document.LoadFile(Write(text), error));
    EXPECT_FALSE(error.empty());
}

TEST_P(XmlDocumentTest, UndeclaredAttributeFailsAtLoad) {
    std::wstring text = WithDigest(kValidPackage);
    text.replace(text.find(L"tag=\"Engine\""), 0, L"colour=\"red\" ");
    std::wstring error;
    EXPECT_FALSE(LoadValidated(L"install.xsd", Write(text), error));
    EXPECT_FALSE(error.empty());
}

TEST_P(XmlDocumentTest, MalformedAndMissingFilesFailWithAReason) {
    std::wstring error;
    const std::wstring malformed = Write(L"<Package schemaVersion=\"1\"><Feature></Package>");
    EXPECT_FALSE(LoadValidated(L"install.xsd", malformed, error));
    EXPECT_FALSE(error.empty());
    EXPECT_NE(_wcsicmp(error.c_str(), L"error"), 0) << ToUtf8(error);

    error.clear();
    const std::wstring absent = dir_ / L"absent.xml";
    EXPECT_FALSE(LoadValidated(L"install.xsd", absent, error));
    EXPECT_NE(_wcsicmp(error.c_str(), L"error"), 0) << ToUtf8(error);
    EXPECT_NE(error.find(absent), std::wstring::npos) << ToUtf8(error);
}

TEST(LoadFailureText, KeepsAReasonThatSaysSomethingAndExplainsAGenericOne) {
    struct Case { const wchar_t* reason; DWORD openError; long line; const wchar_t* expected; };
    const Case cases[] = {
        { L"End tag 'Package' does not match the start tag 'Feature'.", 0, 1,
          L"End tag 'Package' does not match the start tag 'Feature'." },
        { L"error", 0, 3, L"C:\\d\\p.xml is not a well-formed XML document (line 3, position 7) (error 0x80004005)" },
        { L" Error ", 0, 0, L"C:\\d\\p.xml is not a well-formed XML document (error 0x80004005)" },
        { L"", 0, 0, L"C:\\d\\p.xml is not a well-formed XML document (error 0x80004005)" },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LoadFailureText(L"C:\\d\\p.xml", c.reason, E_FAIL, c.openError, c.line, 7), c.expected)
            << ToUtf8(c.reason);
    }
    const std::wstring missing = LoadFailureText(L"C:\\d\\p.xml", L"error", E_FAIL, ERROR_FILE_NOT_FOUND, 0, 0);
    EXPECT_EQ(missing.rfind(L"Cannot open C:\\d\\p.xml", 0), 0u) << ToUtf8(missing);
    EXPECT_NE(missing.find(L"(error 2)"), std::wstring::npos) << ToUtf8(missing);
}

TEST_P(XmlDocumentTest, WithoutASchemaAnyWellFormedDocumentLoads) {
    std::wstring error;
    XmlDocument document;
    ASSERT_TRUE(document.LoadFile(Write(L"<Anything><Bogus a=\"1\"/></Anything>"), error)) << error;
    EXPECT_EQ(L"1", document.Root().SelectSingleNode(L"Anything").SelectSingleNode(L"Bogus").GetAttribute(L"a"));
}

TEST_P(XmlDocumentTest, SchemaTextThatIsNotWellFormedIsNotAttached) {
    XmlDocument document;
    EXPECT_FALSE(document.AttachSchema("<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\">"));
    XmlDocument another;
    EXPECT_FALSE(another.AttachSchema(""));
}

TEST_P(XmlDocumentTest, EscapedCdataMarkersAreStrippedFromTheTextStart) {
    std::wstring error;
    XmlDocument document;
    ASSERT_TRUE(document.LoadFile(Write(L"<R>"
                                        L"<A>&lt;![CDATA[abc]]&gt;</A>"
                                        L"<B>x&lt;![CDATA[abc]]&gt;</B>"
                                        L"<C><![CDATA[a<b]]></C>"
                                        L"<D>one<E>two</E></D>"
                                        L"</R>"),
                                  error)) << error;
    XmlNode root = document.Root().SelectSingleNode(L"R");
    EXPECT_EQ(L"abc", root.SelectSingleNode(L"A").GetText());
    EXPECT_EQ(L"x<![CDATA[abc]]>", root.SelectSingleNode(L"B").GetText());
    // A real CDATA section is already plain text in the DOM.
    EXPECT_EQ(L"a<b", root.SelectSingleNode(L"C").GetText());
    // The text of an element includes that of its descendants.
    EXPECT_EQ(L"onetwo", root.SelectSingleNode(L"D").GetText());
}

TEST_P(XmlDocumentTest, RootElementOtherThanTheRootClassValidatesButDoesNotDeserialize) {
    const std::wstring path = Write(WithDigest(L"<Feature tag=\"Engine\">"
                                               L"<DirectoryOperation operation=\"create\">C:\\x</DirectoryOperation>"
                                               L"</Feature>"));
    std::wstring error;
    EXPECT_TRUE(LoadValidated(L"install.xsd", path, error)) << error;

    XmlDocument document;
    XmlNode root;
    error = L"stale";
    EXPECT_FALSE(DeserializeDocument(path, L"install.xsd", L"Package", root, document, error));
    EXPECT_EQ(L"", error);
    EXPECT_TRUE(root.IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Msxml, XmlDocumentTest, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "Msxml40" : "Msxml60"; });

TEST(CdataText, RuleOnTheTextStart) {
    struct Case { const wchar_t* text; const wchar_t* expected; };
    const Case cases[] = {
        {L"<![CDATA[abc]]>", L"abc"},
        {L"x<![CDATA[abc]]>", L"x<![CDATA[abc]]>"},
        {L"<![CDATA[]]>", L""},
        {L"<![CDATA[ab", L""},           // shorter than the two markers: nothing is left
        {L"<![CDATA[", L""},
        {L"<![CDATA[abcdef", L"abc"},    // the last three characters go whatever they are
        {L"<![cdata[abc]]>", L"<![cdata[abc]]>"},
        {L"", L""},
        {L"plain", L"plain"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, StripCdataMarkers(c.text)) << c.text;
}

TEST(EmptyNode, EveryOperationGivesAnEmptyResult) {
    XmlNode empty;
    EXPECT_TRUE(empty.IsEmpty());
    EXPECT_TRUE(empty.SelectSingleNode(L"A").IsEmpty());
    EXPECT_EQ(0, empty.SelectNodes(L"./*").Length());
    EXPECT_TRUE(empty.SelectNodes(L"./*").Item(0).IsEmpty());
    EXPECT_EQ(L"", empty.GetAttribute(L"a"));
    EXPECT_EQ(L"", empty.GetText());
    EXPECT_EQ(L"", empty.GetName());
    EXPECT_TRUE(XmlDocument().Root().IsEmpty());
}

TEST(SchemaResource, FoundByItsFileNameInAnyCase) {
    const std::string schema = LoadSchemaResource(L"install.xsd");
    EXPECT_EQ(ReadFileBytes(FixturePath(L"install.xsd")), schema);
    EXPECT_EQ(schema, LoadSchemaResource(L"INSTALL.XSD"));
    EXPECT_EQ(ReadFileBytes(FixturePath(L"nvxcrvconfig.xsd")), LoadSchemaResource(L"nvxcrvconfig.xsd"));
    EXPECT_EQ("", LoadSchemaResource(L"absent.xsd"));
}

TEST(SchemaResource, OverrideReplacesAndRestoresTheResource) {
    const std::string replacement = "<x/>";
    OverrideSchemaTextForTests(L"install.xsd", &replacement);
    EXPECT_EQ(replacement, LoadSchemaResource(L"Install.xsd"));
    OverrideSchemaTextForTests(L"install.xsd", nullptr);
    EXPECT_EQ(ReadFileBytes(FixturePath(L"install.xsd")), LoadSchemaResource(L"install.xsd"));
}

TEST(ValidationFailure, TextNamesTheSchemaAndTheCode) {
    EXPECT_EQ(L"Document does not conform to install.xsd (error 0xc00ce225)",
              ValidationFailureText(L"install.xsd", static_cast<HRESULT>(0xC00CE225)));
    EXPECT_EQ(L"Document does not conform to its schema (error 0x00000001)", ValidationFailureText(L"", S_FALSE));
}

} // namespace
