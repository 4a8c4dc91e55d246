#pragma once
// Helpers for the resource-operation tests: elements bound from a line of XML, the console
// output of one step, the scratch registry key and the versioned fixture files.
#include <windows.h>
#include <functional>
#include <memory>
#include <string>
#include <gtest/gtest.h>
#include "shell/Handles.h"
#include "support/Hex.h"
#include "support/LogReader.h"
#include "support/Registry.h"
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
    {
        UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        EXPECT_TRUE(file);
        HANDLE saved = ::GetStdHandle(STD_OUTPUT_HANDLE);
        ::SetStdHandle(STD_OUTPUT_HANDLE, file.get());
        step();
        ::SetStdHandle(STD_OUTPUT_HANDLE, saved);
    }
    return FromUtf8(ReadFileBytes(path));
}

// A library built with a version resource (see fixtures.cmake).
inline std::wstring VersionedFixture(const std::wstring& name) {
    return TestProgramDirectory() + L"fixtures\\operations\\" + name;
}

inline void DeleteScratchKey() { hklm::DeleteKey(L"SOFTWARE\\NorvexTest"); }
