#pragma once
// The install reference, the prerequisite checks, the engine version record and the
// backup-directory entry.
#include <windows.h>
#include <string>

class Package;

extern const wchar_t kFamilyKey[];             // L"SOFTWARE\\Norvex\\Coravel"
extern const wchar_t kInstallReferenceKey[];   // L"SOFTWARE\\Norvex\\Coravel\\Install_Reference"

bool InstallReferenceExists();

namespace InstallHelper {
DWORD InstallRefKey();
DWORD DeleteRefKey();
bool IsPreRequisitesInstalled(const std::wstring& contentPath);
} // namespace InstallHelper

std::wstring ReadEngineVersionRecord();
DWORD CreateBackupDirectoryEntry();
DWORD VerifyInstallReference(Package& package);
