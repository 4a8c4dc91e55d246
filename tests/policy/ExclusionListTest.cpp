#include <gtest/gtest.h>

#include <map>
#include "policy/ExclusionList.h"
#include "shell/AVException.h"
#include "support/Strings.h"
#include "support/TestFiles.h"

namespace {

ExclusionRecord Record(unsigned long type, unsigned long flags, unsigned long days, const std::wstring& pattern = L"") {
    return ExclusionList::MakeExclusionRecord(type, flags, days, pattern);
}

UnwantedFileRecord Unwanted(const std::wstring& name, const std::wstring& path) {
    UnwantedFileRecord record;
    record.detectionName = name;
    record.filePath = path;
    return record;
}

// Object-manager names and logon sessions of a made-up machine.
struct FakeMachine {
    std::map<std::wstring, std::wstring> links;
    std::vector<LUID> sessions;
    DWORD enumerationError = ERROR_SUCCESS;
    std::vector<std::wstring> resolved;
    int enumerations = 0;

    DeviceNameResolver Resolver() {
        return DeviceNameResolver{
            [this](std::wstring& name) {
                resolved.push_back(name);
                const auto link = links.find(name);
                if (link != links.end()) name = link->second;
                return true;
            },
            [this](std::vector<LUID>& out) {
                ++enumerations;
                out = sessions;
                return enumerationError;
            },
        };
    }
};

const LUID kOwnSession{ 0x3e7, 0 };
const LUID kOtherSession{ 0x1234, 1 };
const wchar_t kOwnDrive[] = L"\\Sessions\\0\\DosDevices\\00000000-000003e7\\C:";
const wchar_t kOtherDrive[] = L"\\Sessions\\0\\DosDevices\\00000001-00001234\\C:";
const wchar_t kGlobalDrive[] = L"\\DosDevices\\C:";

// Drive paths resolve through the made-up machine's global drive letter.
TEST(ExclusionList, RegistryItemsOfExclusions) {
    FakeMachine machine;
    machine.links[kGlobalDrive] = L"\\Device\\HarddiskVolume7";
    const PatternEnvironment environment{ kOwnSession, 6011, machine.Resolver() };
    const std::wstring temp = Expand(L"%SystemRoot%\\Temp\\");
    struct Case { std::vector<ExclusionRecord> records; std::wstring expected; };
    const Case cases[] = {
        { { Record(4, 1, 0, L"tmp") }, L"4|1|tmp" },
        { { Record(0, 0, 30) }, L"0|0|30" },
        { { Record(1, 4, 90, L"ignored") }, L"1|4|90" },
        { { Record(2, 0, 7) }, L"2|0|7" },
        // A date exclusion without NumDays.
        { { Record(0, 0, 0) }, L"0|0|0" },
        // Numbers keep their low 16 bits.
        { { Record(0, 65537, 65566) }, L"0|1|30" },
        { { Record(3, 2, 0, L"*.log") }, L"3|2|*.log>*.log" },
        { { Record(3, 2, 0, L"a>b") }, L"3|2|a>a" },
        { { Record(3, 2, 0, L"%SystemRoot%\\Temp\\") }, L"3|2|\\Device\\HarddiskVolume7" + temp.substr(2) + L">" + temp },
        { { Record(3, 2, 0, L"C:") }, L"3|2|\\Device\\HarddiskVolume7>C:" },
        { { Record(3, 2, 0, L"\\\\server\\share\\dir") }, L"3|2|\\Device\\Mup\\server\\share\\dir>\\\\server\\share\\dir" },
        // A variable that does not expand leaves a text that is not a path.
        { { Record(3, 0, 0, L"%NO_SUCH_POLICY_VARIABLE%\\x") },
          L"3|0|%NO_SUCH_POLICY_VARIABLE%\\x>%NO_SUCH_POLICY_VARIABLE%\\x" },
        { { Record(0, 0, 30), Record(4, 1, 0, L"tmp"), Record(3, 2, 0, L"*.log") }, L"0|0|30\\04|1|tmp\\03|2|*.log>*.log" },
        { {}, L"" },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExclusionList::ExclusionRegistryData(c.records, environment), c.expected) << ToUtf8(c.expected);
    }
}

TEST(ExclusionList, NetworkPatternsUseTheRedirectorBeforeVersion6000) {
    PatternEnvironment environment = ProcessPatternEnvironment();
    environment.versionNumber = 5013;
    EXPECT_EQ(ExclusionList::ExclusionRegistryData({ Record(3, 2, 0, L"\\\\server\\share\\dir") }, environment),
              L"3|2|\\Device\\LanmanRedirector\\server\\share\\dir>\\\\server\\share\\dir");
    environment.versionNumber = 6000;
    EXPECT_EQ(ExclusionList::ExclusionRegistryData({ Record(3, 2, 0, L"\\\\s\\d") }, environment),
              L"3|2|\\Device\\Mup\\s\\d>\\\\s\\d");
}

TEST(ExclusionList, ExclusionsThatCannotBeStoredRaiseInvalidParameter) {
    struct Case { const char* what; ExclusionRecord record; };
    const Case cases[] = {
        { "pattern exclusion without pattern", Record(3, 2, 0) },
        { "extension exclusion without pattern", Record(4, 1, 0) },
        { "pattern of > only", Record(3, 2, 0, L">>") },
        { "extension with a bar inside", Record(4, 1, 0, L"a|b") },
        { "pattern with a trailing bar", Record(3, 2, 0, L"x|") },
        { "pattern with a leading bar", Record(3, 2, 0, L"|x") },
        { "type outside 0 to 4", Record(5, 0, 1, L"x") },
    };
    for (const auto& c : cases) {
        try {
            ExclusionList::ExclusionRegistryData({ Record(0, 0, 1), c.record }, ProcessPatternEnvironment());
            ADD_FAILURE() << "no exception for " << c.what;
        } catch (const AVException& e) {
            EXPECT_EQ(e.Code(), 0xA7F40209u) << c.what;
            EXPECT_EQ(e.Message(), "InValid Parameter for Exclusion List") << c.what;
            EXPECT_EQ(e.SourceFile(), "ExclusionList") << c.what;
        }
    }
}

TEST(ExclusionList, ParsesTextsIntoListRecords) {
    const ExclusionRecordList list = ExclusionList::ParseExclusions({ L"0|5|30", L"3|2|a>b>c", L"4|1|tmp", L"||1||2|x|" });
    EXPECT_EQ(list.size, 16u);
    ASSERT_EQ(list.count, 4u);
    ASSERT_EQ(list.records.size(), 4u);
    EXPECT_EQ(list.records[0].size, 32u);
    EXPECT_EQ(list.records[0].type, 0);
    EXPECT_EQ(list.records[0].flags, 5);
    EXPECT_EQ(list.records[0].days, 30);
    EXPECT_FALSE(list.records[0].pattern.has_value());
    EXPECT_EQ(list.records[1].pattern.value_or(L"?"), L"a");
    EXPECT_EQ(list.records[2].pattern.value_or(L"?"), L"tmp");
    EXPECT_EQ(list.records[2].days, 0);
    // Empty pieces are dropped.
    EXPECT_EQ(list.records[3].type, 1);
    EXPECT_EQ(list.records[3].flags, 2);

    for (const wchar_t* bad : { L"", L"3|2", L"1|2|3|4", L"7|0|1", L"-1|0|1", L"3|2|>" }) {
        EXPECT_THROW(ExclusionList::ParseExclusions({ L"0|0|1", bad }), AVException) << ToUtf8(bad);
    }
}

TEST(ExclusionList, RegistryItemsOfUnwantedFiles) {
    struct Case { std::vector<UnwantedFileRecord> records; std::wstring expected; };
    const Case cases[] = {
        { { Unwanted(L"Test", L"C:\\x.exe") }, L"Test|C:\\x.exe" },
        { { Unwanted(L"Test", L"") }, L"Test|" },
        { { Unwanted(L"", L"C:\\x.exe") }, L"|" },
        { { Unwanted(L"A|B", L"C") }, L"A|B" },
        { { Unwanted(L"Test", L"C:\\x.exe"), Unwanted(L"Joke", L"%ProgramFiles%\\j.exe") },
          L"Test|C:\\x.exe\\0Joke|%ProgramFiles%\\j.exe" },
        { {}, L"" },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExclusionList::UnwantedFileRegistryData(c.records), c.expected) << ToUtf8(c.expected);
    }

    const UnwantedFileRecordList list = ExclusionList::ParseUnwantedFiles({ L"|C:\\x.exe", L"A|B|C" });
    EXPECT_EQ(list.size, 16u);
    ASSERT_EQ(list.count, 2u);
    EXPECT_EQ(list.records[0].size, 24u);
    EXPECT_FALSE(list.records[0].detectionName.has_value());
    EXPECT_FALSE(list.records[0].filePath.has_value());
    EXPECT_EQ(list.records[1].detectionName.value_or(L"?"), L"A");
    EXPECT_EQ(list.records[1].filePath.value_or(L"?"), L"B");
}

TEST(ExclusionList, VersionNumberCombinesVersionAndServicePack) {
    struct Case { DWORD major; DWORD minor; const wchar_t* servicePack; DWORD expected; };
    const Case cases[] = {
        { 6, 1, L"Service Pack 1", 6011 },
        { 5, 1, L"Service Pack 3", 5013 },
        { 5, 2, L"SP12a 4", 5032 },
        { 6, 2, L"", 6020 },
        { 10, 0, L"Service Pack", 10000 },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(OperatingSystemVersionNumber(c.major, c.minor, c.servicePack), c.expected) << ToUtf8(c.servicePack);
    }
}

TEST(DosPathToDevicePath, UsesTheLogonSessionsDriveLetterFirst) {
    FakeMachine machine;
    machine.links[kOwnDrive] = L"\\Device\\HarddiskVolume2";
    machine.links[kGlobalDrive] = L"\\Device\\HarddiskVolume1";
    std::wstring device;
    EXPECT_EQ(DosPathToDevicePath(L"C:\\dir\\f.txt", kOwnSession, 6011, device, machine.Resolver()), 0u);
    EXPECT_EQ(device, L"\\Device\\HarddiskVolume2\\dir\\f.txt");
    EXPECT_EQ(machine.enumerations, 0);
}

TEST(DosPathToDevicePath, TriesTheOtherLogonSessionsThenTheGlobalDriveLetter) {
    {
        FakeMachine machine;
        machine.sessions = { kOwnSession, kOtherSession };
        machine.links[kOtherDrive] = L"\\Device\\HarddiskVolume3";
        machine.links[kGlobalDrive] = L"\\Device\\HarddiskVolume1";
        std::wstring device;
        EXPECT_EQ(DosPathToDevicePath(L"C:\\x", kOwnSession, 6011, device, machine.Resolver()), 0u);
        EXPECT_EQ(device, L"\\Device\\HarddiskVolume3\\x");
        // The own session is not asked twice, the global name not at all.
        EXPECT_EQ(machine.resolved, (std::vector<std::wstring>{ kOwnDrive, kOtherDrive }));
    }
    {
        // A session name that only leads to another session name does not count.
        FakeMachine machine;
        machine.sessions = { kOtherSession };
        machine.links[kOwnDrive] = L"\\Sessions\\0\\DosDevices\\elsewhere";
        machine.links[kGlobalDrive] = L"\\Device\\HarddiskVolume1";
        std::wstring device;
        EXPECT_EQ(DosPathToDevicePath(L"C:", kOwnSession, 6011, device, machine.Resolver()), 0u);
        EXPECT_EQ(device, L"\\Device\\HarddiskVolume1");
        EXPECT_EQ(machine.resolved, (std::vector<std::wstring>{ kOwnDrive, kOtherDrive, kGlobalDrive }));
    }
}

TEST(DosPathToDevicePath, FailsWhenNoNameLeadsToADevice) {
    {
        FakeMachine machine;
        machine.enumerationError = ERROR_ACCESS_DENIED;
        machine.links[kGlobalDrive] = L"\\Device\\HarddiskVolume1";
        std::wstring device;
        EXPECT_EQ(DosPathToDevicePath(L"C:\\x", kOwnSession, 6011, device, machine.Resolver()), DWORD(ERROR_ACCESS_DENIED));
        EXPECT_EQ(machine.resolved, (std::vector<std::wstring>{ kOwnDrive }));
    }
    {
        FakeMachine machine;
        std::wstring device;
        EXPECT_EQ(DosPathToDevicePath(L"C:\\x", kOwnSession, 6011, device, machine.Resolver()), DWORD(ERROR_PATH_NOT_FOUND));
    }
    {
        DeviceNameResolver failing{ [](std::wstring&) { return false; },
                                    [](std::vector<LUID>&) { return DWORD(ERROR_SUCCESS); } };
        std::wstring device;
        EXPECT_EQ(DosPathToDevicePath(L"C:\\x", kOwnSession, 6011, device, failing), DWORD(ERROR_PATH_NOT_FOUND));
    }
}

TEST(DosPathToDevicePath, RejectsTextsThatAreNeitherDriveNorNetworkPaths) {
    std::wstring device;
    EXPECT_EQ(DosPathToDevicePath(nullptr, kOwnSession, 6011, device), DWORD(ERROR_INVALID_PARAMETER));
    for (const wchar_t* path : { L"", L"C", L"ab", L"*.log", L"\\x\\y", L"C\\:" }) {
        EXPECT_EQ(DosPathToDevicePath(path, kOwnSession, 6011, device), DWORD(ERROR_INVALID_PARAMETER)) << ToUtf8(path);
    }
}

TEST(DosPathToDevicePath, ResolvesThisMachinesDrive) {
    // The system's own answer for the drive, whatever this machine names its volume.
    std::wstring volume = L"\\DosDevices\\C:";
    ASSERT_TRUE(ResolveSymbolicLink(volume));
    EXPECT_EQ(volume.rfind(L"\\Device\\", 0), 0u) << ToUtf8(volume);
    std::wstring device;
    ASSERT_EQ(DosPathToDevicePath(L"C:\\windows", ProcessLogonSession(), RunningVersionNumber(), device), 0u);
    EXPECT_EQ(device, volume + L"\\windows");

    std::wstring name = L"\\NoSuchDirectory\\NoSuchLink";
    EXPECT_TRUE(ResolveSymbolicLink(name));
    EXPECT_EQ(name, L"\\NoSuchDirectory\\NoSuchLink");
}

} // namespace
