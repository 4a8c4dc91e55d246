#pragma once
// Process-wide state that the command line and the action controller set before the element tree
// runs, and that the elements read (and, for the two reboot flags, write) while it runs.
#include <string>
#include <vector>

struct InstallContextData {
    std::wstring installDirectory;      // -d, or the install reference for UnInstall/Upgrade
    std::wstring contentPath;           // -c, or the install reference for UnInstall
    std::wstring realtimeScanSddl;      // -sd1, or the default descriptor
    std::wstring configurationSddl;     // -sd2, or the default descriptor
    std::wstring backupDirectory;       // -q, once the directory exists
    bool waitForService = false;        // -w
    bool rebootPending = false;         // some work waits for the next restart
    bool rebootCopyAllowed = false;     // Repair and Upgrade: a busy file may be replaced at restart
    // Files this run scheduled for deletion at the next restart (busy during an uninstall).
    std::vector<std::wstring> deletedAtRestart;
};

// The one instance every element sees.
InstallContextData& InstallContext();

// Puts the context back to its start values (tests run many actions in one process).
void ResetInstallContext();
