#pragma once
// Security catalogs of driver packages: adding a package's catalog to the system's catalog
// database, checking that a file is a member of a trusted catalog, and checking a file's
// embedded signature. The trust functions live in wintrust.dll, loaded at run time.
#include <windows.h>
#include <wincrypt.h>
#include <mscat.h>
#include <string>
#include "shell/SharedLibrary.h"

// The trust functions, in the order the library client resolves them.
struct TrustFunctions {
    BOOL (WINAPI* acquireContext)(HCATADMIN*, const GUID*, DWORD) = nullptr;
    BOOL (WINAPI* releaseContext)(HCATADMIN, DWORD) = nullptr;
    HCATINFO (WINAPI* addCatalog)(HCATADMIN, PWSTR, PWSTR, DWORD) = nullptr;
    BOOL (WINAPI* releaseCatalogContext)(HCATADMIN, HCATINFO, DWORD) = nullptr;
    BOOL (WINAPI* calcHashFromFileHandle)(HANDLE, DWORD*, BYTE*, DWORD) = nullptr;
    HCATINFO (WINAPI* enumCatalogFromHash)(HCATADMIN, BYTE*, DWORD, DWORD, HCATINFO*) = nullptr;
    BOOL (WINAPI* catalogInfoFromContext)(HCATINFO, CATALOG_INFO*, DWORD) = nullptr;
    LONG (WINAPI* winVerifyTrust)(HWND, GUID*, LPVOID) = nullptr;
};

// wintrust.dll of the system directory with every trust function resolved; construction raises
// AVException ("Unable to Load DLL", "Unable to locate function: <name>") when one is missing.
class WinTrustLibrary {
public:
    WinTrustLibrary();
    virtual ~WinTrustLibrary() = default;
    WinTrustLibrary(const WinTrustLibrary&) = delete;
    WinTrustLibrary& operator=(const WinTrustLibrary&) = delete;

    const TrustFunctions& Functions() const { return functions_; }

private:
    SharedLibrary library_;
    TrustFunctions functions_;
};

// Adds the catalog to the system catalog database: 0 or the failing call's Win32 error.
DWORD AddCatalog(const std::wstring& catalogPath);
// 0 when the file's hash is in a catalog that verifies as trusted for drivers; otherwise the
// error of the step that failed, or the trust verifier's result.
DWORD VerifyCatalogMembership(const std::wstring& filePath);
// The trust verifier's result for the file's embedded signature (0 = trusted).
DWORD VerifySignature(const std::wstring& filePath);

// The same operations on given trust functions (the platform's, or stand-ins in tests).
DWORD AddCatalogWith(const TrustFunctions& trust, const std::wstring& catalogPath);
DWORD VerifyCatalogMembershipWith(const TrustFunctions& trust, const std::wstring& filePath);
DWORD VerifySignatureWith(const TrustFunctions& trust, const std::wstring& filePath);

// The action identifiers given to the trust functions.
extern const GUID kDriverActionVerify;          // catalogs and catalog membership
extern const GUID kGenericVerifyV2Action;       // embedded signatures
