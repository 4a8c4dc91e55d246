#include "e2e/PackageFixture.h"

#include "support/LogReader.h"

namespace e2e {

const wchar_t kFamilyKey[] = L"SOFTWARE\\Norvex\\Coravel";
const wchar_t kReferenceKey[] = L"SOFTWARE\\Norvex\\Coravel\\Install_Reference";
const wchar_t kSettingsKey[] = L"SOFTWARE\\Norvex\\Coravel\\Settings";
const wchar_t kVersionKey[] = L"SOFTWARE\\Norvex\\Coravel\\CRV\\CRV";
const wchar_t kContentVersionKey[] = L"SOFTWARE\\Norvex\\Coravel\\DS\\DS";

const wchar_t kRealtimeScanSddl[] = L"D:(A;;GA;;;SY)(A;;GR;;;BA)";
const wchar_t kConfigurationSddl[] = L"D:(A;;GA;;;BA)";

namespace {

const wchar_t kVendorKey[] = L"SOFTWARE\\Norvex";

} // namespace

bool CopyTree(const std::wstring& from, const std::wstring& to) {
    if (!::CreateDirectoryW(to.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) return false;
    WIN32_FIND_DATAW data;
    UniqueFindHandle find(::FindFirstFileW((from + L"\\*").c_str(), &data));
    if (!find) return false;
    bool ok = true;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ok = CopyTree(from + L"\\" + name, to + L"\\" + name) && ok;
        else
            ok = ::CopyFileW((from + L"\\" + name).c_str(), (to + L"\\" + name).c_str(), FALSE) != FALSE && ok;
    } while (::FindNextFileW(find.get(), &data));
    return ok;
}

unsigned long long LastWriteTime(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32) |
           data.ftLastWriteTime.dwLowDateTime;
}

UniqueFileHandle HoldFile(const std::wstring& path, DWORD shareMode) {
    return UniqueFileHandle(::CreateFileW(path.c_str(), GENERIC_READ, shareMode, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::string ReadThroughHandle(HANDLE file) {
    std::string bytes;
    if (::SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return bytes;
    char buffer[65536];
    DWORD read = 0;
    while (::ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) bytes.append(buffer, read);
    return bytes;
}

ProcessResult SimulateRestart() {
    wchar_t system[MAX_PATH] = {};
    ::GetSystemDirectoryW(system, MAX_PATH);
    // A restart also starts the automatic services of the prefix: allow it several minutes.
    return RunProgram(std::wstring(system) + L"\\wineboot.exe", {L"-r"}, 240000);
}

std::string Describe(const ProcessResult& result, const std::wstring& log) {
    std::string text = "exit code " + std::to_string(result.exitCode);
    if (!result.started) text += " (not started, error " + std::to_string(result.startError) + ")";
    text += "\n--- report ---\n" + result.output + "\n--- log ---\n" + ToUtf8(log);
    return text;
}

void PackageTest::SetUp() {
    hklm::DeleteKey(kVendorKey);

    root_ = std::make_unique<TempDir>(L"e2e");
    // A package folder name with a space, as under "Program Files".
    package_ = *root_ / L"Tarnex Setup";
    // An install directory that does not exist yet, two levels below an existing one, with a
    // non-ASCII letter in its name.
    installDirectory_ = *root_ / L"Programmes\\Norvex\\Tarnex D\u00e9fense";
    contentDirectory_ = *root_ / L"Content";
    logPath_ = *root_ / L"installer.log";

    ASSERT_TRUE(CopyTree(TestProgramDirectory() + L"e2e\\package", package_))
        << "the sample package is laid out at build time in bin\\e2e\\package";
    ASSERT_TRUE(::CopyFileW(InstallerPath().c_str(), (package_ + L"\\installer.exe").c_str(), FALSE));
    ASSERT_TRUE(::CreateDirectoryW(contentDirectory_.c_str(), nullptr));
}

void PackageTest::TearDown() {
    hklm::DeleteKey(kVendorKey);
    root_.reset();
}

std::vector<std::wstring> PackageTest::InstallArguments(const std::wstring& document) const {
    return {L"-i", L"-x", Document(document), L"-d", installDirectory_, L"-c", contentDirectory_,
            L"-sd1", kRealtimeScanSddl, L"-sd2", kConfigurationSddl, L"-l", logPath_};
}

std::vector<std::wstring> PackageTest::VerifyArguments(const std::wstring& document) const {
    return {L"-vi", L"-x", Document(document), L"-d", installDirectory_, L"-c", contentDirectory_,
            L"-sd1", kRealtimeScanSddl, L"-sd2", kConfigurationSddl, L"-l", logPath_};
}

std::vector<std::wstring> PackageTest::RepairArguments(const std::wstring& document) const {
    return {L"-r", L"-x", Document(document), L"-d", installDirectory_, L"-c", contentDirectory_,
            L"-sd1", kRealtimeScanSddl, L"-sd2", kConfigurationSddl, L"-l", logPath_};
}

std::vector<std::wstring> PackageTest::UpgradeArguments(const std::wstring& document) const {
    return {L"-iu", L"-x", Document(document), L"-c", contentDirectory_,
            L"-sd1", kRealtimeScanSddl, L"-sd2", kConfigurationSddl, L"-l", logPath_};
}

std::vector<std::wstring> PackageTest::UninstallArguments(const std::wstring& document) const {
    return {L"-u", L"-x", Document(document), L"-l", logPath_};
}

ProcessResult PackageTest::RunInstaller(const std::vector<std::wstring>& arguments) {
    ::DeleteFileW(logPath_.c_str());
    return RunProgram(package_ + L"\\installer.exe", arguments);
}

std::wstring PackageTest::LogText() const { return ReadLogText(logPath_); }

std::vector<PackageTest::HelperRun> PackageTest::HelperRuns() const {
    const std::wstring record = FromUtf8(ReadFileBytes(package_ + L"\\crt\\recording_helper.log"));
    std::vector<HelperRun> runs;
    size_t start = 0;
    while (start < record.size()) {
        size_t end = record.find(L"\r\n", start);
        if (end == std::wstring::npos) end = record.size();
        const std::wstring line = record.substr(start, end - start);
        const size_t tab = line.rfind(L'\t');
        if (tab != std::wstring::npos) runs.push_back({line.substr(0, tab), line.substr(tab + 1)});
        start = end + 2;
    }
    return runs;
}

} // namespace e2e
