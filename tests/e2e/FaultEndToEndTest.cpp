// Faults an administrator's machine meets while installer.exe runs: a full disk, the installer
// ended in the middle of an install, a package folder that lost its payload, files and folders
// it may not write, an engine that dies or a scanner library that never answers, and a second
// installer started at the same moment. After each, the machine is looked at: it is either fully
// installed or fully as it was, and the exit code says which.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <tlhelp32.h>
#include <gtest/gtest.h>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <string>
#include <vector>
#include "e2e/PackageFixture.h"
#include "shell/Handles.h"
#include "support/LogReader.h"
#include "support/Strings.h"
#include "support/TestServices.h"

namespace e2e {
namespace {

const wchar_t kSlowRuntimeDocument[] = L"slow-runtime.xml";
const wchar_t kRuntimeProgram[] = L"runtime_setup.exe";

// The files of slow-runtime.xml, below the install directory, with their payload.
struct PlacedFile {
    const wchar_t* installed;
    const wchar_t* payload;
};
const PlacedFile kSlowRuntimeFiles[] = {
    {L"engine.cfg", L"core\\engine.cfg"},
    {L"tarnexcore.dll", L"core\\tarnexcore.dll"},
    {L"tarnexscan.dll", L"core\\tarnexscan.dll"},
    {L"data files\\signatures.dat", L"data files\\signatures.dat"},
};

// The restart-time rename list as one text ("" when empty).
std::wstring PendingRenamesText() {
    std::wstring text;
    for (const auto& item : PendingRenameItems()) text += item + L"\n";
    return text;
}

// Waits up to `timeoutMs` until `done` holds; true when it did.
template <typename Condition>
bool WaitUntil(DWORD timeoutMs, Condition done) {
    const DWORD start = ::GetTickCount();
    while (!done()) {
        if (::GetTickCount() - start > timeoutMs) return false;
        ::Sleep(50);
    }
    return true;
}

// Ends every process of that executable name (the runtime installer a killed installer left).
void EndProcessesNamed(const wchar_t* name) {
    UniqueKernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot || snapshot.get() == INVALID_HANDLE_VALUE) return;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
        if (::lstrcmpiW(entry.szExeFile, name) != 0) continue;
        UniqueKernelHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
        if (!process) continue;
        ::TerminateProcess(process.get(), 1);
        ::WaitForSingleObject(process.get(), 10000);
    }
}

// An environment variable of this process (inherited by the installer and its helpers) for the
// lifetime of the object.
class ScopedEnvironment {
public:
    ScopedEnvironment(const wchar_t* name, const std::wstring& value) : name_(name) {
        ::SetEnvironmentVariableW(name_, value.c_str());
    }
    ~ScopedEnvironment() { ::SetEnvironmentVariableW(name_, nullptr); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const wchar_t* name_;
};

class FaultTest : public PackageTest {
protected:
    void TearDown() override {
        EndProcessesNamed(kRuntimeProgram);
        PackageTest::TearDown();
    }

    // After a rollback or an uninstall: no reference, no records, no install directory.
    void ExpectNothingInstalled() {
        EXPECT_FALSE(KeyExists(kReferenceKey));
        EXPECT_FALSE(KeyExists(kSettingsKey));
        EXPECT_FALSE(DirectoryExists(installDirectory_));
    }
};

// ---- A full disk -------------------------------------------------------------------------------

// The small drive the test script mounts (a 1 MiB tmpfs seen as T:), filled up to `leave` free
// bytes for the test and emptied again afterwards.
class FullDiskTest : public FaultTest {
protected:
    void SetUp() override {
        const char* drive = std::getenv("INSTALLER_TEST_SMALL_DRIVE");
        if (!drive || !*drive) {
            GTEST_SKIP() << "no small drive: scripts/run-tests.sh mounts a tmpfs as T: and names it in "
                            "INSTALLER_TEST_SMALL_DRIVE; that mount was refused or the test ran outside the script";
        }
        drive_ = FromUtf8(drive) + L"\\";
        ULARGE_INTEGER free{}, total{};
        if (!::GetDiskFreeSpaceExW(drive_.c_str(), &free, &total, nullptr)) {
            GTEST_SKIP() << "the small drive " << drive << " is named but cannot be reached (error " << ::GetLastError()
                         << ")";
        }
        ASSERT_LT(total.QuadPart, 64ull * 1024 * 1024) << "the drive named as the small drive is not small";
        FaultTest::SetUp();
        if (HasFatalFailure()) return;
        ClearDrive();
    }
    void TearDown() override {
        if (!drive_.empty()) ClearDrive();
        FaultTest::TearDown();
    }

    // Fills the drive until about `leave` bytes are free; the free space that is left.
    unsigned long long FillDrive(unsigned long long leave) {
        ULARGE_INTEGER free{};
        ::GetDiskFreeSpaceExW(drive_.c_str(), &free, nullptr, nullptr);
        if (free.QuadPart > leave) {
            filler_ = std::string(static_cast<size_t>(free.QuadPart - leave), 'f');
            EXPECT_TRUE(WriteFileBytes(drive_ + L"filler.bin", filler_));
        }
        ::GetDiskFreeSpaceExW(drive_.c_str(), &free, nullptr, nullptr);
        return free.QuadPart;
    }

    void ClearDrive() {
        WIN32_FIND_DATAW data;
        UniqueFindHandle find(::FindFirstFileW((drive_ + L"*").c_str(), &data));
        if (!find) return;
        do {
            const std::wstring name = data.cFileName;
            if (name != L"." && name != L"..") RemoveTree(drive_ + name);
        } while (::FindNextFileW(find.get(), &data));
    }

    std::wstring drive_;   // "T:\"
    std::string filler_;
};

TEST_F(FullDiskTest, InstallDirectoryOnAFullDiskFailsWithTheCopysCodeAndIsRolledBack) {
    // Room for the small configuration file, not for the 85 KB library after it.
    installDirectory_ = drive_ + L"Programmes\\Tarnex";
    const unsigned long long free = FillDrive(40 * 1024);
    ASSERT_LT(free, ReadFileBytes(Payload(L"core\\tarnexcore.dll")).size());

    const ProcessResult result = RunInstaller(InstallArguments(L"lifecycle.xml"));
    const std::wstring log = LogText();
    EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), result.exitCode) << Describe(result, log);
    EXPECT_TRUE(Contains(log, L"Failed to copy File, from " + Payload(L"core\\tarnexcore.dll"))) << ToUtf8(log);
    EXPECT_TRUE(Contains(log, L"Failed to Install, Starting RollBack.")) << ToUtf8(log);
    EXPECT_FALSE(Contains(log, L"Rollback could not put back")) << ToUtf8(log);

    ExpectNothingInstalled();
    EXPECT_FALSE(KeyExists(kFamilyKey)) << "the rollback removes the keys the install created";
    EXPECT_FALSE(DirectoryExists(drive_ + L"Programmes")) << "the parents the install created go too";
    EXPECT_EQ(filler_, ReadFileBytes(drive_ + L"filler.bin")) << "what was on the drive stays";
}

TEST_F(FullDiskTest, LogOnAFullDiskEndsWhereTheDiskDidAndTheInstallSucceeds) {
    logPath_ = drive_ + L"installer.log";
    const unsigned long long free = FillDrive(8 * 1024);

    const ProcessResult result = RunInstaller(InstallArguments(L"lifecycle.xml"));
    const std::wstring log = LogText();
    ASSERT_EQ(0u, result.exitCode) << Describe(result, log);
    for (const wchar_t* file : {L"engine.cfg", L"tarnexcore.dll", L"tarnexscan.dll"})
        EXPECT_EQ(ReadFileBytes(Payload(std::wstring(L"core\\") + file)), ReadFileBytes(Installed(file))) << ToUtf8(file);
    EXPECT_TRUE(KeyExists(kReferenceKey));

    // The log holds what fitted, from its first record on, and nothing after the disk was full.
    const std::string bytes = ReadFileBytes(logPath_);
    ASSERT_FALSE(bytes.empty());
    EXPECT_LE(bytes.size(), free);
    EXPECT_GE(bytes.size(), free - 4096) << "the log filled the drive";
    const std::vector<std::wstring> records = LogRecords(log);
    ASSERT_GE(records.size(), 5u) << ToUtf8(log);
    EXPECT_TRUE(Contains(records[3], L"Beginning Tarnex Installation/Uninstallation sequence")) << ToUtf8(log);
    for (size_t i = 0; i + 1 < records.size(); ++i)
        EXPECT_TRUE(ParseLogRecord(records[i]).parsed) << "record " << i << ": " << ToUtf8(records[i]);
    EXPECT_FALSE(Contains(log, L"Completed Tarnex Installation/Uninstallation sequence")) << ToUtf8(log);

    // With the log elsewhere the installation verifies.
    logPath_ = *root_ / L"verify.log";
    const ProcessResult verify = RunInstaller(VerifyArguments(L"lifecycle.xml"));
    EXPECT_EQ(0u, verify.exitCode) << Describe(verify, LogText());
}


// ---- The installer ended in the middle of its work ---------------------------------------------

TEST_F(FaultTest, InstallKilledAfterItsFilesAreCopiedIsCompletedByRepairAndRemovedByUninstall) {
    std::unique_ptr<StartedProgram> installer;
    {
        // The runtime installer of the second feature takes long enough for the kill to find the
        // install after its files and before its end.
        ScopedEnvironment slow(L"EXIT_CODE_HELPER_SLEEP_MS", L"60000");
        ::DeleteFileW(logPath_.c_str());
        installer = std::make_unique<StartedProgram>(package_ + L"\\installer.exe", InstallArguments(kSlowRuntimeDocument));
    }
    ASSERT_TRUE(installer->Started()) << "error " << installer->StartError();
    const bool reachedRuntime = WaitUntil(60000, [this] {
        const std::wstring log = LogText();
        return CountOccurrences(log, L"Successfully copied File") == 4 &&
               Contains(log, L"Entered function ExecuteOperation::Install");
    });
    installer->Kill();
    EndProcessesNamed(kRuntimeProgram);
    ASSERT_TRUE(reachedRuntime) << ToUtf8(LogText());
    EXPECT_EQ(0xDEADu, installer->ExitCode());
    EXPECT_FALSE(Contains(LogText(), L"Install Successfull.")) << ToUtf8(LogText());
    ASSERT_TRUE(KeyExists(kReferenceKey)) << "the kill left the half-done install";

    const ProcessResult repair = RunInstaller(RepairArguments(kSlowRuntimeDocument));
    EXPECT_EQ(0u, repair.exitCode) << Describe(repair, LogText());
    const ProcessResult verify = RunInstaller(VerifyArguments(kSlowRuntimeDocument));
    EXPECT_EQ(0u, verify.exitCode) << Describe(verify, LogText());
    EXPECT_FALSE(Contains(verify.OutputText(), L"Verification failed")) << verify.output;
    for (const auto& file : kSlowRuntimeFiles)
        EXPECT_EQ(ReadFileBytes(Payload(file.payload)), ReadFileBytes(Installed(file.installed))) << ToUtf8(file.installed);

    const ProcessResult uninstall = RunInstaller(UninstallArguments(kSlowRuntimeDocument));
    EXPECT_EQ(0u, uninstall.exitCode) << Describe(uninstall, LogText());
    ExpectNothingInstalled();
}

// ---- The package lost its payload --------------------------------------------------------------

TEST_F(FaultTest, RepairWithoutThePayloadFailsAndLeavesTheInstalledFilesAsTheyAre) {
    ASSERT_EQ(0u, RunInstaller(InstallArguments(kSlowRuntimeDocument)).exitCode) << ToUtf8(LogText());
    ASSERT_TRUE(WriteFileBytes(Installed(L"tarnexscan.dll"), "damaged build"));
    struct Before { std::string bytes; unsigned long long written; };
    std::vector<Before> before;
    for (const auto& file : kSlowRuntimeFiles)
        before.push_back({ReadFileBytes(Installed(file.installed)), LastWriteTime(Installed(file.installed))});
    const std::wstring pendingBefore = PendingRenamesText();
    for (const wchar_t* folder : {L"core", L"data files", L"runtime"}) ASSERT_TRUE(RemoveTree(Payload(folder)));

    const ProcessResult repair = RunInstaller(RepairArguments(kSlowRuntimeDocument));
    const std::wstring log = LogText();
    EXPECT_TRUE(repair.exitCode == ERROR_FILE_NOT_FOUND || repair.exitCode == ERROR_PATH_NOT_FOUND)
        << Describe(repair, log);
    EXPECT_TRUE(Contains(log, L"Failed to repair File tarnexscan.dll")) << ToUtf8(log);
    for (size_t i = 0; i < before.size(); ++i) {
        const std::wstring path = Installed(kSlowRuntimeFiles[i].installed);
        EXPECT_EQ(before[i].bytes, ReadFileBytes(path)) << ToUtf8(path);
        EXPECT_EQ(before[i].written, LastWriteTime(path)) << ToUtf8(path);
    }
    EXPECT_EQ(pendingBefore, PendingRenamesText()) << "nothing is scheduled for the restart";
    EXPECT_TRUE(KeyExists(kReferenceKey));
}

// ---- Files and folders the installer may not write ---------------------------------------------

TEST_F(FaultTest, ReadOnlyInstalledFileIsRepairedAndRemoved) {
    ASSERT_EQ(0u, RunInstaller(InstallArguments(kSlowRuntimeDocument)).exitCode) << ToUtf8(LogText());
    const std::wstring file = Installed(L"tarnexscan.dll");
    ASSERT_TRUE(WriteFileBytes(file, "damaged build"));
    ASSERT_TRUE(::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));

    const ProcessResult repair = RunInstaller(RepairArguments(kSlowRuntimeDocument));
    std::wstring log = LogText();
    EXPECT_TRUE(repair.exitCode == 0 || repair.exitCode == ERROR_SUCCESS_REBOOT_REQUIRED) << Describe(repair, log);
    EXPECT_EQ(ReadFileBytes(Payload(L"core\\tarnexscan.dll")), ReadFileBytes(file)) << ToUtf8(log);
    const ProcessResult verify = RunInstaller(VerifyArguments(kSlowRuntimeDocument));
    EXPECT_EQ(0u, verify.exitCode) << Describe(verify, LogText());

    // Read-only again, now on the intact file: the uninstall still removes it and its folder
    // (neither the delete now nor one at the restart would take a read-only file).
    ASSERT_TRUE(::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
    const std::wstring pendingBefore = PendingRenamesText();
    const ProcessResult uninstall = RunInstaller(UninstallArguments(kSlowRuntimeDocument));
    log = LogText();
    EXPECT_EQ(0u, uninstall.exitCode) << Describe(uninstall, log);
    EXPECT_TRUE(Contains(log, L"Cleared the read-only attribute of " + file)) << ToUtf8(log);
    EXPECT_FALSE(FileExists(file));
    ExpectNothingInstalled();
    EXPECT_EQ(pendingBefore, PendingRenamesText()) << "nothing is left for the restart";
}

// A folder whose access list denies creating files, as an administrator's lockdown may leave it.
TEST_F(FaultTest, InstallIntoAFolderThatDeniesWritingFailsAndChangesNothing) {
    const std::wstring locked = *root_ / L"Locked";
    ASSERT_TRUE(::CreateDirectoryW(locked.c_str(), nullptr));
    UniqueLocal descriptor;
    {
        PSECURITY_DESCRIPTOR made = nullptr;
        // Everyone may read the folder; nobody may add a file or a folder to it.
        ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"D:P(D;OICI;0x6;;;WD)(A;OICI;GA;;;WD)", SDDL_REVISION_1, &made, nullptr));
        descriptor.reset(made);
    }
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              ::SetNamedSecurityInfoW(const_cast<wchar_t*>(locked.c_str()), SE_FILE_OBJECT,
                                      DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                      dacl, nullptr));
    const bool enforced = !WriteFileBytes(locked + L"\\probe.txt", "probe");
    if (!enforced) {
        ::DeleteFileW((locked + L"\\probe.txt").c_str());
        GTEST_SKIP() << "the system stored the folder's access list but let a file be created in it: access lists "
                        "on files are not enforced here, so a write-denied install directory cannot be shown";
    }
    installDirectory_ = locked + L"\\Tarnex";
    const ProcessResult result = RunInstaller(InstallArguments(kSlowRuntimeDocument));
    const std::wstring log = LogText();
    EXPECT_NE(0u, result.exitCode) << Describe(result, log);
    ExpectNothingInstalled();
}

// ---- The engine and its scanner library misbehave ----------------------------------------------

const wchar_t kServiceDocument[] = L"service.xml";
const wchar_t kServiceName[] = L"TarnexEngineTest";

class EngineFaultTest : public FaultTest {
protected:
    void SetUp() override {
        ClearDoubleSettings();
        ASSERT_TRUE(RemoveTestService(kServiceName)) << "a test service left by an earlier run";
        FaultTest::SetUp();
    }
    void TearDown() override {
        EXPECT_TRUE(RemoveTestService(kServiceName));
        ClearDoubleSettings();
        FaultTest::TearDown();
    }

    // The service the install registered is gone, or marked for deletion when it did not stop.
    static bool ServiceGoneOrMarkedForDeletion() {
        UniqueServiceHandle scm(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        UniqueServiceHandle service(::OpenServiceW(scm.get(), kServiceName, SERVICE_ALL_ACCESS));
        if (!service) return ::GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
        return !::DeleteService(service.get()) && ::GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
    }

    void ExpectRolledBack(const std::wstring& log) {
        EXPECT_TRUE(Contains(log, L"Failed to Install, Starting RollBack.")) << ToUtf8(log);
        EXPECT_FALSE(Contains(log, L"Rollback could not put back")) << ToUtf8(log);
        EXPECT_TRUE(ServiceGoneOrMarkedForDeletion()) << ToUtf8(log);
        EXPECT_FALSE(KeyExists(kReferenceKey));
        EXPECT_FALSE(FileExists(Installed(L"tarnexsvc.exe")));
        EXPECT_FALSE(DirectoryExists(installDirectory_));
    }
};

TEST_F(EngineFaultTest, EngineThatDiesWhileStartingFailsTheInstallWhichIsRolledBack) {
    SetServiceDoubleMode(kServiceName, L"die-pending");
    SetDoubleNumber(L"Services\\" + std::wstring(kServiceName), L"PendingSeconds", 1);
    const ProcessResult result = RunInstaller(InstallArguments(kServiceDocument));
    const std::wstring log = LogText();
    EXPECT_NE(0u, result.exitCode) << Describe(result, log);
    EXPECT_NE(0xDEADu, result.exitCode) << "the installer ran into the test's time limit";
    EXPECT_TRUE(Contains(log, L"Failed to start the Service")) << ToUtf8(log);
    EXPECT_TRUE(Contains(ServiceDoubleStarts(kServiceName), L"start;")) << "the engine was started";
    // The SCM may keep showing the dead engine as starting: then its stop times out, and the
    // registration is marked for deletion rather than left behind.
    EXPECT_TRUE(Contains(log, L"Succeeded uninstalling TarnexEngineTest service.") ||
                Contains(log, L"Service TarnexEngineTest did not stop; it is marked for deletion"))
        << ToUtf8(log);
    ExpectRolledBack(log);
}

// A scanner library that never returns from a call: each call may take one wait interval (at
// least ten seconds); then the library is not called again and the wait ends. Stuck while it is
// asked for the state, the scanner never reported "initialised" (1062, rolled back); stuck only
// in the release after it had, the install stands.
struct HangCase {
    const char* name;
    const wchar_t* function;
    DWORD expected;
    const wchar_t* calls;   // what the library was asked, in order
};
void PrintTo(const HangCase& c, std::ostream* os) { *os << c.name; }

const HangCase kHangCases[] = {
    {"InTheStateQuery", L"AVGetSystemState", ERROR_SERVICE_NOT_ACTIVE, L"AVInitialize:10000;AVGetSystemState:next;"},
    {"InTheRelease", L"AVUnInitialize", ERROR_SUCCESS,
     L"AVInitialize:10000;AVGetSystemState:next;AVUnInitialize:client;"},
};

class ScannerHangTest : public EngineFaultTest, public testing::WithParamInterface<HangCase> {};

TEST_P(ScannerHangTest, ScannerLibraryThatNeverReturnsEndsTheWaitWithinItsBound) {
    const HangCase& c = GetParam();
    SetDoubleText(L"BulwarkClient", L"HangIn", c.function);
    const DWORD started = ::GetTickCount();
    const ProcessResult result = RunInstaller(WithArguments(InstallArguments(kServiceDocument), {L"-w"}));
    const DWORD elapsed = ::GetTickCount() - started;
    const std::wstring log = LogText();
    EXPECT_EQ(c.expected, result.exitCode) << Describe(result, log);
    EXPECT_EQ(1, CountOccurrences(log, std::wstring(L"Scanner client function ") + c.function +
                                           L" did not return within 10000 ms"))
        << ToUtf8(log);
    EXPECT_LT(elapsed, 60000u);
    EXPECT_EQ(c.calls, DoubleText(L"BulwarkClient", L"Calls")) << "a library stuck in a call is not called again";
    if (c.expected == ERROR_SUCCESS) {
        EXPECT_TRUE(Contains(log, L"Server State : CRV_INITIALIZED")) << ToUtf8(log);
        EXPECT_TRUE(Contains(log, L"Install Successfull.")) << ToUtf8(log);
        EXPECT_TRUE(KeyExists(kReferenceKey));
        EXPECT_TRUE(WaitForServiceState(kServiceName, SERVICE_RUNNING, 5000));
    } else {
        EXPECT_EQ(0, CountOccurrences(log, L"Server State : ")) << ToUtf8(log);
        EXPECT_TRUE(Contains(log, L"Succeeded uninstalling TarnexEngineTest service.")) << ToUtf8(log);
        ExpectRolledBack(log);
    }
}

INSTANTIATE_TEST_SUITE_P(Scanner, ScannerHangTest, testing::ValuesIn(kHangCases),
                         [](const testing::TestParamInfo<HangCase>& info) { return std::string(info.param.name); });

// ---- Two installers at once --------------------------------------------------------------------

TEST_F(FaultTest, OfTwoInstallersStartedTogetherExactlyOneRunsAndTheOtherAnswersSingleInstance) {
    // Each install holds the single-instance marker for about a second (its runtime installer).
    ScopedEnvironment slow(L"EXIT_CODE_HELPER_SLEEP_MS", L"800");
    const std::wstring installer = package_ + L"\\installer.exe";
    const std::wstring otherLog = *root_ / L"second.log";
    for (int pair = 0; pair < 20; ++pair) {
        SCOPED_TRACE(testing::Message() << "pair " << pair);
        ::DeleteFileW(logPath_.c_str());
        ::DeleteFileW(otherLog.c_str());
        std::vector<std::wstring> secondArguments = InstallArguments(kSlowRuntimeDocument);
        secondArguments.back() = otherLog;
        StartedProgram first(installer, InstallArguments(kSlowRuntimeDocument), true);
        StartedProgram second(installer, secondArguments, true);
        ASSERT_TRUE(first.Started() && second.Started());
        first.Resume();
        second.Resume();
        ASSERT_TRUE(first.Wait(60000) && second.Wait(60000)) << "an installer did not end";

        const DWORD codes[] = {first.ExitCode(), second.ExitCode()};
        const std::wstring logs[] = {LogText(), ReadLogText(otherLog)};
        const int winner = codes[0] == 0 ? 0 : 1;
        ASSERT_EQ(0u, codes[winner]) << codes[0] << " and " << codes[1] << "\n" << ToUtf8(logs[0]) << ToUtf8(logs[1]);
        EXPECT_EQ(static_cast<DWORD>(ERROR_SINGLE_INSTANCE_APP), codes[1 - winner]) << ToUtf8(logs[1 - winner]);
        EXPECT_TRUE(Contains(logs[1 - winner], L"Another Instance of Installer is already running."));
        EXPECT_FALSE(Contains(logs[1 - winner], L"Successfully copied File")) << "the second one changed nothing";

        const ProcessResult uninstall = RunInstaller(UninstallArguments(kSlowRuntimeDocument));
        ASSERT_EQ(0u, uninstall.exitCode) << Describe(uninstall, LogText());
        ExpectNothingInstalled();
    }
}

} // namespace
} // namespace e2e
