#pragma once
// Shared set-up of the engine tests: a temporary folder, a clean install context, a clean
// HKLM\SOFTWARE\Norvex, a log file to read back, packages bound from document texts, and payload
// files placed next to the test program (where a package's files are copied from).
#include <windows.h>
#include <shlwapi.h>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>
#include "engine/InstallContext.h"
#include "engine/Package.h"
#include "operations/Sha256.h"
#include "policy/InstallOverrideTable.h"
#include "shell/Log.h"
#include "support/TestFiles.h"
#include "xml/Binding.h"

namespace engine_test {

inline void DeleteTestKeys() {
    ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Norvex");
    ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\Norvex");
}

inline bool HklmKeyExists(const std::wstring& subKey) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    ::RegCloseKey(key);
    return true;
}

inline void CreateHklmKey(const std::wstring& subKey) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                nullptr),
              ERROR_SUCCESS);
    ::RegCloseKey(key);
}

inline void SetHklmString(const std::wstring& subKey, const std::wstring& name, const std::wstring& data) {
    ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, subKey.c_str(), name.c_str(), REG_SZ, data.c_str(),
                                static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

inline void SetHklmDword(const std::wstring& subKey, const std::wstring& name, DWORD data) {
    ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, subKey.c_str(), name.c_str(), REG_DWORD, &data, sizeof(data)),
              ERROR_SUCCESS);
}

// The value's data as text; false when it cannot be read.
inline bool GetHklmString(const std::wstring& subKey, const std::wstring& name, std::wstring& data) {
    wchar_t buffer[2048] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, subKey.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, buffer, &size) !=
        ERROR_SUCCESS) {
        return false;
    }
    data = buffer;
    return true;
}

inline bool HklmValueExists(const std::wstring& subKey, const std::wstring& name) {
    return ::RegGetValueW(HKEY_LOCAL_MACHINE, subKey.c_str(), name.c_str(), RRF_RT_ANY, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
}

inline std::vector<std::wstring> HklmValueNames(const std::wstring& subKey) {
    std::vector<std::wstring> names;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256] = {};
        DWORD length = 256;
        if (::RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.push_back(name);
    }
    ::RegCloseKey(key);
    return names;
}

inline std::wstring HexDigest(const std::string& bytes) {
    const Sha256::Digest digest = Sha256Of(bytes.data(), bytes.size());
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring text;
    for (uint8_t b : digest) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

inline int CountOccurrences(const std::wstring& text, const std::wstring& part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at + part.size())) ++count;
    return count;
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
        return HexDigest(content);
    }

    // Everything logged so far in this test.
    std::wstring LogText() {
        UninitializeLog(logPath_);
        const std::wstring text = Utf16FromBytes(ReadFileBytes(logPath_));
        InitializeLog(logPath_);
        return text;
    }

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

} // namespace engine_test
