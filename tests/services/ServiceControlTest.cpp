// Service control against the real SCM, with the engine service double (engine_service.exe next
// to this program) as the service and the scanner client and network-control doubles as its
// libraries. Waits go through the sleep seam: they are recorded, not slept.
#include <windows.h>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>
#include "engine/InstallContext.h"
#include "policy/InstallOverrideTable.h"
#include "security/SecurityHelper.h"
#include "services/ScannerClient.h"
#include "services/Service.h"
#include "services/ServiceWait.h"
#include "services/nc_api.h"
#include "shell/AVException.h"
#include "shell/Log.h"
#include "support/LogReader.h"
#include "support/Strings.h"
#include "support/TestFiles.h"
#include "support/TestServices.h"

namespace {

const wchar_t kServiceName[] = L"InstallerComponentTestService";

std::vector<DWORD> g_sleeps;
void RecordSleep(DWORD milliseconds) { g_sleeps.push_back(milliseconds); }

class ServiceControlTest : public testing::Test {
protected:
    void SetUp() override {
        ClearDoubleSettings();
        ASSERT_TRUE(RemoveTestService(kServiceName));
        ResetInstallContext();
        InstallOverrideTable::ClearForTests();
        std::wstring directory = TestProgramDirectory();
        directory.pop_back();
        InstallContext().installDirectory = directory;
        g_sleeps.clear();
        SetServiceSleepForTests(&RecordSleep);

        element_ = std::make_unique<Service>();
        element_->serviceFile = L"engine_service.exe";
        element_->serviceName = kServiceName;
        element_->displayName = L"Installer component test service";
        element_->description = L"Engine service double";
        element_->start = SERVICE_AUTO_START;
        element_->failureRestart.resetPeriod = 86400;
    }
    void TearDown() override {
        SetServiceSleepForTests(nullptr);
        SecurityHelper::SetPrivilegeEnablerForTests(nullptr);
        InstallOverrideTable::ClearForTests();
        ResetInstallContext();
        // The element's handles keep a deleted service registered: close them first.
        element_.reset();
        EXPECT_TRUE(RemoveTestService(kServiceName));
        ClearDoubleSettings();
    }

    std::unique_ptr<Service> element_;
};

TEST_F(ServiceControlTest, StartPendingServiceGetsFourPollsPerAttemptAndTheSecondStartsErrorIsTheResult) {
    struct Case { long delay, count; DWORD expectedSleep; bool capped; };
    const Case cases[] = {
        { 0, 0, 1000, false },
        { 3000, 1000, 600000, true },   // 3,000,001 seconds asked: held at ten minutes
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.delay << " x " << c.count);
        ASSERT_TRUE(RemoveTestService(kServiceName));
        SetServiceDoubleMode(kServiceName, L"start-pending");
        g_sleeps.clear();
        Service service;
        service.serviceFile = element_->serviceFile;
        service.serviceName = kServiceName;
        service.start = SERVICE_AUTO_START;
        service.failureRestart.restartDelay = c.delay;
        service.failureRestart.restartCount = c.count;
        LogCapture log;

        const DWORD result = service.Install();
        const std::wstring text = log.Text();
        EXPECT_NE(0u, result) << ToUtf8(text);
        EXPECT_EQ(std::vector<DWORD>(4, c.expectedSleep), g_sleeps);
        EXPECT_EQ(4, CountOccurrences(text, L"Waiting for the Service. Current State=2")) << ToUtf8(text);
        EXPECT_EQ(1, CountOccurrences(text, L"Failed to start the Service.\r\n")) << ToUtf8(text);
        EXPECT_EQ(1, CountOccurrences(text, L"Attempting StartService: 2 time")) << ToUtf8(text);
        EXPECT_EQ(1, CountOccurrences(text, L"Failed to start the Service. Error Code=" + std::to_wstring(result))) << ToUtf8(text);
        EXPECT_EQ(c.capped, CountOccurrences(text, L"Service wait interval held at 600000 ms") == 1) << ToUtf8(text);
        EXPECT_EQ(1, CountOccurrences(text, L"Successfully Installed the Service.")) << "logged although the start failed";
    }
}

TEST_F(ServiceControlTest, ScannerWaitPollsWhileInitialisingAndStopsAtAnyOtherState) {
    ASSERT_EQ(0u, element_->Install());
    InstallContext().waitForService = true;
    struct Case { const wchar_t* states; DWORD expected; size_t sleeps; int polls; };
    const Case cases[] = {
        { L"9,4", 0, 1, 2 },
        { L"9,9,9,9,9,9,9,9,9,9,4", ERROR_SERVICE_NOT_ACTIVE, 10, 10 },   // ten polls, then the wait ends
        { L"6", ERROR_SERVICE_NOT_ACTIVE, 0, 1 },
        { L"8", ERROR_SERVICE_NOT_ACTIVE, 0, 1 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << ToUtf8(c.states));
        ASSERT_EQ(0u, element_->StopService());
        SetDoubleText(L"BulwarkClient", L"States", c.states);
        SetDoubleText(L"BulwarkClient", L"Calls", L"");
        g_sleeps.clear();
        EXPECT_EQ(c.expected, element_->StartTheService());
        EXPECT_EQ(c.sleeps, g_sleeps.size());
        const std::wstring calls = DoubleText(L"BulwarkClient", L"Calls");
        EXPECT_EQ(c.polls, CountOccurrences(calls, L"AVGetSystemState:next;")) << ToUtf8(calls);
        EXPECT_EQ(1, CountOccurrences(calls, L"AVUnInitialize:client;")) << ToUtf8(calls);
    }
}

TEST_F(ServiceControlTest, FailedClientInitialisationStillUninitialisesAndReportsNotActive) {
    ASSERT_EQ(0u, element_->Install());
    ASSERT_EQ(0u, element_->StopService());
    InstallContext().waitForService = true;
    SetDoubleNumber(L"BulwarkClient", L"InitializeResult", 31);
    LogCapture log;
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE), element_->StartTheService());
    EXPECT_EQ(1, CountOccurrences(log.Text(), L"Failed to initialize the Client. Error code 31")) << ToUtf8(log.Text());
    EXPECT_EQ(L"AVInitialize:10000;AVUnInitialize:null;", DoubleText(L"BulwarkClient", L"Calls"));
}

TEST_F(ServiceControlTest, OverrideZeroCorrectsTheStartTypeButDoesNotStart) {
    element_->start = SERVICE_DEMAND_START;
    ASSERT_EQ(0u, element_->Install());
    element_->start = SERVICE_AUTO_START;
    InstallOverrideTable::Record(L"Start", L"0");
    EXPECT_EQ(0u, element_->StartTheService());
    const auto snapshot = QueryTestService(kServiceName);
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), snapshot->startType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), snapshot->state);
    EXPECT_EQ(L"", ServiceDoubleStarts(kServiceName));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE), element_->Verify()) << "an automatic service that does not run";
    element_->start = SERVICE_DEMAND_START;
    EXPECT_EQ(0u, element_->Verify()) << "registration alone is checked for a service started on demand";
}

TEST_F(ServiceControlTest, OverrideOtherThanExactlyZeroStarts) {
    InstallOverrideTable::Record(L"Start", L"00");
    ASSERT_EQ(0u, element_->Install());
    EXPECT_TRUE(WaitForServiceState(kServiceName, SERVICE_RUNNING, 5000));
}

TEST_F(ServiceControlTest, StopSendsTheEngineCodeOnlyToARunningService) {
    ASSERT_EQ(0u, element_->Install());
    EXPECT_EQ(0u, element_->StopService());
    EXPECT_EQ(L"218;", ServiceDoubleControls(kServiceName));
    EXPECT_EQ(0u, element_->StopService()) << "already stopped";
    EXPECT_EQ(L"218;", ServiceDoubleControls(kServiceName)) << "no second control code";
}

DWORD RefusePrivilege(HANDLE, const wchar_t*) { return ERROR_NOT_ALL_ASSIGNED; }

TEST_F(ServiceControlTest, PrivilegeThatCannotBeEnabledPreventsTheStop) {
    ASSERT_EQ(0u, element_->Install());
    SecurityHelper::SetPrivilegeEnablerForTests(&RefusePrivilege);
    LogCapture log;
    EXPECT_EQ(0xA7F4022Eu, element_->StopService());
    EXPECT_EQ(1, CountOccurrences(log.Text(), L"Failed to Disable Lockdown.")) << ToUtf8(log.Text());
    EXPECT_EQ(L"", ServiceDoubleControls(kServiceName)) << "nothing else is attempted";
    const auto snapshot = QueryTestService(kServiceName);
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), snapshot->state);
}

TEST_F(ServiceControlTest, MissingServiceFailsStopAndUninstallAndVerifyAndRepairInstallsIt) {
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), element_->UnInstall());
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), element_->Verify());
    EXPECT_EQ(0u, element_->Repair());
    const auto snapshot = QueryTestService(kServiceName);
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(L"\"" + InstallContext().installDirectory + L"\\engine_service.exe\"", snapshot->binaryPath);
}

TEST_F(ServiceControlTest, DependencyLongerThanTheListIsRefusedBeforeTheServiceIsCreated) {
    element_->dependOnService = std::wstring(259, L'x');
    LogCapture log;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), element_->Install());
    EXPECT_FALSE(QueryTestService(kServiceName));
    EXPECT_EQ(1, CountOccurrences(log.Text(), L"DependOnService of service InstallerComponentTestService is longer than 258"))
        << ToUtf8(log.Text());
}

TEST_F(ServiceControlTest, UnusableRestartCountSetsNoFailureActionsAndTheInstallGoesOn) {
    element_->failureRestart.restartCount = -3;
    LogCapture log;
    EXPECT_EQ(0u, element_->Install());
    EXPECT_EQ(1, CountOccurrences(log.Text(), L"No failure actions set for service InstallerComponentTestService: "
                                      L"RestartCount is negative (-3).")) << ToUtf8(log.Text());
    EXPECT_TRUE(WaitForServiceState(kServiceName, SERVICE_RUNNING, 5000));
}

// The network-control library double is next to this program.
class NcApiTest : public testing::Test {
protected:
    void SetUp() override { ClearDoubleSettings(); }
    void TearDown() override { ClearDoubleSettings(); }
    static bool LibraryLoaded() { return ::GetModuleHandleW(L"ncapi.dll") != nullptr; }
};

TEST_F(NcApiTest, InitialiseHoldsBothInterfacesAndReleaseGivesThemBack) {
    {
        NcApi api;
        EXPECT_TRUE(api.Initialize());
        EXPECT_TRUE(api.HoldsMain());
        EXPECT_TRUE(api.HoldsSecond());
        EXPECT_TRUE(api.Initialize()) << "a second initialise keeps what it holds";
    }
    EXPECT_EQ(L"ncapi;open;release-second;release-main;module-set;", DoubleText(L"ncapi", L"Calls"));
    EXPECT_FALSE(LibraryLoaded());
}

TEST_F(NcApiTest, EntryPointFailureRaisesWithItsCodeAndFreesTheLibrary) {
    SetDoubleNumber(L"ncapi", L"EntryResult", 1234);
    NcApi api;
    try {
        api.Initialize();
        FAIL() << "no exception";
    } catch (const AVException& e) {
        EXPECT_EQ("Failed to Get NCAPI Interface", e.Message());
        EXPECT_EQ(1234u, e.Code());
        EXPECT_EQ("nc_api", e.SourceFile());
    }
    EXPECT_FALSE(api.HoldsMain());
    EXPECT_FALSE(LibraryLoaded());
}

TEST_F(NcApiTest, SecondInterfaceFailureReportsFalseAndReleasesTheMainOne) {
    SetDoubleNumber(L"ncapi", L"OpenResult", 5);
    NcApi api;
    EXPECT_FALSE(api.Initialize());
    EXPECT_FALSE(api.HoldsMain());
    EXPECT_FALSE(api.HoldsSecond());
    EXPECT_FALSE(LibraryLoaded());
    EXPECT_EQ(L"ncapi;open;release-main;module-set;", DoubleText(L"ncapi", L"Calls"));
}

TEST(ScannerClientTest, ResolvesAllSixtyFiveNamesOfTheLibraryNextToTheProgram) {
    EXPECT_NO_THROW({ ScannerClient client; });
    EXPECT_STREQ("AVInitialize", ScannerClient::kFunctionNames[0]);
    EXPECT_STREQ("AVBulwarkStopService", ScannerClient::kFunctionNames[64]);
    EXPECT_FALSE(::GetModuleHandleW(L"BulwarkClient.dll")) << "freed with the client";
}

} // namespace
