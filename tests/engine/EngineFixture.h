#pragma once
// Shared set-up of the engine tests: a temporary folder, a clean install context, a clean
// HKLM\SOFTWARE\Norvex, a log file to read back, packages bound from document texts, and payload
// files placed next to the test program (where a package's files are copied from).
#include <windows.h>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>
#include "engine/InstallContext.h"
#include "engine/Package.h"
#include "engine/installer.h"
#include "policy/InstallOverrideTable.h"
#include "shell/Log.h"
#include "support/Hex.h"
#include "support/LogReader.h"
#include "support/Registry.h"
#include "support/Strings.h"
#include "support/TestFiles.h"
#include "xml/Binding.h"

namespace engine_test {

inline void DeleteTestKeys() {
    hklm::DeleteKey(L"SOFTWARE\\Norvex");
    hklm::DeleteKey(L"SOFTWARE\\Wow6432Node\\Norvex");
}

class EngineTest : public testing::Test {
protected:
    void SetUp() override {
        ResetInstallContext();
        InstallOverrideTable::ClearForTests();
        DeleteTestKeys();
        logPath_ = dir_ / L"installer.log";
        InitializeLog(logPath_);
    }

    void TearDown() override {
        UninitializeLog(logPath_);
        DeleteTestKeys();
        for (const auto& path : payloads_) ::DeleteFileW(path.c_str());
        ResetInstallContext();
        InstallOverrideTable::ClearForTests();
    }

    // Binds a package from an installation document text.
    std::unique_ptr<Package> LoadPackage(const std::wstring& body) {
        const std::wstring path = dir_ / (L"package" + std::to_wstring(++documents_) + L".xml");
        EXPECT_TRUE(WriteTextFile(path, L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n" + body));
        auto package = std::make_unique<Package>();
        std::wstring error;
        EXPECT_TRUE(Deserialize(path, *package, error)) << testing::PrintToString(error);
        return package;
    }

    // Puts a file next to the test program, where packages copy their files from; returns its
    // SHA-256 text.
    std::wstring WritePayload(const std::wstring& name, const std::string& content) {
        const std::wstring path = TestProgramDirectory() + name;
        EXPECT_TRUE(WriteFileBytes(path, content));
        payloads_.push_back(path);
        return Sha256Text(content);
    }

    // Everything logged so far in this test.
    std::wstring LogText() const { return ReadLogText(logPath_); }

    // Sets the install context as the command line would.
    void UseDirectories(const std::wstring& installDirectory, const std::wstring& contentPath) {
        InstallContext().installDirectory = installDirectory;
        InstallContext().contentPath = contentPath;
    }

    TempDir dir_{ L"eng" };
    std::wstring logPath_;

private:
    std::vector<std::wstring> payloads_;
    int documents_ = 0;
};

// A digest text of the right form for elements whose file is never read.
inline const wchar_t* AnyDigest() { return L"0000000000000000000000000000000000000000000000000000000000000000"; }

// An engine test that runs whole actions as main does: an install directory two levels below the
// test's folder (not created) and an existing content folder, both in the install context.
class ActionTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        install_ = dir_ / L"inst\\deep";
        content_ = dir_ / L"content";
        ASSERT_TRUE(::CreateDirectoryW(content_.c_str(), nullptr));
        UseDirectories(install_, content_);
    }

    DWORD Perform(Package& package, Action action, const std::wstring* configuration = nullptr,
                  const std::wstring* quarantine = nullptr) {
        return PerformAction(package, action, configuration, install_, content_, quarantine, false);
    }

    std::wstring install_;
    std::wstring content_;
};

} // namespace engine_test
