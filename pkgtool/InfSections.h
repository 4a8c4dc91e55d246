#pragma once
// An INF file as the driver checks read it: its sections and their lines, and the section names
// the INF engine is given for one architecture.
#include <map>
#include <string>
#include <vector>

struct InfSections {
    // Section names in lower case (the INF engine ignores case); lines without comments, trimmed,
    // empty lines dropped.
    std::map<std::wstring, std::vector<std::wstring>> sections;

    bool Has(const std::wstring& name) const;
    // The lines of a section, empty when it is missing.
    const std::vector<std::wstring>& Lines(const std::wstring& name) const;
    // The value of "key = value" in a section (key compared without case), quotes removed;
    // empty when absent.
    std::wstring Value(const std::wstring& section, const std::wstring& key) const;
};

// Parses an INF's text. "; comment" ends a line except inside double quotes.
InfSections ParseInfText(const std::wstring& text);

// The sections a driver install and uninstall run on one architecture, from the same table the
// driver element uses.
struct InfNeededSections {
    std::wstring install;
    std::wstring installServices;
    std::wstring uninstall;
    std::wstring uninstallServices;
};
InfNeededSections NeededInfSections(const std::wstring& platform);

// The section named by the second field of the INF engine's arguments (",Section,,36"); an
// empty field selects the INF's "DefaultInstall" section.
std::wstring SectionOfArguments(const std::string& arguments);

// Whether any "AddReg = a, b" or "DelReg = ..." line of the section names `target` (no case).
bool SectionReferences(const InfSections& inf, const std::wstring& section, const std::wstring& target);
