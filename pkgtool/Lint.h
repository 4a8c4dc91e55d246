#pragma once
// Lint: an installation document checked the way installer.exe will meet it on this machine:
// against the embedded schema (through the same loader), then against the payload next to it
// (the folder installer.exe runs from and reads every source from), and the exclusion texts of
// a configuration document.
#include <string>
#include <vector>

struct Finding {
    std::wstring document;   // the document the finding is about
    long line = 0;           // the element's line in it; 0 when unknown
    std::wstring element;    // e.g. FileOperation "engine.dll"
    std::wstring problem;
    std::wstring fix;
};

// One line: "<document>(<line>): <element>: <problem>. Fix: <fix>." (no "(<line>)" when the line
// is unknown, no "<element>: " for a finding about the whole document). Line breaks and tabs
// inside the parts become blanks.
std::wstring FormatFinding(const Finding& finding);

struct LintOptions {
    std::wstring document;
    std::wstring configuration;   // optional
};

std::vector<Finding> LintPackage(const LintOptions& options);

// Whether a name ends in ".exe", ".dll" or ".sys" (any case): files whose upgrade is decided by
// their version resource.
bool IsExecutableImageName(const std::wstring& name);

