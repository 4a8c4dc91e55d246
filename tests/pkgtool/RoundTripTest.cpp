// An author's session: harvest a payload into a document, lint it, and install and verify it with
// installer.exe, all started as processes of their own.
#include <gtest/gtest.h>
#include <memory>
#include "pkgtool/PkgtoolRun.h"
#include "shell/Handles.h"
#include "support/LogReader.h"
#include "support/PendingRenames.h"
#include "support/Process.h"
#include "support/Registry.h"
#include "support/Strings.h"
#include "support/TestFiles.h"

namespace {

const wchar_t kVendorKey[] = L"SOFTWARE\\Norvex";

struct PayloadFile {
    std::wstring path;      // below the payload folder
    std::string content;    // empty: the versioned library fixture
};

const wchar_t kDonnees[] = L"Donn\u00e9es";

std::vector<PayloadFile> PayloadFiles() {
    return {
        {L"top.cfg", "engine=on\r\n"},
        {L"R&D 'notes'.txt", "escaped names\r\n"},
        {L"bin\\engine.dll", ""},
        {L"data files\\signatures.dat", std::string(70000, 's')},
        {std::wstring(kDonnees) + L"\\lisez moi \u00e0 \u65e5\u672c.txt", "bonjour\r\n"},
        {std::wstring(kDonnees) + L"\\aide\\index.txt", "aide\r\n"},
    };
}

class RoundTripTest : public testing::Test {
protected:
    void SetUp() override {
        hklm::DeleteKey(kVendorKey);
        root_ = std::make_unique<TempDir>(L"roundtrip");
        payload_ = *root_ / L"Tarnex Setup";
        installDirectory_ = *root_ / L"Programmes\\Tarnex D\u00e9fense";
        contentDirectory_ = *root_ / L"Content";
        ASSERT_TRUE(::CreateDirectoryW(payload_.c_str(), nullptr));
        ASSERT_TRUE(::CreateDirectoryW(contentDirectory_.c_str(), nullptr));
        for (const wchar_t* folder : {L"bin", L"data files", kDonnees})
            ASSERT_TRUE(::CreateDirectoryW((payload_ + L"\\" + folder).c_str(), nullptr));
        ASSERT_TRUE(::CreateDirectoryW((payload_ + L"\\" + kDonnees + L"\\aide").c_str(), nullptr));
        ASSERT_TRUE(::CreateDirectoryW((payload_ + L"\\empty").c_str(), nullptr));
        for (const auto& file : PayloadFiles()) {
            const std::wstring path = payload_ + L"\\" + file.path;
            if (file.content.empty()) {
                ASSERT_TRUE(::CopyFileW((TestProgramDirectory() + L"pkgtool-fixtures\\pkgtool_versioned.dll").c_str(),
                                        path.c_str(), FALSE));
            } else {
                ASSERT_TRUE(WriteFileBytes(path, file.content)) << ToUtf8(path);
            }
        }
    }

    void TearDown() override {
        hklm::DeleteKey(kVendorKey);
        root_.reset();
    }

    ProcessResult Installer(std::vector<std::wstring> arguments) {
        arguments.push_back(L"-l");
        arguments.push_back(*root_ / L"installer.log");
        ::DeleteFileW((*root_ / L"installer.log").c_str());
        return RunProgram(payload_ + L"\\installer.exe", arguments);
    }
    std::string Log() const { return ToUtf8(ReadLogText(*root_ / L"installer.log")); }

    std::unique_ptr<TempDir> root_;
    std::wstring payload_;
    std::wstring installDirectory_;
    std::wstring contentDirectory_;
    PendingRenamesGuard pendingRenames_;
};

TEST_F(RoundTripTest, HarvestedDocumentLintsCleanInstallsAndVerifies) {
    const ToolRun harvest = RunPkgtool({L"harvest", payload_, L"--feature", L"Round trip"});
    ASSERT_EQ(0u, harvest.exitCode) << harvest.Describe();
    EXPECT_TRUE(harvest.errors.empty()) << harvest.Describe();
    // UTF-8 on standard output, names escaped for XML.
    EXPECT_NE(std::string::npos, harvest.outputBytes.find("source=\"Donn\xC3\xA9" "es\\aide\""));
    EXPECT_NE(std::string::npos, harvest.outputBytes.find(">lisez moi \xC3\xA0 \xE6\x97\xA5\xE6\x9C\xAC.txt</FileOperation>"));
    EXPECT_TRUE(Contains(harvest.output, L">R&amp;D &apos;notes&apos;.txt</FileOperation>")) << harvest.Describe();
    EXPECT_TRUE(Contains(harvest.output, L"<Feature tag=\"Round trip\">"));
    EXPECT_TRUE(Contains(harvest.output, L">$INSTALL_PATH\\empty</DirectoryOperation>")) << harvest.Describe();

    const std::wstring document = payload_ + L"\\package.xml";
    ASSERT_TRUE(WriteFileBytes(document, harvest.outputBytes));
    ASSERT_TRUE(::CopyFileW(InstallerPath().c_str(), (payload_ + L"\\installer.exe").c_str(), FALSE));

    const ToolRun lint = RunPkgtool({L"lint", document});
    EXPECT_EQ(0u, lint.exitCode) << lint.Describe();
    EXPECT_TRUE(lint.output.empty()) << lint.Describe();

    const ProcessResult install = Installer({L"-i", L"-x", document, L"-d", installDirectory_, L"-c", contentDirectory_});
    ASSERT_EQ(0u, install.exitCode) << "install\n" << Log();
    for (const auto& file : PayloadFiles()) {
        EXPECT_EQ(ReadFileBytes(payload_ + L"\\" + file.path), ReadFileBytes(installDirectory_ + L"\\" + file.path))
            << ToUtf8(file.path);
    }
    EXPECT_TRUE(DirectoryExists(installDirectory_ + L"\\empty"));

    const ProcessResult verify = Installer({L"-vi", L"-x", document, L"-d", installDirectory_, L"-c", contentDirectory_});
    EXPECT_EQ(0u, verify.exitCode) << verify.output << "\n" << Log();
    EXPECT_FALSE(Contains(verify.OutputText(), L"Verification failed")) << verify.output;

    const ProcessResult uninstall = Installer({L"-u", L"-x", document});
    EXPECT_EQ(0u, uninstall.exitCode) << Log();
    EXPECT_FALSE(DirectoryExists(installDirectory_));
}

TEST_F(RoundTripTest, DestinationOptionPlacesThePayloadBelowTheGivenFolder) {
    const ToolRun harvest = RunPkgtool({L"harvest", payload_, L"--destination", L"$CONTENT_PATH\\engine"});
    ASSERT_EQ(0u, harvest.exitCode) << harvest.Describe();
    const std::wstring document = payload_ + L"\\package.xml";
    ASSERT_TRUE(WriteFileBytes(document, harvest.outputBytes));
    ASSERT_TRUE(::CopyFileW(InstallerPath().c_str(), (payload_ + L"\\installer.exe").c_str(), FALSE));
    ASSERT_TRUE(::CreateDirectoryW((contentDirectory_ + L"\\engine").c_str(), nullptr));

    const ProcessResult install = Installer({L"-i", L"-x", document, L"-d", installDirectory_, L"-c", contentDirectory_});
    ASSERT_EQ(0u, install.exitCode) << Log();
    for (const auto& file : PayloadFiles()) {
        EXPECT_EQ(ReadFileBytes(payload_ + L"\\" + file.path), ReadFileBytes(contentDirectory_ + L"\\engine\\" + file.path))
            << ToUtf8(file.path);
    }
    EXPECT_EQ(0u, Installer({L"-u", L"-x", document}).exitCode) << Log();
}

TEST_F(RoundTripTest, UnreadableFileIsReportedOnStandardErrorAndExitsOne) {
    const std::wstring held = payload_ + L"\\data files\\signatures.dat";
    UniqueFileHandle holder(::CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);

    const ToolRun harvest = RunPkgtool({L"harvest", payload_});
    EXPECT_EQ(1u, harvest.exitCode) << harvest.Describe();
    EXPECT_TRUE(Contains(harvest.errors, L"cannot read " + held + L" (error 32)")) << harvest.Describe();
    EXPECT_FALSE(Contains(harvest.output, L"signatures.dat")) << harvest.Describe();
    EXPECT_TRUE(Contains(harvest.output, L">top.cfg</FileOperation>")) << "the other files are still harvested";
}

TEST(Harvest, MissingPayloadFolderIsReportedAndExitsOne) {
    TempDir dir(L"nopayload");
    const ToolRun harvest = RunPkgtool({L"harvest", dir / L"absent"});
    EXPECT_EQ(1u, harvest.exitCode) << harvest.Describe();
    EXPECT_TRUE(Contains(harvest.errors, L"cannot read " + (dir / L"absent"))) << harvest.Describe();
    EXPECT_TRUE(harvest.output.empty()) << harvest.Describe();
}

} // namespace
