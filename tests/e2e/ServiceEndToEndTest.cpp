// The engine's service as an administrator meets it: installed, verified, repaired, upgraded and
// removed by installer.exe, with the engine service double standing in for the engine (it stops
// on control 218 only and records the controls it receives) and the scanner client and
// network-control library doubles next to installer.exe.
#include <windows.h>
#include <gtest/gtest.h>
#include <string>
#include "e2e/PackageFixture.h"
#include "support/Strings.h"
#include "support/TestServices.h"

namespace e2e {
namespace {

const wchar_t kServiceDocument[] = L"service.xml";
const wchar_t kServiceName[] = L"TarnexEngineTest";
const wchar_t kServiceFile[] = L"tarnexsvc.exe";

class ServicePackageTest : public PackageTest {
protected:
    void SetUp() override {
        ClearDoubleSettings();
        ASSERT_TRUE(RemoveTestService(kServiceName)) << "a test service left by an earlier run";
        PackageTest::SetUp();
    }
    void TearDown() override {
        EXPECT_TRUE(RemoveTestService(kServiceName));
        ClearDoubleSettings();
        PackageTest::TearDown();
    }

    std::wstring QuotedBinaryPath() const { return L"\"" + Installed(kServiceFile) + L"\""; }

    ProcessResult Install(const std::vector<std::wstring>& extra = {}) {
        std::vector<std::wstring> arguments = InstallArguments(kServiceDocument);
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return RunInstaller(arguments);
    }
};

TEST_F(ServicePackageTest, AutomaticServiceIsInstalledRunningRepairedRestartedAroundUpgradeAndRemoved) {
    // The install directory has a space in its name: the registered path must be quoted.
    ASSERT_NE(std::wstring::npos, installDirectory_.find(L' '));
    ProcessResult result = Install();
    ASSERT_EQ(0u, result.exitCode) << Describe(result, LogText());
    auto service = QueryTestService(kServiceName);
    ASSERT_TRUE(service);
    EXPECT_EQ(QuotedBinaryPath(), service->binaryPath);
    EXPECT_EQ(L"Tarnex Engine Service (test)", service->displayName);
    EXPECT_EQ(L"Scans files as they are opened (test double).", service->description);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), service->startType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS), service->serviceType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), service->state);
    EXPECT_EQ(L"ncapi;open;release-second;release-main;module-set;", DoubleText(L"ncapi", L"Calls"))
        << "the network-control library is initialised once and released after the install";

    result = RunInstaller(VerifyArguments(kServiceDocument));
    EXPECT_EQ(0u, result.exitCode) << Describe(result, LogText());
    EXPECT_TRUE(Contains(result.OutputText(), L"\nVerification succeeded for service TarnexEngineTest."))
        << ToUtf8(result.OutputText());

    // Someone changed the service's configuration: a repair puts it back.
    {
        UniqueServiceHandle scm(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        UniqueServiceHandle handle(::OpenServiceW(scm.get(), kServiceName, SERVICE_ALL_ACCESS));
        ASSERT_TRUE(handle);
        wchar_t otherDescription[] = L"changed";
        SERVICE_DESCRIPTIONW description{ otherDescription };
        ASSERT_TRUE(::ChangeServiceConfig2W(handle.get(), SERVICE_CONFIG_DESCRIPTION, &description));
        ASSERT_TRUE(::ChangeServiceConfigW(handle.get(), SERVICE_NO_CHANGE, SERVICE_DEMAND_START, SERVICE_NO_CHANGE,
                                           Installed(kServiceFile).c_str(), nullptr, nullptr, nullptr, nullptr,
                                           nullptr, nullptr));
    }
    result = RunInstaller(RepairArguments(kServiceDocument));
    std::wstring log = LogText();
    ASSERT_EQ(0u, result.exitCode) << Describe(result, log);
    EXPECT_TRUE(Contains(log, L"Service Repair Successful.")) << ToUtf8(log);
    service = QueryTestService(kServiceName);
    ASSERT_TRUE(service);
    EXPECT_EQ(QuotedBinaryPath(), service->binaryPath);
    EXPECT_EQ(L"Scans files as they are opened (test double).", service->description);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), service->startType);
    EXPECT_EQ(L"218;", ServiceDoubleControls(kServiceName)) << "the repair stops the engine its own way";
    // The installed engine (1.0.0.1600.1) is newer than 1.0.0.1575.1: the installer starts it again.
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), service->state);

    SetDoubleText(L"Services\\" + std::wstring(kServiceName), L"Controls", L"");
    result = RunInstaller(UpgradeArguments(kServiceDocument));
    ASSERT_EQ(0u, result.exitCode) << Describe(result, LogText());
    EXPECT_EQ(L"218;", ServiceDoubleControls(kServiceName));
    EXPECT_TRUE(WaitForServiceState(kServiceName, SERVICE_RUNNING, 5000)) << "running again after the upgrade";

    SetDoubleText(L"Services\\" + std::wstring(kServiceName), L"Controls", L"");
    result = RunInstaller(UninstallArguments(kServiceDocument));
    log = LogText();
    ASSERT_EQ(0u, result.exitCode) << Describe(result, log);
    EXPECT_EQ(L"218;", ServiceDoubleControls(kServiceName));
    EXPECT_TRUE(Contains(log, L"Succeeded uninstalling TarnexEngineTest service.")) << ToUtf8(log);
    EXPECT_TRUE(RemoveTestService(kServiceName));
    EXPECT_FALSE(QueryTestService(kServiceName)) << "deleted";
    EXPECT_FALSE(FileExists(Installed(kServiceFile)));
}

TEST_F(ServicePackageTest, RunningEngineVerifiesAndRepairsWithoutRestartCopies) {
    ProcessResult result = Install();
    ASSERT_EQ(0u, result.exitCode) << Describe(result, LogText());
    ASSERT_TRUE(WaitForServiceState(kServiceName, SERVICE_RUNNING, 5000));

    // The service runs from the install directory: its executable is open in its process.
    result = RunInstaller(VerifyArguments(kServiceDocument));
    EXPECT_EQ(0u, result.exitCode) << Describe(result, LogText());
    EXPECT_FALSE(Contains(result.OutputText(), L"Verification failed")) << ToUtf8(result.OutputText());

    result = RunInstaller(RepairArguments(kServiceDocument));
    const std::wstring log = LogText();
    EXPECT_EQ(0u, result.exitCode) << Describe(result, log);
    EXPECT_TRUE(Contains(log, L"tarnexsvc.exe File same, So not repaired")) << ToUtf8(log);
    EXPECT_TRUE(Contains(log, L"engine.cfg File same, So not repaired")) << ToUtf8(log);
    EXPECT_FALSE(Contains(log, L"Copying file at reboot")) << ToUtf8(log);
    EXPECT_FALSE(FileExists(Installed(L"tarnexsvc.exe_")));
}

TEST_F(ServicePackageTest, StartModeOverrideZeroInstallsTheServiceWithoutStartingIt) {
    const std::wstring configuration = *root_ / L"no-start.xml";
    ASSERT_TRUE(WriteTextFile(configuration, LR"(<?xml version="1.0" encoding="utf-8"?>
<Configuration schemaVersion="1.1">
  <InstallOverride>
    <ServiceStartMode>0</ServiceStartMode>
  </InstallOverride>
</Configuration>
)"));
    const ProcessResult result = Install({L"-s", configuration});
    const std::wstring log = LogText();
    ASSERT_EQ(0u, result.exitCode) << Describe(result, log);
    const auto service = QueryTestService(kServiceName);
    ASSERT_TRUE(service);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), service->startType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), service->state);
    EXPECT_EQ(L"", ServiceDoubleStarts(kServiceName));
    EXPECT_FALSE(Contains(log, L"Attempting StartService")) << ToUtf8(log);
}

struct ScannerWaitCase {
    const char* name;
    const wchar_t* states;          // what the scanner client double reports, in order
    bool withScannerLibrary;
    DWORD expected;
    int stateLines;                 // "Server State : " lines in the log
    const wchar_t* logLine;
};

void PrintTo(const ScannerWaitCase& c, std::ostream* os) { *os << c.name; }

const ScannerWaitCase kScannerWaitCases[] = {
    {"InitializingThenInitialized", L"9,9,4", true, 0, 3, L"Server State : CRV_INITIALIZED"},
    {"MissingContentEndsTheWaitAtOnce", L"6", true, ERROR_SERVICE_NOT_ACTIVE, 1, L"Server State : CRV_MISSING_CONTENT"},
    {"NoScannerLibrary", L"4", false, ERROR_MOD_NOT_FOUND, 0, L"Unable to Load DLL"},
};

class ScannerWaitTest : public ServicePackageTest, public testing::WithParamInterface<ScannerWaitCase> {};

TEST_P(ScannerWaitTest, WaitSwitchWaitsForTheScannerToInitialise) {
    const ScannerWaitCase& c = GetParam();
    SetDoubleText(L"BulwarkClient", L"States", c.states);
    if (!c.withScannerLibrary) {
        ASSERT_TRUE(::DeleteFileW(Payload(L"BulwarkClient.dll").c_str()));
    }

    const DWORD started = ::GetTickCount();
    const ProcessResult result = Install({L"-w"});
    const DWORD elapsed = ::GetTickCount() - started;
    const std::wstring log = LogText();
    EXPECT_EQ(c.expected, result.exitCode) << Describe(result, log);
    EXPECT_EQ(c.stateLines, CountOccurrences(log, L"Server State : ")) << ToUtf8(log);
    EXPECT_TRUE(Contains(log, c.logLine)) << ToUtf8(log);
    if (c.withScannerLibrary) {
        const std::wstring calls = DoubleText(L"BulwarkClient", L"Calls");
        EXPECT_EQ(0u, calls.find(L"AVInitialize:10000;AVGetSystemState:next;")) << ToUtf8(calls);
        EXPECT_TRUE(Contains(calls, L"AVUnInitialize:client;")) << ToUtf8(calls);
    }
    if (c.expected == ERROR_SERVICE_NOT_ACTIVE) {
        EXPECT_LT(elapsed, 20000u) << "a state other than initialising ends the wait without sleeping";
        EXPECT_TRUE(Contains(log, L"Failed to Install, Starting RollBack.")) << ToUtf8(log);
    }
}

INSTANTIATE_TEST_SUITE_P(Scanner, ScannerWaitTest, testing::ValuesIn(kScannerWaitCases),
                         [](const testing::TestParamInfo<ScannerWaitCase>& info) { return std::string(info.param.name); });

TEST_F(ServicePackageTest, MissingNetworkControlLibraryIsLoggedAndTheInstallSucceeds) {
    ASSERT_TRUE(::DeleteFileW(Payload(L"ncapi.dll").c_str()));
    const ProcessResult result = Install();
    const std::wstring log = LogText();
    EXPECT_EQ(0u, result.exitCode) << Describe(result, log);
    EXPECT_TRUE(Contains(log, L"Failed to Get NCAPI Interface")) << ToUtf8(log);
    EXPECT_TRUE(WaitForServiceState(kServiceName, SERVICE_RUNNING, 5000));
}

TEST_F(ServicePackageTest, ServiceThatStaysStartPendingFailsTheInstallAfterTwoAttemptsAndIsRolledBack) {
    SetServiceDoubleMode(kServiceName, L"start-pending");
    const ProcessResult result = Install();
    const std::wstring log = LogText();
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING), result.exitCode) << Describe(result, log);
    // Four polls of one second each (RestartDelay 0, RestartCount 0), then the second attempt,
    // whose StartServiceW error ends the start.
    EXPECT_EQ(4, CountOccurrences(log, L"Waiting for the Service. Current State=2")) << ToUtf8(log);
    EXPECT_TRUE(Contains(log, L"Failed to start the Service.")) << ToUtf8(log);
    EXPECT_TRUE(Contains(log, L"Attempting StartService: 2 time")) << ToUtf8(log);
    EXPECT_TRUE(Contains(log, L"Failed to start the Service. Error Code=" + std::to_wstring(result.exitCode)))
        << ToUtf8(log);
    // The rollback's stop waits until the engine gives its start up (the SCM passes no control
    // to a starting service), then the service and the files go.
    EXPECT_TRUE(Contains(log, L"Failed to Install, Starting RollBack.")) << ToUtf8(log);
    EXPECT_TRUE(Contains(log, L"Succeeded uninstalling TarnexEngineTest service.")) << ToUtf8(log);
    EXPECT_TRUE(RemoveTestService(kServiceName));
    EXPECT_FALSE(KeyExists(kReferenceKey));
    EXPECT_FALSE(FileExists(Installed(kServiceFile)));
}

// A service of the document's name that was there before: the install fails on it (1073) and the
// rollback leaves it as it was, registration and binary, while the install's own files go.
TEST_F(ServicePackageTest, FailedInstallLeavesAServiceThatWasThereBefore) {
    const std::wstring theirs = *root_ / L"their service.exe";
    ASSERT_TRUE(::CopyFileW(Payload(L"core\\engine.cfg").c_str(), theirs.c_str(), FALSE));
    ASSERT_TRUE(CreateTestService(kServiceName, L"\"" + theirs + L"\"", SERVICE_DEMAND_START));
    const auto before = QueryTestService(kServiceName);
    ASSERT_TRUE(before);

    const ProcessResult result = Install();
    const std::wstring log = LogText();
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_EXISTS), result.exitCode) << Describe(result, log);
    EXPECT_TRUE(Contains(log, L"Failed to Install, Starting RollBack.")) << ToUtf8(log);
    const auto after = QueryTestService(kServiceName);
    ASSERT_TRUE(after) << "the service that was there before is gone";
    EXPECT_EQ(before->binaryPath, after->binaryPath);
    EXPECT_EQ(before->startType, after->startType);
    EXPECT_FALSE(KeyExists(kReferenceKey));
    EXPECT_FALSE(FileExists(Installed(kServiceFile)));
}

TEST_F(ServicePackageTest, ServiceThatIgnoresTheStopCodeFailsTheUninstallAfterThirtySeconds) {
    SetServiceDoubleMode(kServiceName, L"ignore-stop");
    ProcessResult result = Install();
    ASSERT_EQ(0u, result.exitCode) << Describe(result, LogText());

    result = RunInstaller(UninstallArguments(kServiceDocument));
    const std::wstring log = LogText();
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_REQUEST_TIMEOUT), result.exitCode) << Describe(result, log);
    EXPECT_TRUE(Contains(log, L"Failed to stop the service. Timed Out.")) << ToUtf8(log);
    EXPECT_TRUE(Contains(log, L"Failed to Stop TarnexEngineTest service.")) << ToUtf8(log);
    EXPECT_EQ(L"218;", ServiceDoubleControls(kServiceName));
    const auto service = QueryTestService(kServiceName);
    ASSERT_TRUE(service) << "a service that did not stop is not deleted";
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), service->state);
}

} // namespace
} // namespace e2e
