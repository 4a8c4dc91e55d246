#include "e2e/PackageFixture.h"

#include <shlwapi.h>
#include <algorithm>
#include <cstring>
#include <iterator>

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
const wchar_t kSessionManagerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPendingRenamesValue[] = L"PendingFileRenameOperations";

UniqueKey OpenKey(const std::wstring& subKey, REGSAM access) {
    UniqueKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, access | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS)
        key.reset();
    return key;
}

// The raw data of a value, or nothing when it cannot be read.
std::optional<std::string> ReadRaw(const std::wstring& subKey, const std::wstring& name, DWORD& type) {
    UniqueKey key = OpenKey(subKey, KEY_QUERY_VALUE);
    if (!key) return std::nullopt;
    DWORD size = 0;
    if (::RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    std::string data(size, '\0');
    if (size > 0 &&
        ::RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size) !=
            ERROR_SUCCESS)
        return std::nullopt;
    data.resize(size);
    return data;
}

std::wstring WideFromRaw(const std::string& raw) {
    std::wstring text(raw.size() / sizeof(wchar_t), L'\0');
    if (!text.empty()) memcpy(&text[0], raw.data(), text.size() * sizeof(wchar_t));
    return text;
}

} // namespace

bool KeyExists(const std::wstring& subKey) { return static_cast<bool>(OpenKey(subKey, KEY_READ)); }

std::optional<std::wstring> ReadString(const std::wstring& subKey, const std::wstring& name) {
    DWORD type = 0;
    auto raw = ReadRaw(subKey, name, type);
    if (!raw || type != REG_SZ) return std::nullopt;
    std::wstring text = WideFromRaw(*raw);
    const size_t end = text.find(L'\0');
    if (end != std::wstring::npos) text.resize(end);
    return text;
}

std::optional<DWORD> ReadDword(const std::wstring& subKey, const std::wstring& name) {
    DWORD type = 0;
    auto raw = ReadRaw(subKey, name, type);
    if (!raw || type != REG_DWORD || raw->size() != sizeof(DWORD)) return std::nullopt;
    DWORD value = 0;
    memcpy(&value, raw->data(), sizeof(value));
    return value;
}

std::optional<std::vector<std::wstring>> ReadMultiString(const std::wstring& subKey, const std::wstring& name) {
    DWORD type = 0;
    auto raw = ReadRaw(subKey, name, type);
    if (!raw || type != REG_MULTI_SZ) return std::nullopt;
    const std::wstring block = WideFromRaw(*raw);
    std::vector<std::wstring> strings;
    size_t start = 0;
    while (start < block.size()) {
        const size_t end = block.find(L'\0', start);
        const std::wstring item = block.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        if (item.empty()) break;
        strings.push_back(item);
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    return strings;
}

std::vector<std::wstring> ValueNames(const std::wstring& subKey) {
    std::vector<std::wstring> names;
    UniqueKey key = OpenKey(subKey, KEY_QUERY_VALUE);
    if (!key) return names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[16384];
        DWORD length = static_cast<DWORD>(std::size(name));
        if (::RegEnumValueW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    std::sort(names.begin(), names.end());
    return names;
}

static bool WriteRaw(const std::wstring& subKey, const std::wstring& name, DWORD type, const void* data, DWORD size) {
    UniqueKey key;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
        return false;
    return ::RegSetValueExW(key.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
}

bool WriteString(const std::wstring& subKey, const std::wstring& name, const std::wstring& data) {
    return WriteRaw(subKey, name, REG_SZ, data.c_str(), static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
}

bool WriteDword(const std::wstring& subKey, const std::wstring& name, DWORD data) {
    return WriteRaw(subKey, name, REG_DWORD, &data, sizeof(data));
}

bool DeleteValue(const std::wstring& subKey, const std::wstring& name) {
    UniqueKey key = OpenKey(subKey, KEY_SET_VALUE);
    return key && ::RegDeleteValueW(key.get(), name.c_str()) == ERROR_SUCCESS;
}

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
    ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, kVendorKey);
    DWORD type = 0;
    pendingRenames_ = ReadRaw(kSessionManagerKey, kPendingRenamesValue, type);

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
    ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, kVendorKey);
    // Operations a test scheduled for a restart that did not happen must not reach later tests.
    UniqueKey key = OpenKey(kSessionManagerKey, KEY_SET_VALUE);
    if (key) {
        if (pendingRenames_)
            ::RegSetValueExW(key.get(), kPendingRenamesValue, 0, REG_MULTI_SZ,
                             reinterpret_cast<const BYTE*>(pendingRenames_->data()),
                             static_cast<DWORD>(pendingRenames_->size()));
        else
            ::RegDeleteValueW(key.get(), kPendingRenamesValue);
    }
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

std::wstring PackageTest::LogText() const { return Utf16FromBytes(ReadFileBytes(logPath_)); }

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
