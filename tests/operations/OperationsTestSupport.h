#pragma once
// Helpers for the resource-operation tests: elements bound from a line of XML, the console and
// log output of one step, the scratch registry key and the versioned fixture files.
#include <windows.h>
#include <functional>
#include <memory>
#include <string>
#include <gtest/gtest.h>
#include "operations/Sha256.h"
#include "shell/Log.h"
#include "support/TestFiles.h"
#include "xml/XmlDocument.h"

// Scratch key of the registry tests, removed after each test.
constexpr wchar_t kScratchSubKey[] = L"SOFTWARE\\NorvexTest\\Operations";
constexpr wchar_t kScratchKeyPath[] = L"HKLM\\SOFTWARE\\NorvexTest\\Operations";

// An element of type T bound from the text of one element, e.g. L"<FileOperation .../>".
template <typename T>
std::unique_ptr<T> BindElement(const std::wstring& elementXml) {
    XmlDocument document;
    std::string narrow;
    for (wchar_t c : elementXml) narrow.push_back(static_cast<char>(c));
    EXPECT_TRUE(document.LoadText(narrow)) << ToUtf8(elementXml);
    XmlNode node = document.Root().SelectSingleNode(T::ElementName());
    EXPECT_FALSE(node.IsEmpty()) << ToUtf8(elementXml);
    auto element = std::make_unique<T>();
    if (!node.IsEmpty()) element->Bind(node);
    return element;
}

// What `step` writes to standard output.
inline std::wstring CaptureConsole(const std::function<void()>& step) {
    TempDir dir(L"console");
    const std::wstring path = dir / L"out.txt";
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    HANDLE saved = ::GetStdHandle(STD_OUTPUT_HANDLE);
    ::SetStdHandle(STD_OUTPUT_HANDLE, file);
    step();
    ::SetStdHandle(STD_OUTPUT_HANDLE, saved);
    ::CloseHandle(file);
    return FromUtf8(ReadFileBytes(path));
}

// The log file for the lifetime of the object.
class LogCapture {
public:
    LogCapture() : dir_(L"log"), path_(dir_ / L"install.log") { InitializeLog(path_); }
    ~LogCapture() { UninitializeLog(path_); }
    std::wstring Text() const { return Utf16FromBytes(ReadFileBytes(path_)); }
    bool Contains(const std::wstring& line) const { return Text().find(line) != std::wstring::npos; }

private:
    TempDir dir_;
    std::wstring path_;
};

inline std::wstring HexOf(const Sha256::Digest& digest, bool upper = false) {
    static const wchar_t lower[] = L"0123456789abcdef";
    static const wchar_t upperDigits[] = L"0123456789ABCDEF";
    const wchar_t* digits = upper ? upperDigits : lower;
    std::wstring text;
    for (uint8_t byte : digest) {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 15]);
    }
    return text;
}

inline std::wstring DigestTextOf(const std::string& bytes) { return HexOf(Sha256Of(bytes.data(), bytes.size())); }

// A library built with a version resource (see fixtures.cmake).
inline std::wstring VersionedFixture(const std::wstring& name) {
    return TestProgramDirectory() + L"fixtures\\operations\\" + name;
}

inline void DeleteScratchKey() { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\NorvexTest"); }
