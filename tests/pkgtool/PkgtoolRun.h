#pragma once
// pkgtool.exe and installer.exe run from a test as an author's shell runs them: the full exit
// code, and standard output and standard error each as its own UTF-8 text.
#include <windows.h>
#include <string>
#include <vector>

struct ToolRun {
    bool started = false;
    DWORD exitCode = 0;
    std::wstring output;   // standard output, decoded from UTF-8
    std::wstring errors;   // standard error, decoded from UTF-8
    std::string outputBytes;

    // Non-empty lines of the standard output.
    std::vector<std::wstring> Lines() const;
    std::string Describe() const;
};

std::wstring PkgtoolPath();
ToolRun RunTool(const std::wstring& program, const std::vector<std::wstring>& arguments);
inline ToolRun RunPkgtool(const std::vector<std::wstring>& arguments) { return RunTool(PkgtoolPath(), arguments); }

// The 1-based line of the first occurrence of `marker` in a document's text; 0 when absent.
long LineOfMarker(const std::wstring& text, const std::wstring& marker);
