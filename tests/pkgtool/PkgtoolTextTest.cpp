// The pure parts of pkgtool: element lines, INF sections, XML escaping, the command line and the
// shape of a finding.
#include <gtest/gtest.h>
#include "pkgtool/ElementLines.h"
#include "pkgtool/Harvest.h"
#include "pkgtool/InfSections.h"
#include "pkgtool/Lint.h"
#include "pkgtool/PkgtoolCommandLine.h"
#include "support/TestFiles.h"

namespace {

TEST(ElementLines, FindsTheLineOfEveryStartTagPastCommentsCdataAndQuotedBrackets) {
    const std::string document =
        "<?xml version=\"1.0\"?>\n"                          // 1
        "<!-- <Feature> in a comment\n"                      // 2
        "     spans lines -->\n"                             // 3
        "<Package a=\"x>y\">\n"                              // 4
        "  <Feature tag='one'><FileOperation\n"              // 5
        "      sha256=\"00\">a</FileOperation>\n"            // 6
        "    <FileOperation sha256=\"11\"><![CDATA[<Driver>]]></FileOperation>\n"   // 7
        "  </Feature>\n"                                     // 8
        "  <Feature tag=\"two\"/>\n"                         // 9
        "  <Feature tag=\"three\">\n"                        // 10
        "    <Driver><InfFile/>\n"                           // 11
        "<SysFile/></Driver>\n"                              // 12
        "  </Feature>\n"
        "</Package>\n";
    ElementLine tree;
    ASSERT_TRUE(ScanElementLines(document, tree));
    const ElementLine* package = ChildElement(&tree, L"Package", 0);
    ASSERT_NE(nullptr, package);
    EXPECT_EQ(4, package->line);
    const ElementLine* one = ChildElement(package, L"Feature", 0);
    EXPECT_EQ(5, LineOf(one));
    EXPECT_EQ(5, LineOf(ChildElement(one, L"FileOperation", 0)));
    EXPECT_EQ(7, LineOf(ChildElement(one, L"FileOperation", 1)));
    EXPECT_EQ(nullptr, ChildElement(one, L"Driver", 0)) << "text inside CDATA is no element";
    EXPECT_EQ(9, LineOf(ChildElement(package, L"Feature", 1)));
    const ElementLine* three = ChildElement(package, L"Feature", 2);
    EXPECT_EQ(10, LineOf(three));
    const ElementLine* driver = ChildElement(three, L"Driver", 0);
    EXPECT_EQ(11, LineOf(ChildElement(driver, L"InfFile", 0)));
    EXPECT_EQ(12, LineOf(ChildElement(driver, L"SysFile", 0)));
    EXPECT_EQ(12, LineOf(ChildElement(driver, L"*", 1)));
    EXPECT_EQ(nullptr, ChildElement(package, L"Feature", 3));
}

TEST(ElementLines, ReadsUtf16DocumentsAndRefusesUnbalancedOnes) {
    const std::wstring wide = L"<Package>\r\n\r\n  <Feature tag=\"\u00e9\"/>\r\n</Package>";
    std::string bytes = "\xFF\xFE";
    for (wchar_t c : wide) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    ElementLine tree;
    ASSERT_TRUE(ScanElementLines(bytes, tree));
    EXPECT_EQ(3, LineOf(ChildElement(ChildElement(&tree, L"Package", 0), L"Feature", 0)));

    EXPECT_FALSE(ScanElementLines("<Package><Feature></Package>", tree) && ChildElement(&tree, L"Package", 0)->children.empty());
    EXPECT_FALSE(ScanElementLines("<Package><!-- never closed", tree));
    EXPECT_TRUE(tree.children.empty());
    // An entity may stand for elements that are nowhere in the text: their lines are unknown.
    EXPECT_FALSE(ScanElementLines("<!DOCTYPE Package [<!ENTITY f '<Feature tag=\"x\"/>'>]>\n<Package>&f;</Package>", tree));
    EXPECT_TRUE(ScanElementLines("<!DOCTYPE Package [<!ATTLIST Package a CDATA '>'>]>\n<Package/>", tree));
    EXPECT_EQ(2, LineOf(ChildElement(&tree, L"Package", 0)));
}

TEST(InfSections, SectionsAreFoundWithoutCaseAndCommentsAreDropped) {
    const InfSections inf = ParseInfText(
        L"; header\r\n[Version]\r\nSignature = \"$Windows NT$\" ; comment\r\nCatalogFile = \"tnx;flt.cat\"\r\n"
        L"[defaultinstall.ntamd64]\r\nAddReg = Other, NvxAddReg\r\n[DefaultUninstall.NTamd64]\r\n");
    EXPECT_TRUE(inf.Has(L"DefaultInstall.NTamd64"));
    EXPECT_TRUE(inf.Has(L"DefaultUninstall.NTamd64")) << "an empty section is still present";
    EXPECT_FALSE(inf.Has(L"DefaultInstall"));
    EXPECT_EQ(L"tnx;flt.cat", inf.Value(L"version", L"catalogfile"));
    EXPECT_EQ(L"$Windows NT$", inf.Value(L"Version", L"Signature"));
    EXPECT_TRUE(SectionReferences(inf, L"DefaultInstall.NTamd64", L"nvxaddreg"));
    EXPECT_FALSE(SectionReferences(inf, L"DefaultUninstall.NTamd64", L"NvxAddReg"));
}

TEST(InfSections, EachArchitectureNeedsTheSectionsTheDriverElementRuns) {
    const InfNeededSections x64 = NeededInfSections(L"x64");
    EXPECT_EQ(L"DefaultInstall.NTamd64", x64.install);
    EXPECT_EQ(L"DefaultInstall.NTamd64.Services", x64.installServices);
    EXPECT_EQ(L"DefaultUninstall.NTamd64", x64.uninstall);
    EXPECT_EQ(L"DefaultUninstall.NTamd64.Services", x64.uninstallServices);
    const InfNeededSections x86 = NeededInfSections(L"x86");
    EXPECT_EQ(L"DefaultInstall", x86.install) << "an empty section field selects the default install section";
    EXPECT_EQ(L"DefaultUninstall", x86.uninstall);
    EXPECT_EQ(L"DefaultUninstall.Services", x86.uninstallServices);
}

TEST(HarvestText, NamesAreEscapedAndUnwritableNamesAreRecognised) {
    EXPECT_EQ(L"a &amp; b &lt;c&gt; &quot;d&quot; &apos;e&apos;", EscapeXml(L"a & b <c> \"d\" 'e'"));
    EXPECT_EQ(L"", UnwritableName(L"Donn\u00e9es \U0001F600.txt"));
    EXPECT_NE(L"", UnwritableName(std::wstring(L"a") + static_cast<wchar_t>(0xD800) + L"b"));
    EXPECT_NE(L"", UnwritableName(std::wstring(L"a") + static_cast<wchar_t>(0xDC00)));
}

TEST(HarvestText, DocumentListsFilesBeforeDirectoriesWithSourcesAndDestinations) {
    Harvest harvest;
    harvest.files = {{L"", L"top & co.txt", L"aa"}, {L"bin", L"x.dll", L"bb"}};
    harvest.folders = {L"bin", L"bin\\x64"};
    HarvestOptions options;
    options.payload = L"C:\\p";
    options.feature = L"Engine";
    const std::wstring text = HarvestDocument(harvest, options);
    EXPECT_NE(std::wstring::npos, text.find(L"<Feature tag=\"Engine\">"));
    EXPECT_NE(std::wstring::npos, text.find(L"<FileOperation operation=\"copy\" sha256=\"aa\">top &amp; co.txt</FileOperation>"));
    EXPECT_NE(std::wstring::npos, text.find(L"source=\"bin\" destination=\"$INSTALL_PATH\\bin\" sha256=\"bb\">x.dll<"));
    const size_t lastFile = text.rfind(L"<FileOperation");
    const size_t parent = text.find(L">$INSTALL_PATH\\bin</DirectoryOperation>");
    const size_t child = text.find(L">$INSTALL_PATH\\bin\\x64</DirectoryOperation>");
    ASSERT_NE(std::wstring::npos, parent);
    ASSERT_NE(std::wstring::npos, child);
    EXPECT_LT(lastFile, parent) << "the schema puts FileOperation before DirectoryOperation";
    EXPECT_LT(parent, child) << "a parent is created before its children (an existing one fails with 183)";

    options.destination = L"$CONTENT_PATH\\T&T";
    const std::wstring moved = HarvestDocument(harvest, options);
    EXPECT_NE(std::wstring::npos, moved.find(L"destination=\"$CONTENT_PATH\\T&amp;T\" sha256=\"aa\""));
    EXPECT_NE(std::wstring::npos, moved.find(L">$CONTENT_PATH\\T&amp;T\\bin\\x64</DirectoryOperation>"));
}

TEST(PkgtoolCommandLineTest, AcceptsTheTwoCommandsAndRefusesEverythingElse) {
    const PkgtoolCommand harvest = ParsePkgtoolCommand({L"harvest", L"C:\\p", L"--destination", L"$CONTENT_PATH", L"--feature", L"F"});
    EXPECT_EQ(PkgtoolCommand::Kind::Harvest, harvest.kind);
    EXPECT_EQ(L"C:\\p", harvest.target);
    EXPECT_EQ(L"F", harvest.feature);
    EXPECT_EQ(L"$CONTENT_PATH", harvest.destination);
    EXPECT_EQ(L"Main", ParsePkgtoolCommand({L"harvest", L"p"}).feature);
    const PkgtoolCommand lint = ParsePkgtoolCommand({L"lint", L"--config", L"c.xml", L"p.xml"});
    EXPECT_EQ(PkgtoolCommand::Kind::Lint, lint.kind);
    EXPECT_EQ(L"p.xml", lint.target);
    EXPECT_EQ(L"c.xml", lint.configuration);
    EXPECT_EQ(PkgtoolCommand::Kind::Help, ParsePkgtoolCommand({L"-h"}).kind);

    const std::vector<std::vector<std::wstring>> refused = {
        {},
        {L"pack"},
        {L"harvest"},
        {L"harvest", L"a", L"b"},
        {L"harvest", L"a", L"--feature"},
        {L"harvest", L"a", L"--feature", L"x", L"--feature", L"y"},
        {L"harvest", L"a", L"--config", L"c.xml"},
        {L"lint", L"p.xml", L"--feature", L"x"},
        {L"lint", L"--config", L"c.xml"},
        {L"lint", L"p.xml", L"--config", L""},
        {L"-h", L"lint"},
    };
    for (const auto& arguments : refused) {
        std::wstring line;
        for (const auto& argument : arguments) line += argument + L" ";
        const PkgtoolCommand command = ParsePkgtoolCommand(arguments);
        EXPECT_EQ(PkgtoolCommand::Kind::Invalid, command.kind) << ToUtf8(line);
        EXPECT_FALSE(command.error.empty()) << ToUtf8(line);
    }
}

TEST(FindingText, IsOneLineWithDocumentLineElementProblemAndFix) {
    EXPECT_EQ(L"C:\\p\\package.xml(12): FileOperation \"a.dll\": wrong digest. Fix: set sha256.",
              FormatFinding({L"C:\\p\\package.xml", 12, L"FileOperation \"a.dll\"", L"wrong\r\ndigest.", L"set sha256"}));
    EXPECT_EQ(L"C:\\p\\package.xml: refused: reason text. Fix: correct it.",
              FormatFinding({L"C:\\p\\package.xml", 0, L"", L"refused: reason text\r\n", L"correct it"}));
}

TEST(FindingText, ExecutableImagesAreTheFilesUpgradesCompareByVersion) {
    for (const wchar_t* name : {L"a.exe", L"B.DLL", L"tnx.Sys"}) EXPECT_TRUE(IsExecutableImageName(name)) << ToUtf8(name);
    for (const wchar_t* name : {L"a.txt", L"exe", L"a.exe.bak", L".dl"}) EXPECT_FALSE(IsExecutableImageName(name)) << ToUtf8(name);
}

} // namespace
