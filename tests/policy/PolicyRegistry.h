#pragma once
// The policy keys the tests read back from HKLM, and configuration documents written for them.
#include <windows.h>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>
#include "engine/InstallContext.h"
#include "policy/Configuration.h"
#include "policy/InstallOverrideTable.h"
#include "support/Registry.h"
#include "support/Strings.h"
#include "support/TestFiles.h"
#include "xml/Binding.h"

namespace policytest {

inline const wchar_t kRoot[] = L"SOFTWARE\\Norvex\\Coravel";
inline const wchar_t kOas[] = L"SOFTWARE\\Norvex\\Coravel\\OAS\\DEFAULT";
inline const wchar_t kGlobal[] = L"SOFTWARE\\Norvex\\Coravel\\BULWARKGLOBAL\\GLOBAL";
inline const wchar_t kBulwarkGlobal[] = L"SOFTWARE\\Norvex\\Coravel\\BULWARKGLOBAL\\BULWARKGLOBAL";

// A configuration document with this content below its root, bound. Empty when it does not load
// or validate; `error` then holds the reason.
inline std::unique_ptr<Configuration> LoadConfiguration(const std::wstring& body, std::wstring* error = nullptr) {
    TempDir directory(L"cfg");
    const std::wstring path = directory / L"configuration.xml";
    const std::wstring text = L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Configuration schemaVersion=\"1.1\">\n" + body +
                              L"\n</Configuration>\n";
    if (!WriteTextFile(path, text)) return nullptr;
    auto configuration = std::make_unique<Configuration>();
    std::wstring reason;
    if (!Deserialize(path, *configuration, reason)) {
        if (error) *error = reason;
        return nullptr;
    }
    return configuration;
}

// Every test starts and ends without the policy root, the process-wide overrides or context.
class PolicyRegistryTest : public testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }

    static void Clean() {
        hklm::DeleteKey(kRoot);
        ResetInstallContext();
        InstallOverrideTable::ClearForTests();
    }
};

} // namespace policytest
