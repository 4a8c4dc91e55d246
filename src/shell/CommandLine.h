#pragma once
// The program's command line: one action and the paths and settings it needs.
#include <windows.h>
#include <string>
#include <vector>

enum class Action : unsigned {
    Install = 1,
    UnInstall = 2,
    Repair = 3,
    Upgrade = 4,
    Help = 5,
    Verify = 6,
    None = 7,
};

// The outcome of one parse, without printing or logging.
struct ParsedCommandLine {
    std::wstring installDirectory;
    std::wstring installDocumentPath;
    std::wstring configurationDocumentPath;
    std::wstring contentPath;
    std::wstring realtimeScanSddl;
    std::wstring configurationSddl;
    std::wstring quarantineDirectory;
    std::wstring logFilePath;
    bool waitForService = false;
    Action action = Action::None;
    bool valid = false;
    bool showUsage = false;          // help asked for, or the command line was rejected
    // Which fields of the install context the command line sets (with the values above).
    bool setsInstallDirectory = false;
    bool setsContentPath = false;
    bool setsRealtimeScanSddl = false;
    bool setsConfigurationSddl = false;
};

// arguments[0] is the program. Checks -sd1/-sd2 with IsValidSddl and takes the default
// descriptors when they are absent.
ParsedCommandLine ParseCommandLine(const std::vector<std::wstring>& arguments);

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
