#pragma once
// The program's command line: one action and the paths and settings it needs.
#include <windows.h>
#include <string>

enum class Action : unsigned {
    Install = 1,
    UnInstall = 2,
    Repair = 3,
    Upgrade = 4,
    Help = 5,
    Verify = 6,
    None = 7,
};

class CCommandLineOptions {
public:
    // Parses argv (argv[0] is the program). Prints the usage text when the command line is wrong
    // or help is asked for; fills the install context with the paths and the two descriptors.
    CCommandLineOptions(int argc, const wchar_t* const* argv);

    std::wstring InstallDirectory() const { return installDirectory_; }
    std::wstring InstallDocumentPath() const { return installDocumentPath_; }
    std::wstring ConfigurationDocumentPath() const { return configurationDocumentPath_; }
    std::wstring ContentPath() const { return contentPath_; }
    std::wstring QuarantineDirectory() const { return quarantineDirectory_; }
    std::wstring LogFilePath() const { return logFilePath_; }
    std::wstring RealtimeScanSddl() const { return realtimeScanSddl_; }
    std::wstring ConfigurationSddl() const { return configurationSddl_; }

    Action action = Action::None;
    bool valid = false;
    bool waitForService = false;

private:
    std::wstring installDirectory_;
    std::wstring installDocumentPath_;
    std::wstring configurationDocumentPath_;
    std::wstring contentPath_;
    std::wstring realtimeScanSddl_;
    std::wstring configurationSddl_;
    std::wstring quarantineDirectory_;
    std::wstring logFilePath_;
};

// The usage text exactly as it is printed.
const wchar_t* UsageText();
