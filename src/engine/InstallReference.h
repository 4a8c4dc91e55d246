#pragma once
// Upkeep of the install reference around the controller's actions: removing it after an
// uninstall or a failed install, and putting back what a failed repair replaced. The reference
// itself (its key, InstallHelper::InstallRefKey, InstallReferenceExists) is in InstallHelper.h.
#include <windows.h>
#include <string>
#include <vector>

// Deletes the install reference key; a key that is not there is no failure.
DWORD DeleteInstallReference();

// A package uninstall that succeeded (0 or 3010) leaves no install reference behind; a failed
// one keeps it. 0, or the deletion's error.
DWORD RemoveInstallReferenceAfterUnInstall(DWORD packageResult);

// Writes the reference of the existing installation back ("szInstallPath", "szContentPath"):
// 0, or the failed write's code (logged).
DWORD RestoreInstallReference(const std::wstring& installPath, const std::wstring& contentPath);

// The install reference's values as stored, to be written back unchanged after a step that
// removes the whole family key (the policies' uninstall) when the reference must stay.
class InstallReferenceSnapshot {
public:
    // Empty when there is no reference.
    static InstallReferenceSnapshot Take();
    // 0, or the first failed write's code.
    DWORD PutBack() const;

private:
    struct Value {
        std::wstring name;
        DWORD type = REG_NONE;
        std::vector<BYTE> data;
    };
    std::vector<Value> values_;
};
