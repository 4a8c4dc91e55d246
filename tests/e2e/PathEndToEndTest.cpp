// Install directories an administrator may choose that are hard on path handling: one of 300
// characters, and one with letters outside ASCII, spaces and commas (with its log in a folder of
// the same kind). Each goes through the whole life of an installation: install, verify, repair,
// upgrade and uninstall.
#include <windows.h>
#include <shlobj.h>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include "e2e/PackageFixture.h"
#include "support/Hex.h"

namespace e2e {
namespace {

struct PathCase {
    const char* name;
    std::wstring (*installDirectory)(const std::wstring& root);
    std::wstring (*logPath)(const std::wstring& root);
};
void PrintTo(const PathCase& c, std::ostream* os) { *os << c.name; }

std::wstring ThreeHundredCharacters(const std::wstring& root) {
    std::wstring path = root + L"\\Programmes";
    for (int level = 0; path.size() < 300; ++level) path += L"\\niveau " + std::to_wstring(level) + L" " + std::wstring(40, L'n');
    path.resize(300);
    if (path.back() == L' ' || path.back() == L'\\') path.back() = L'x';
    return path;
}
std::wstring LettersSpacesAndCommas(const std::wstring& root) {
    return root + L"\\Programmes, \u00c9ditions\\Tarnex \u03a9, fa\u00e7ade \u00fc \u9632\u62a4";
}
std::wstring LogBesideTheFixture(const std::wstring& root) { return root + L"\\installer.log"; }
std::wstring LogInAnOddFolder(const std::wstring& root) { return root + L"\\journaux, \u00e9t\u00e9 \u03a9\\installer.log"; }

const PathCase kPathCases[] = {
    {"ThreeHundredCharacters", &ThreeHundredCharacters, &LogBesideTheFixture},
    {"LettersSpacesAndCommas", &LettersSpacesAndCommas, &LogInAnOddFolder},
};

class InstallPathTest : public PackageTest, public testing::WithParamInterface<PathCase> {};

TEST_P(InstallPathTest, InstallVerifyRepairUpgradeAndUninstallWork) {
    installDirectory_ = GetParam().installDirectory(root_->Path());
    logPath_ = GetParam().logPath(root_->Path());
    if (GetParam().installDirectory == &ThreeHundredCharacters) {
        ASSERT_EQ(300u, installDirectory_.size());
    }

    ProcessResult result = RunInstaller(InstallArguments(L"lifecycle.xml"));
    ASSERT_EQ(0u, result.exitCode) << Describe(result, LogText());
    EXPECT_EQ(ReadFileBytes(Payload(L"core\\tarnexscan.dll")), ReadFileBytes(Installed(L"tarnexscan.dll")));
    EXPECT_EQ(ReadFileBytes(Payload(L"data files\\signatures.dat")), ReadFileBytes(Installed(L"data files\\signatures.dat")));
    EXPECT_EQ(std::optional<std::wstring>(installDirectory_), ReadString(kReferenceKey, L"szInstallPath"));
    EXPECT_EQ(std::optional<std::wstring>(installDirectory_ + L"\\bin"), ReadString(kSettingsKey, L"szBinPath"));

    result = RunInstaller(VerifyArguments(L"lifecycle.xml"));
    EXPECT_EQ(0u, result.exitCode) << Describe(result, LogText());
    EXPECT_TRUE(Contains(result.OutputText(), L"\nVerification succeeded for File " + Installed(L"tarnexscan.dll") + L"."))
        << result.output;

    ASSERT_TRUE(WriteFileBytes(Installed(L"tarnexscan.dll"), "damaged build"));
    result = RunInstaller(RepairArguments(L"lifecycle.xml"));
    EXPECT_EQ(0u, result.exitCode) << Describe(result, LogText());
    EXPECT_EQ(ReadFileBytes(Payload(L"core\\tarnexscan.dll")), ReadFileBytes(Installed(L"tarnexscan.dll")));

    result = RunInstaller(UpgradeArguments(L"upgrade.xml"));
    EXPECT_EQ(0u, result.exitCode) << Describe(result, LogText());
    EXPECT_EQ(ReadFileBytes(Payload(L"upgrade\\tarnexcore.dll")), ReadFileBytes(Installed(L"tarnexcore.dll")));

    result = RunInstaller(UninstallArguments(L"lifecycle.xml"));
    EXPECT_EQ(0u, result.exitCode) << Describe(result, LogText());
    EXPECT_FALSE(DirectoryExists(installDirectory_));
    EXPECT_FALSE(KeyExists(kReferenceKey));
    EXPECT_FALSE(KeyExists(kSettingsKey));
    EXPECT_TRUE(Contains(LogText(), L"Completed Tarnex Installation/Uninstallation sequence with result 0x0"))
        << "the log in its folder is written";
}

INSTANTIATE_TEST_SUITE_P(Paths, InstallPathTest, testing::ValuesIn(kPathCases),
                         [](const testing::TestParamInfo<PathCase>& info) { return std::string(info.param.name); });


// installer.exe in a folder whose full program path has 259 characters: the module-name buffer of
// 260 units holds it and its NUL, and the package installs from its own folder. (A program path
// of 260 characters, the buffer's other side, cannot be started at all: CreateProcessW answers 2.)
TEST_F(PackageTest, ProgramPathThatFillsTheModuleNameBufferInstallsFromItsOwnFolder) {
    const std::string payload = ReadFileBytes(Payload(L"core\\engine.cfg"));
    // package folder + "\installer.exe" = 259 characters.
    std::wstring folder = *root_ / L"m";
    const size_t folderLength = 259 - std::wstring(L"\\installer.exe").size();
    while (folderLength - folder.size() > 150) folder += L"\\" + std::wstring(100, L'p');
    folder += L"\\" + std::wstring(folderLength - folder.size() - 1, L'q');
    ASSERT_EQ(folderLength, folder.size());
    ASSERT_EQ(0, ::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr));
    ASSERT_TRUE(CopyTree(package_ + L"\\core", folder + L"\\core"));
    ASSERT_TRUE(::CopyFileW((package_ + L"\\installer.exe").c_str(), (folder + L"\\installer.exe").c_str(), FALSE));
    // Files only: a helper program's command line would not fit its own 260-character buffer here.
    const std::wstring document = folder + L"\\files.xml";
    ASSERT_TRUE(WriteTextFile(document, LR"(<?xml version="1.0" encoding="utf-8"?>
<Package schemaVersion="1.0" TarnexVersion="1.0.0.1600">
  <Feature tag="Core">
    <FileOperation operation="copy" source="core" sha256=")" + Sha256Text(payload) + LR"(">engine.cfg</FileOperation>
  </Feature>
</Package>
)"));
    std::vector<std::wstring> arguments = InstallArguments(L"lifecycle.xml");
    arguments[2] = document;
    const ProcessResult install = RunProgram(folder + L"\\installer.exe", arguments);
    ASSERT_TRUE(install.started) << "error " << install.startError;
    EXPECT_EQ(0u, install.exitCode) << Describe(install, LogText());
    EXPECT_EQ(payload, ReadFileBytes(Installed(L"engine.cfg")));

    const ProcessResult uninstall = RunProgram(folder + L"\\installer.exe", {L"-u", L"-x", document, L"-l", logPath_});
    EXPECT_EQ(0u, uninstall.exitCode) << Describe(uninstall, LogText());
    EXPECT_FALSE(DirectoryExists(installDirectory_));
    EXPECT_FALSE(KeyExists(kReferenceKey));
}

} // namespace
} // namespace e2e
