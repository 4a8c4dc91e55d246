// The limits that refuse an absurd document before the parser sees it.
#include <gtest/gtest.h>
#include <string>

#include "support/TestFiles.h"
#include "xml/DocumentLimits.h"

namespace {

std::string Repeat(const std::string& part, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) text += part;
    return text;
}

std::string Utf16Le(const std::string& ascii) {
    std::string bytes = "\xFF\xFE";
    for (const char c : ascii) {
        bytes.push_back(c);
        bytes.push_back('\0');
    }
    return bytes;
}

TEST(DocumentLimits, RefuseEachLimitWithItsNameAndPassWhatStaysWithin) {
    DocumentLimits limits;
    limits.maxBytes = 4000;
    limits.maxElements = 10;
    limits.maxDepth = 3;
    limits.maxAttributesPerElement = 2;
    limits.maxAttributes = 4;
    struct Case { const char* name; std::string document; const wchar_t* expected; };
    const Case cases[] = {
        { "within", "<?xml version=\"1.0\"?><!-- <a><b><c><d> --><P a=\"1\" b='>'><F t=\"x\"/><F/></P>", L"" },
        { "ten elements", "<P>" + Repeat("<F/>", 9) + "</P>", L"" },
        { "eleven elements", "<P>" + Repeat("<F/>", 10) + "</P>", L"elements" },
        { "three levels", "<a><b><c/></b></a>", L"" },
        { "four levels", "<a><b><c><d/></c></b></a>", L"levels of nested elements" },
        { "siblings close their level", "<a><b></b><b></b><b><c/></b></a>", L"" },
        { "three attributes", "<a x=\"1\" y=\"2\" z=\"3\"/>", L"attributes on one element" },
        { "equals signs inside values", "<a x=\"1=2=3\" y='a=b'/>", L"" },
        { "four attributes in all", "<a x=\"1\"><b x=\"1\" y=\"2\"/><c z=\"3\"/></a>", L"" },
        { "five attributes in all", "<a x=\"1\"><b x=\"1\" y=\"2\"/><c z=\"3\" w=\"4\"/></a>", L"limit of 4 attributes." },
        { "markup inside CDATA", "<a><![CDATA[" + Repeat("<F>", 50) + "]]></a>", L"" },
        { "DOCTYPE with its subset", "<!DOCTYPE a [<!ENTITY e \"<b><b><b><b>\">]><a/>", L"" },
        { "external DTD", "<!DOCTYPE a SYSTEM \"file:///C:/x.dtd\"><a/>", L"outside the document" },
        { "external entity", "<!DOCTYPE a [<!ENTITY e SYSTEM \"C:\\x.txt\">]><a>&e;</a>", L"outside the document" },
        { "external parameter entity", "<!DOCTYPE a [<!ENTITY % p PUBLIC \"-//x\" \"x.dtd\"> %p;]><a/>",
          L"outside the document" },
        { "UTF-16 external DTD", Utf16Le("<!DOCTYPE a SYSTEM \"x.dtd\"><a/>"), L"outside the document" },
        { "too large", std::string(4001, ' '), L"bytes" },
        { "UTF-16 too deep", Utf16Le("<a><b><c><d/></c></b></a>"), L"levels of nested elements" },
        { "UTF-16 within", Utf16Le("<a><b/></a>"), L"" },
    };
    for (const auto& c : cases) {
        const std::wstring reason = CheckDocumentLimits(c.document, limits);
        if (*c.expected == L'\0') {
            EXPECT_EQ(L"", reason) << c.name;
        } else {
            EXPECT_NE(std::wstring::npos, reason.find(c.expected)) << c.name << ": " << ToUtf8(reason);
        }
    }
}

TEST(DocumentLimits, DefaultsLeaveRoomForLargePackagesButNotForAbsurdOnes) {
    const std::string element = "<FileOperation operation=\"copy\" sha256=\"00\">f.dll</FileOperation>";
    EXPECT_EQ(L"", CheckDocumentLimits("<Package><Feature tag=\"a\">" + Repeat(element, 20000) + "</Feature></Package>"));
    EXPECT_NE(L"", CheckDocumentLimits("<Package><Feature tag=\"a\">" + Repeat("<F/>", 100000) + "</Feature></Package>"));
    EXPECT_NE(L"", CheckDocumentLimits(Repeat("<a>", 101)));
    EXPECT_NE(L"", CheckDocumentSize(16u * 1024 * 1024 + 1));
}

} // namespace

#include "xml/XmlDocument.h"

namespace {

TEST(DocumentLimits, LoadingRefusesTheDocumentWithTheLimitAndThePathInTheReason) {
    {
        TempDir dir(L"limits");
        const std::wstring path = dir / L"deep.xml";
        ASSERT_TRUE(WriteFileBytes(path, Repeat("<a>", 200) + Repeat("</a>", 200)));
        XmlDocument document;
        std::wstring error;
        EXPECT_FALSE(document.LoadFile(path, error));
        EXPECT_NE(std::wstring::npos, error.find(path)) << ToUtf8(error);
        EXPECT_NE(std::wstring::npos, error.find(L"limit of 100 levels of nested elements")) << ToUtf8(error);
    }
}

} // namespace
