// Kernel drivers installed from their INF: install on a machine with the prerequisite platform,
// verify, uninstall leaving tombstones, repair and upgrade of the driver files, and the packages
// and machines that must be refused. Wine cannot load the dummy driver files, so the tests look
// at what the system records: the service registrations and their keys, the files in the
// drivers directory and the values the INF adds.
#include <gtest/gtest.h>
#include <shlwapi.h>
#include <string>
#include <vector>
#include "e2e/PackageFixture.h"

namespace e2e {
namespace {

const wchar_t kPlatformKey[] = L"SOFTWARE\\Norvex\\Keelson";
const wchar_t kFilterKey[] = L"SYSTEM\\CurrentControlSet\\Services\\tnxflt";
const wchar_t kMonitorKey[] = L"SYSTEM\\CurrentControlSet\\Services\\tnxmon";
const wchar_t kFilterParameters[] = L"SOFTWARE\\Norvex\\Coravel\\Drivers\\tnxflt";
const wchar_t kMonitorParameters[] = L"SOFTWARE\\Norvex\\Coravel\\Drivers\\tnxmon";
const wchar_t* const kDriverServices[] = {L"tnxflt", L"tnxmon"};
const wchar_t* const kDriverFiles[] = {L"tnxflt.inf", L"tnxflt.sys", L"tnxmon.sys", L"tnxflt.cat"};

bool Contains(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }

std::wstring DriversDirectory() {
    wchar_t system[MAX_PATH] = {};
    ::GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system) + L"\\drivers\\";
}

bool ServiceRegistered(const std::wstring& name) {
    UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return false;
    UniqueServiceHandle service(::OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_CONFIG));
    return static_cast<bool>(service);
}

// Driver services and files from any earlier run or test are gone before and after each test.
void RemoveDriverTraces() {
    UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    for (const wchar_t* name : kDriverServices) {
        if (manager) {
            UniqueServiceHandle service(::OpenServiceW(manager.get(), name, DELETE));
            if (service) ::DeleteService(service.get());
        }
        ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, (std::wstring(L"SYSTEM\\CurrentControlSet\\Services\\") + name).c_str());
    }
    for (const wchar_t* file : kDriverFiles) {
        const std::wstring path = DriversDirectory() + file;
        ::DeleteFileW(path.c_str());
        ::DeleteFileW((path + L"_").c_str());
        ::DeleteFileW((path + L"__").c_str());
    }
}

class DriverPackageTest : public PackageTest {
protected:
    void SetUp() override {
        PackageTest::SetUp();
        if (HasFatalFailure()) return;
        RemoveDriverTraces();
        ASSERT_TRUE(CopyTree(TestProgramDirectory() + L"e2e\\drivers", package_))
            << "the driver package is laid out at build time in bin\\e2e\\drivers";
        ASSERT_TRUE(WriteString(kPlatformKey, L"szVersion", L"1.0"));
    }
    void TearDown() override {
        RemoveDriverTraces();
        PackageTest::TearDown();
    }

    std::wstring Driver(const std::wstring& name) const { return DriversDirectory() + name; }

    ProcessResult Install(const std::wstring& document = L"drivers.xml") {
        ProcessResult result = RunInstaller(InstallArguments(document));
        EXPECT_EQ(0u, result.exitCode) << Describe(result, LogText());
        return result;
    }
};

TEST_F(DriverPackageTest, InstallRegistersTheDriverServicesCopiesTheFilesAndAddsTheInfValues) {
    const ProcessResult result = Install();
    for (const wchar_t* name : kDriverServices) EXPECT_TRUE(ServiceRegistered(name)) << ToUtf8(name);
    EXPECT_EQ(1u, ReadDword(kFilterKey, L"Type").value_or(0)) << "a kernel driver";
    EXPECT_EQ(ReadFileBytes(Payload(L"tnxflt.inf")), ReadFileBytes(Driver(L"tnxflt.inf")));
    EXPECT_EQ(ReadFileBytes(Payload(L"tnxflt.sys")), ReadFileBytes(Driver(L"tnxflt.sys")));
    EXPECT_EQ(ReadFileBytes(Payload(L"tnxmon.sys")), ReadFileBytes(Driver(L"tnxmon.sys")));

    // Values of the NvxAddReg section, with the [Strings] names replaced.
    EXPECT_EQ(L"Tarnex file-system filter", ReadString(kFilterParameters, L"DisplayText").value_or(L"-"));
    EXPECT_EQ(L"328010", ReadString(std::wstring(kFilterParameters) + L"\\Instances\\Tarnex Instance", L"Altitude")
                             .value_or(L"-"));
    EXPECT_EQ(3u, ReadDword(kFilterParameters, L"SupportedFeatures").value_or(0));
    EXPECT_EQ((std::vector<std::wstring>{L"tmp", L"log", L"etl"}),
              ReadMultiString(kFilterParameters, L"ExcludedExtensions").value_or(std::vector<std::wstring>{}));
    EXPECT_EQ(L"Tarnex default rules", ReadString(kMonitorParameters, L"RuleSetName").value_or(L"-"));
    // The core of the feature runs after its drivers.
    EXPECT_TRUE(ReadString(kSettingsKey, L"szDriverStore").has_value());
}

TEST_F(DriverPackageTest, VerifyOfAnIntactInstallationReportsSuccess) {
    Install();
    const ProcessResult result = RunInstaller(VerifyArguments(L"drivers.xml"));
    const std::wstring report = result.OutputText();
    EXPECT_EQ(0u, result.exitCode) << Describe(result, LogText());
    EXPECT_TRUE(Contains(report, L"\nVerification succeeded for Driver installation using tnxflt.inf.")) << result.output;
    EXPECT_TRUE(Contains(report, L"Verification succeeded for value RuleSetName under Registry key "
                                 L"HKLM\\SOFTWARE\\Norvex\\Coravel\\Drivers\\tnxmon."))
        << "the last line of the section, beyond the first 1024 characters, is checked\n" << result.output;
    EXPECT_FALSE(Contains(report, L"Verification failed")) << result.output;
}

// The NvxAddReg section is longer than 1024 characters: the values of its last lines count.
TEST_F(DriverPackageTest, VerifyFailsWhenAValueTheInfAddedWasChanged) {
    const std::string inf = ReadFileBytes(Payload(L"tnxflt.inf"));
    const size_t section = inf.find("[NvxAddReg]");
    ASSERT_NE(std::string::npos, section);
    ASSERT_GT(inf.find("RuleSetName", section) - section, 1024u) << "the fixture's last value lies past 1024 units";

    Install();
    ASSERT_TRUE(WriteString(kMonitorParameters, L"RuleSetName", L"tampered rules"));
    const ProcessResult result = RunInstaller(VerifyArguments(L"drivers.xml"));
    const std::wstring report = result.OutputText();
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), result.exitCode) << Describe(result, LogText());
    EXPECT_TRUE(Contains(report, L"Verification failed for value data of value RuleSetName")) << result.output;
    EXPECT_FALSE(Contains(report, L"Verification succeeded for Driver installation")) << result.output;
}

TEST_F(DriverPackageTest, VerifyReportsEveryMissingPieceAndNoSuccessLine) {
    Install();
    RemoveDriverTraces();
    const ProcessResult result = RunInstaller(VerifyArguments(L"drivers.xml"));
    const std::wstring report = result.OutputText();
    EXPECT_NE(0u, result.exitCode) << Describe(result, LogText());
    EXPECT_TRUE(Contains(report, L"\nVerification failed for registration of tnxflt.inf with Windows Service Manager."))
        << result.output;
    EXPECT_TRUE(Contains(report, L"\nVerification failed for existance and integrity of file " + Driver(L"tnxflt.inf")))
        << result.output;
    EXPECT_TRUE(Contains(report, L"\nVerification failed for existance and integrity of file " + Driver(L"tnxmon.sys")))
        << result.output;
    EXPECT_FALSE(Contains(report, L"Verification succeeded for Driver installation")) << result.output;
}

// A check that passes never clears the failure of one before it, and a damaged driver file is a
// failure of the whole verify: neither ends with the success line.
class DriverVerifyAfterDamageTest : public DriverPackageTest {
protected:
    void ExpectVerifyFails(DWORD expected, const std::wstring& line) {
        const ProcessResult result = RunInstaller(VerifyArguments(L"drivers.xml"));
        const std::wstring report = result.OutputText();
        EXPECT_EQ(expected, result.exitCode) << Describe(result, LogText());
        EXPECT_TRUE(Contains(report, line)) << result.output;
        EXPECT_FALSE(Contains(report, L"Verification succeeded for Driver installation")) << result.output;
    }
};

TEST_F(DriverVerifyAfterDamageTest, AnUnregisteredServiceFailsEvenWhenTheInfCopyIsIntact) {
    Install();
    UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    UniqueServiceHandle service(::OpenServiceW(manager.get(), L"tnxflt", DELETE));
    ASSERT_TRUE(service && ::DeleteService(service.get()));
    service.reset();
    ExpectVerifyFails(ERROR_SERVICE_DOES_NOT_EXIST,
                      L"\nVerification failed for registration of tnxflt.inf with Windows Service Manager.");
}

TEST_F(DriverVerifyAfterDamageTest, ADamagedDriverFileFailsTheVerify) {
    Install();
    ASSERT_TRUE(WriteFileBytes(Driver(L"tnxmon.sys"), "damaged driver"));
    ExpectVerifyFails(ERROR_FILE_CORRUPT,
                      L"\nVerification failed for existance and integrity of file " + Driver(L"tnxmon.sys") + L".");
}

// Wine has no trusted catalogs: a catalog in the drivers directory makes the membership check
// run, and it must fail and say so.
TEST_F(DriverPackageTest, VerifyWithTheCatalogPresentFailsForFilesNoTrustedCatalogHolds) {
    Install();
    ASSERT_TRUE(::CopyFileW(Payload(L"tnxflt.cat").c_str(), Driver(L"tnxflt.cat").c_str(), FALSE));
    const ProcessResult result = RunInstaller(VerifyArguments(L"drivers.xml"));
    const std::wstring report = result.OutputText();
    EXPECT_NE(0u, result.exitCode) << Describe(result, LogText());
    EXPECT_TRUE(Contains(report, L"\nVerification failed for Catalog of tnxflt.sys. Error code: ")) << result.output;
    EXPECT_TRUE(Contains(report, L"\nVerification failed for Catalog of tnxmon.sys. Error code: " +
                                     std::to_wstring(result.exitCode)))
        << result.output;
    EXPECT_FALSE(Contains(report, L"Verification succeeded for Driver installation")) << result.output;
}

TEST_F(DriverPackageTest, UninstallLeavesATombstoneOnEachDriverServiceAndDeletesTheInfCopy) {
    Install();
    const ProcessResult result = RunInstaller(UninstallArguments(L"drivers.xml"));
    ASSERT_EQ(0u, result.exitCode) << Describe(result, LogText());
    for (const wchar_t* key : {kFilterKey, kMonitorKey}) {
        EXPECT_EQ(1u, ReadDword(key, L"DeleteFlag").value_or(0)) << ToUtf8(key);
        EXPECT_EQ(4u, ReadDword(key, L"Start").value_or(0)) << ToUtf8(key);
    }
    EXPECT_FALSE(FileExists(Driver(L"tnxflt.inf")));
    EXPECT_FALSE(ReadString(kMonitorParameters, L"RuleSetName").has_value()) << "the uninstall section ran";
}

TEST_F(DriverPackageTest, RepairAfterUninstallRemovesTheTombstonesAndReplacesADamagedDriverFile) {
    Install();
    ASSERT_TRUE(WriteFileBytes(Driver(L"tnxmon.sys"), "damaged driver"));
    ProcessResult result = RunInstaller(UninstallArguments(L"drivers.xml"));
    ASSERT_EQ(0u, result.exitCode) << Describe(result, LogText());
    ASSERT_EQ(1u, ReadDword(kMonitorKey, L"DeleteFlag").value_or(0));

    result = RunInstaller(RepairArguments(L"drivers.xml"));
    const std::wstring log = LogText();
    ASSERT_EQ(0u, result.exitCode) << Describe(result, log);
    EXPECT_TRUE(Contains(log, L"Entered function Driver::RepairDriverFile")) << "the services are still registered";
    for (const wchar_t* key : {kFilterKey, kMonitorKey}) {
        EXPECT_FALSE(ReadDword(key, L"DeleteFlag").has_value()) << ToUtf8(key);
        EXPECT_EQ(3u, ReadDword(key, L"Start").value_or(0)) << ToUtf8(key);
    }
    EXPECT_EQ(ReadFileBytes(Payload(L"tnxmon.sys")), ReadFileBytes(Driver(L"tnxmon.sys")));
    EXPECT_EQ(ReadFileBytes(Payload(L"tnxflt.inf")), ReadFileBytes(Driver(L"tnxflt.inf")));

    result = RunInstaller(VerifyArguments(L"drivers.xml"));
    EXPECT_EQ(0u, result.exitCode) << Describe(result, LogText());
}

TEST_F(DriverPackageTest, RepairOfAHeldDriverFileReportsRestartAndTheRestartReplacesIt) {
    Install();
    const std::wstring target = Driver(L"tnxflt.sys");
    const std::string good = ReadFileBytes(Payload(L"tnxflt.sys"));
    ASSERT_TRUE(WriteFileBytes(target, "damaged driver"));
    {
        UniqueFileHandle held = HoldFile(target, FILE_SHARE_READ);
        ASSERT_TRUE(held) << ::GetLastError();
        const ProcessResult result = RunInstaller(RepairArguments(L"drivers.xml"));
        const std::wstring log = LogText();
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS_REBOOT_REQUIRED), result.exitCode) << Describe(result, log);
        EXPECT_TRUE(Contains(log, L"Reboot Required.")) << ToUtf8(log);
        EXPECT_EQ("damaged driver", ReadThroughHandle(held.get()));
    }
    const ProcessResult restart = SimulateRestart();
    ASSERT_TRUE(restart.started) << restart.startError;
    EXPECT_EQ(good, ReadFileBytes(target));
    EXPECT_FALSE(FileExists(target + L"__"));
}

TEST_F(DriverPackageTest, UpgradeWithANewerFilterDriverReplacesTheDriverFiles) {
    Install();
    ASSERT_TRUE(::CopyFileW(Payload(L"next\\tnxflt.sys").c_str(), Payload(L"tnxflt.sys").c_str(), FALSE));
    const ProcessResult result = RunInstaller(UpgradeArguments(L"drivers-next.xml"));
    const std::wstring log = LogText();
    ASSERT_EQ(0u, result.exitCode) << Describe(result, log);
    EXPECT_TRUE(Contains(log, L"Entered function Driver::RepairDriverFile")) << ToUtf8(log);
    EXPECT_EQ(ReadFileBytes(Payload(L"next\\tnxflt.sys")), ReadFileBytes(Driver(L"tnxflt.sys")));

    const ProcessResult verify = RunInstaller(VerifyArguments(L"drivers-next.xml"));
    EXPECT_EQ(0u, verify.exitCode) << Describe(verify, LogText());
}

TEST_F(DriverPackageTest, UpgradeWithTheSameDriverVersionRunsNothing) {
    Install();
    ASSERT_TRUE(WriteFileBytes(Driver(L"tnxmon.sys"), "damaged driver"));
    const ProcessResult result = RunInstaller(UpgradeArguments(L"drivers.xml"));
    const std::wstring log = LogText();
    ASSERT_EQ(0u, result.exitCode) << Describe(result, log);
    EXPECT_TRUE(Contains(log, L"Entered function Driver::Upgrade")) << ToUtf8(log);
    EXPECT_FALSE(Contains(log, L"Driver::RepairDriverFile")) << ToUtf8(log);
    EXPECT_FALSE(Contains(log, L"Driver::ExecuteSectionFromInfFile")) << ToUtf8(log);
    EXPECT_EQ("damaged driver", ReadFileBytes(Driver(L"tnxmon.sys")));
}

// A newer driver file whose digest is not the document's is never run or copied.
TEST_F(DriverPackageTest, UpgradeFromAPackageFileThatFailsItsDigestReplacesNothing) {
    Install();
    const std::string installed = ReadFileBytes(Driver(L"tnxflt.sys"));
    ASSERT_TRUE(::CopyFileW(Payload(L"next\\tnxflt.sys").c_str(), Payload(L"tnxflt.sys").c_str(), FALSE));
    const ProcessResult result = RunInstaller(UpgradeArguments(L"drivers.xml"));
    const std::wstring log = LogText();
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_CORRUPT), result.exitCode) << Describe(result, log);
    EXPECT_TRUE(Contains(log, L"Missing/corrupt sys file " + Payload(L"tnxflt.sys"))) << ToUtf8(log);
    EXPECT_FALSE(Contains(log, L"Driver::ExecuteSectionFromInfFile")) << ToUtf8(log);
    EXPECT_EQ(installed, ReadFileBytes(Driver(L"tnxflt.sys")));
}

void ExpectNothingInstalled() {
    for (const wchar_t* name : kDriverServices) EXPECT_FALSE(ServiceRegistered(name)) << ToUtf8(name);
    EXPECT_FALSE(FileExists(DriversDirectory() + L"tnxflt.inf"));
    EXPECT_FALSE(FileExists(DriversDirectory() + L"tnxflt.sys"));
    EXPECT_FALSE(KeyExists(kReferenceKey));
    EXPECT_FALSE(KeyExists(kSettingsKey));
}

TEST_F(DriverPackageTest, InstallWithoutThePrerequisitePlatformFailsWith1060AndInstallsNothing) {
    ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, kPlatformKey);
    const ProcessResult result = RunInstaller(InstallArguments(L"drivers.xml"));
    const std::wstring log = LogText();
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), result.exitCode) << Describe(result, log);
    EXPECT_TRUE(Contains(log, L"IsPreRequisitesInstalled - neither SOFTWARE\\Norvex\\Keelson nor "
                              L"SOFTWARE\\Wow6432Node\\Norvex\\Keelson exist"))
        << ToUtf8(log);
    ExpectNothingInstalled();
}

TEST_F(DriverPackageTest, InstallOfAPackageWithACorruptSecondDriverFileFailsAndInstallsNothing) {
    const ProcessResult result = RunInstaller(InstallArguments(L"drivers-corrupt.xml"));
    const std::wstring log = LogText();
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_CORRUPT), result.exitCode) << Describe(result, log);
    EXPECT_TRUE(Contains(log, L"Missing/corrupt sys file " + Payload(L"tnxmon.sys"))) << ToUtf8(log);
    EXPECT_FALSE(Contains(log, L"Driver::ExecuteSectionFromInfFile")) << ToUtf8(log);
    ExpectNothingInstalled();
}

} // namespace
} // namespace e2e
