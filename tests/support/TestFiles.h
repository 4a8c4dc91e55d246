#pragma once
// Files and folders for tests: a temporary folder that removes itself, file contents, and the
// folder that holds the test programs and installer.exe.
#include <windows.h>
#include <string>
#include <vector>

// The directory of the running test program, with a trailing backslash.
std::wstring TestProgramDirectory();

// A fresh, empty directory under the temp folder; removed with everything in it on destruction.
class TempDir {
public:
    explicit TempDir(const std::wstring& hint = L"t");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::wstring& Path() const { return path_; }
    // Path() + "\" + relative
    std::wstring operator/(const std::wstring& relative) const { return path_ + L"\\" + relative; }

private:
    std::wstring path_;
};

// Removes a file or a directory tree; true when nothing is left at the path.
bool RemoveTree(const std::wstring& path);

std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool WriteTextFile(const std::wstring& path, const std::wstring& utf8Text);   // written as UTF-8
bool FileExists(const std::wstring& path);
bool DirectoryExists(const std::wstring& path);

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);
// A UTF-16LE file's bytes (BOMs kept) as wide text.
std::wstring Utf16FromBytes(const std::string& bytes);
