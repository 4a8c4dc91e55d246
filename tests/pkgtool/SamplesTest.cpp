// The samples of examples/: the demo package lints clean, the sample document's placeholders
// are found, and the demo payload harvests into a document lint accepts.
#include <gtest/gtest.h>
#include "pkgtool/PkgtoolRun.h"
#include "support/Strings.h"
#include "support/TestFiles.h"

namespace {

std::wstring DemoPackage() {
    const std::wstring relative = TestProgramDirectory() + L"..\\demo\\package";
    wchar_t full[MAX_PATH] = {};
    const DWORD length = ::GetFullPathNameW(relative.c_str(), MAX_PATH, full, nullptr);
    return length > 0 && length < MAX_PATH ? std::wstring(full, length) : relative;
}

bool CopyTree(const std::wstring& from, const std::wstring& to) {
    if (!::CreateDirectoryW(to.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) return false;
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((from + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ok = CopyTree(from + L"\\" + name, to + L"\\" + name) && ok;
        else ok = ::CopyFileW((from + L"\\" + name).c_str(), (to + L"\\" + name).c_str(), FALSE) != FALSE && ok;
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    return ok;
}

TEST(Samples, DemoPackageAndSampleConfigurationLintClean) {
    const ToolRun run = RunPkgtool({L"lint", DemoPackage() + L"\\package.xml", L"--config", DemoPackage() + L"\\configuration.xml"});
    EXPECT_EQ(0u, run.exitCode) << run.Describe();
    EXPECT_TRUE(run.output.empty()) << run.Describe();
}

TEST(Samples, SampleDocumentWithPlaceholderDigestsAndNoPayloadIsFoundOut) {
    const std::wstring document = DemoPackage() + L"\\sample-package.xml";
    const ToolRun run = RunPkgtool({L"lint", document});
    EXPECT_EQ(1u, run.exitCode) << run.Describe();
    const std::wstring text = FromUtf8(ReadFileBytes(document));
    const struct {
        const wchar_t* finding;
        const wchar_t* marker;
    } expected[] = {
        {L"InfFile \"tnxflt.inf\": wrong digest", L"<InfFile"},
        {L"SysFile \"tnxmon.sys\": missing file", L">tnxmon.sys<"},
        {L"FileOperation \"tnxengine.dll\": missing file", L"sha256=\"1A2B"},
        {L"FileOperation \"tnxscan.exe\": missing file: x64\\tnxscan.exe", L"sha256=\"2B3C"},
        {L"ExecuteOperation \"crt_x64.exe\": missing file: redist\\crt_x64.exe", L"<ExecuteOperation source=\"redist\" platform=\"x64\""},
        {L"Service \"TarnexEngine\": missing service file", L"<Service>"},
    };
    const auto lines = run.Lines();
    for (const auto& e : expected) {
        const std::wstring head = document + L"(" + std::to_wstring(LineOfMarker(text, e.marker)) + L"): " + e.finding;
        bool found = false;
        for (const auto& line : lines) found = found || line.compare(0, head.size(), head) == 0;
        EXPECT_TRUE(found) << ToUtf8(head) << "\n" << run.Describe();
    }
    // The x86 elements are never read on this machine.
    EXPECT_FALSE(Contains(run.output, L"x86\\tnxscan.exe")) << run.Describe();
    EXPECT_FALSE(Contains(run.output, L"crt_x86.exe")) << run.Describe();
}

TEST(Samples, DemoPayloadHarvestsIntoADocumentLintAccepts) {
    TempDir dir(L"demo-harvest");
    const std::wstring payload = dir / L"payload";
    ASSERT_TRUE(CopyTree(TestProgramDirectory() + L"pkgtool-fixtures\\demo-payload", payload));
    const ToolRun harvest = RunPkgtool({L"harvest", payload, L"--feature", L"Core"});
    ASSERT_EQ(0u, harvest.exitCode) << harvest.Describe();
    ASSERT_TRUE(WriteFileBytes(payload + L"\\package.xml", harvest.outputBytes));

    const ToolRun lint = RunPkgtool({L"lint", payload + L"\\package.xml"});
    // The schema and every digest pass; the driver stand-in, harvested as a plain file, is an
    // executable image by its name and carries no version.
    EXPECT_EQ(1u, lint.exitCode) << lint.Describe();
    const auto lines = lint.Lines();
    ASSERT_EQ(1u, lines.size()) << lint.Describe();
    EXPECT_TRUE(Contains(lines[0], L"FileOperation \"tnxflt.sys\": no usable version")) << lint.Describe();
}

} // namespace
