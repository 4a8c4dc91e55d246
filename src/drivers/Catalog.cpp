#include "drivers/Catalog.h"

#include <wintrust.h>
#include <softpub.h>
#include <vector>
#include "drivers/DriverInf.h"
#include "operations/FileHelpers.h"
#include "shell/Handles.h"
#include "shell/Log.h"

static const char kLogModule[] = ".\\Catalog";

// {F750E6C3-38EE-11D1-85E5-00C04FC295EE}
const GUID kDriverActionVerify = {0xF750E6C3, 0x38EE, 0x11D1, {0x85, 0xE5, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};
// {00AAC56B-CD44-11D0-8CC2-00C04FC295EE}
const GUID kGenericVerifyV2Action = {0x00AAC56B, 0xCD44, 0x11D0, {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};

namespace {

std::wstring WinTrustPath() {
    wchar_t system[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
    std::wstring directory = (length > 0 && length < MAX_PATH) ? std::wstring(system, length) : std::wstring();
    if (!directory.empty() && directory.back() != L'\\') directory += L'\\';
    return directory + L"wintrust.dll";
}

// The hash buffer the catalog functions fill (its size in and out).
const DWORD kHashBufferSize = 100;

} // namespace

WinTrustLibrary::WinTrustLibrary() : library_(WinTrustPath(), false) {
    functions_.acquireContext = library_.Function<decltype(functions_.acquireContext)>("CryptCATAdminAcquireContext");
    functions_.releaseContext = library_.Function<decltype(functions_.releaseContext)>("CryptCATAdminReleaseContext");
    functions_.addCatalog = library_.Function<decltype(functions_.addCatalog)>("CryptCATAdminAddCatalog");
    functions_.releaseCatalogContext =
        library_.Function<decltype(functions_.releaseCatalogContext)>("CryptCATAdminReleaseCatalogContext");
    functions_.calcHashFromFileHandle =
        library_.Function<decltype(functions_.calcHashFromFileHandle)>("CryptCATAdminCalcHashFromFileHandle");
    functions_.enumCatalogFromHash =
        library_.Function<decltype(functions_.enumCatalogFromHash)>("CryptCATAdminEnumCatalogFromHash");
    functions_.catalogInfoFromContext =
        library_.Function<decltype(functions_.catalogInfoFromContext)>("CryptCATCatalogInfoFromContext");
    functions_.winVerifyTrust = library_.Function<decltype(functions_.winVerifyTrust)>("WinVerifyTrust");
}

DWORD AddCatalog(const std::wstring& catalogPath) {
    WinTrustLibrary library;
    return AddCatalogWith(library.Functions(), catalogPath);
}

DWORD VerifyCatalogMembership(const std::wstring& filePath) {
    WinTrustLibrary library;
    return VerifyCatalogMembershipWith(library.Functions(), filePath);
}

DWORD VerifySignature(const std::wstring& filePath) {
    WinTrustLibrary library;
    return VerifySignatureWith(library.Functions(), filePath);
}

DWORD AddCatalogWith(const TrustFunctions& trust, const std::wstring& catalogPath) {
    HCATADMIN admin = nullptr;
    if (!trust.acquireContext(&admin, &kDriverActionVerify, 0)) return ::GetLastError();
    std::vector<wchar_t> path(catalogPath.begin(), catalogPath.end());
    path.push_back(L'\0');
    DWORD result = ERROR_SUCCESS;
    HCATINFO catalog = trust.addCatalog(admin, path.data(), nullptr, 0);
    if (catalog) trust.releaseCatalogContext(admin, catalog, 0);
    else result = ::GetLastError();
    trust.releaseContext(admin, 0);
    return result;
}

DWORD VerifyCatalogMembershipWith(const TrustFunctions& trust, const std::wstring& filePath) {
    UniqueFileHandle file(::CreateFileW(ExtendedPath(filePath, 248).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return ::GetLastError();

    BYTE hash[kHashBufferSize] = {};
    DWORD hashSize = kHashBufferSize;
    if (!trust.calcHashFromFileHandle(file.get(), &hashSize, hash, 0)) return ::GetLastError();
    // A size beyond the buffer would have the member tag and the catalog lookup read past it.
    if (hashSize > kHashBufferSize) {
        LOG(LogLevel::Error, "Hash of %S reported as %u bytes, more than its buffer of %u", filePath.c_str(),
            static_cast<unsigned>(hashSize), static_cast<unsigned>(kHashBufferSize));
        return ERROR_INSUFFICIENT_BUFFER;
    }
    const std::wstring memberTag = CatalogMemberTag(hash, hashSize);

    HCATADMIN admin = nullptr;
    if (!trust.acquireContext(&admin, &kDriverActionVerify, 0)) return ::GetLastError();

    DRIVER_VER_INFO versionInfo{};
    versionInfo.cbStruct = sizeof(versionInfo);
    DWORD result = ERROR_SUCCESS;
    ::SetLastError(ERROR_SUCCESS);
    HCATINFO catalog = trust.enumCatalogFromHash(admin, hash, hashSize, 0, nullptr);
    if (!catalog) {
        result = ::GetLastError();
        // A file in no catalog is never a verified member, whatever the enumeration left behind.
        if (result == ERROR_SUCCESS) result = ERROR_NOT_FOUND;
    } else {
        CATALOG_INFO catalogInfo{};
        catalogInfo.cbStruct = sizeof(catalogInfo);
        trust.catalogInfoFromContext(catalog, &catalogInfo, 0);

        WINTRUST_CATALOG_INFO member{};
        member.cbStruct = sizeof(member);
        member.pcwszCatalogFilePath = catalogInfo.wszCatalogFile;
        member.pcwszMemberTag = memberTag.c_str();
        member.pcwszMemberFilePath = filePath.c_str();

        WINTRUST_DATA data{};
        data.cbStruct = sizeof(data);
        data.pPolicyCallbackData = &versionInfo;
        data.dwUIChoice = WTD_UI_NONE;
        data.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
        data.dwUnionChoice = WTD_CHOICE_CATALOG;
        data.pCatalog = &member;
        data.dwStateAction = 0;
        data.dwProvFlags = 0;

        GUID action = kDriverActionVerify;
        result = static_cast<DWORD>(trust.winVerifyTrust(nullptr, &action, &data));
        trust.releaseCatalogContext(admin, catalog, 0);
    }
    trust.releaseContext(admin, 0);
    if (versionInfo.pcSignerCertContext) ::CertFreeCertificateContext(versionInfo.pcSignerCertContext);
    return result;
}

DWORD VerifySignatureWith(const TrustFunctions& trust, const std::wstring& filePath) {
    WINTRUST_FILE_INFO fileInfo{};
    fileInfo.cbStruct = sizeof(fileInfo);
    fileInfo.pcwszFilePath = filePath.c_str();

    WINTRUST_DATA data{};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;

    LOG(LogLevel::Error, "Calling WinVerifyTrust for %S", filePath.c_str());
    GUID action = kGenericVerifyV2Action;
    return static_cast<DWORD>(trust.winVerifyTrust(nullptr, &action, &data));
}
