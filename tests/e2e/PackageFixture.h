#pragma once
// The administrator's side of the end-to-end tests: a package folder (installer.exe with the
// sample payload and documents), an install directory and a content directory in a temporary
// folder, ways to run installer.exe and to simulate a restart, and a look at the machine
// afterwards (registry, files, pending restart operations).
#include <windows.h>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>
#include "shell/Handles.h"
#include "support/PendingRenames.h"
#include "support/Process.h"
#include "support/Registry.h"
#include "support/Strings.h"
#include "support/TestFiles.h"

namespace e2e {

// Registry, all under HKEY_LOCAL_MACHINE in the 64-bit view.
extern const wchar_t kFamilyKey[];          // SOFTWARE\Norvex\Coravel
extern const wchar_t kReferenceKey[];       // ...\Install_Reference
extern const wchar_t kSettingsKey[];        // the sample package's own settings
extern const wchar_t kVersionKey[];         // ...\CRV\CRV
extern const wchar_t kContentVersionKey[];  // ...\DS\DS

using hklm::DeleteValue;
using hklm::KeyExists;
using hklm::ReadDword;
using hklm::ReadMultiString;
using hklm::ReadString;
using hklm::ValueNames;
using hklm::WriteDword;
using hklm::WriteString;

// Copies a directory tree; false when anything could not be copied.
bool CopyTree(const std::wstring& from, const std::wstring& to);
// Last-write time of a file, 0 when it cannot be read.
unsigned long long LastWriteTime(const std::wstring& path);
// Opens an existing file for reading with the given share mode, as another program holding it
// would.
UniqueFileHandle HoldFile(const std::wstring& path, DWORD shareMode);
// Reads a file through a handle already open (from its start).
std::string ReadThroughHandle(HANDLE file);

// Runs wineboot -r, which carries out the operations scheduled for the next restart.
ProcessResult SimulateRestart();

// Security descriptors given with -sd1 and -sd2, so that their expansion can be checked.
extern const wchar_t kRealtimeScanSddl[];
extern const wchar_t kConfigurationSddl[];

class PackageTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A document of the sample package, by file name.
    std::wstring Document(const std::wstring& name) const { return package_ + L"\\" + name; }
    // A file of the package's payload, by package-relative path.
    std::wstring Payload(const std::wstring& relative) const { return package_ + L"\\" + relative; }
    // A path below the install directory.
    std::wstring Installed(const std::wstring& relative) const { return installDirectory_ + L"\\" + relative; }

    std::vector<std::wstring> InstallArguments(const std::wstring& document) const;
    std::vector<std::wstring> VerifyArguments(const std::wstring& document) const;
    std::vector<std::wstring> RepairArguments(const std::wstring& document) const;
    std::vector<std::wstring> UpgradeArguments(const std::wstring& document) const;
    std::vector<std::wstring> UninstallArguments(const std::wstring& document) const;

    // Runs the package's installer.exe (a fresh log each time).
    ProcessResult RunInstaller(const std::vector<std::wstring>& arguments);
    // The log of the last run, as text.
    std::wstring LogText() const;
    // One entry per run of the recording helper: its command line and its own path.
    struct HelperRun { std::wstring commandLine; std::wstring path; };
    std::vector<HelperRun> HelperRuns() const;

    std::unique_ptr<TempDir> root_;
    std::wstring package_;            // installer.exe, payload and documents
    std::wstring installDirectory_;   // not created: the install creates it
    std::wstring contentDirectory_;   // exists
    std::wstring logPath_;

private:
    PendingRenamesGuard pendingRenames_;
};

// The message for an assertion on an installer run: exit code, report and log.
std::string Describe(const ProcessResult& result, const std::wstring& log);

} // namespace e2e
