// Catalog and signature checks: the trusted paths through stand-ins for the trust functions
// (Wine cannot give a trusted catalog), the untrusted outcomes against the system's own.
#include <windows.h>
#include <gtest/gtest.h>
#include <wintrust.h>
#include <softpub.h>
#include <cstring>
#include <string>
#include "drivers/Catalog.h"
#include "shell/AVException.h"
#include "support/TestFiles.h"

namespace {

// What the stand-ins were asked and what they answer.
struct TrustRecord {
    bool catalogFound = true;
    DWORD enumError = ERROR_FILE_NOT_FOUND;
    LONG verifyResult = ERROR_SUCCESS;
    bool addSucceeds = true;

    int acquired = 0, released = 0, catalogsReleased = 0, verifyCalls = 0;
    GUID acquireAction{};
    GUID verifyAction{};
    std::wstring addedPath;
    bool addedWithoutMember = false;
    DWORD catalogInfoSize = 0, memberSize = 0, trustDataSize = 0, versionInfoSize = 0, fileInfoSize = 0;
    DWORD uiChoice = 0, revocation = 0, unionChoice = 0;
    std::wstring catalogPath, memberTag, memberPath, filePath;
    bool policyData = false;
    DWORD enumHashSize = 0;
};
TrustRecord g_trust;

const BYTE kHash[] = {0xDE, 0xAD, 0xBE, 0xEF, 0x01};
HCATADMIN const kAdmin = reinterpret_cast<HCATADMIN>(static_cast<intptr_t>(0x1000));
HCATINFO const kCatalog = reinterpret_cast<HCATINFO>(static_cast<intptr_t>(0x2000));

BOOL WINAPI Acquire(HCATADMIN* admin, const GUID* action, DWORD) {
    ++g_trust.acquired;
    g_trust.acquireAction = *action;
    *admin = kAdmin;
    return TRUE;
}
BOOL WINAPI Release(HCATADMIN admin, DWORD) { g_trust.released += admin == kAdmin; return TRUE; }
HCATINFO WINAPI Add(HCATADMIN, PWSTR path, PWSTR member, DWORD) {
    g_trust.addedPath = path;
    g_trust.addedWithoutMember = member == nullptr;
    if (g_trust.addSucceeds) return kCatalog;
    ::SetLastError(ERROR_BAD_FORMAT);
    return nullptr;
}
BOOL WINAPI ReleaseCatalog(HCATADMIN, HCATINFO catalog, DWORD) { g_trust.catalogsReleased += catalog == kCatalog; return TRUE; }
BOOL WINAPI CalcHash(HANDLE, DWORD* size, BYTE* hash, DWORD) {
    if (*size < sizeof(kHash)) return FALSE;
    std::memcpy(hash, kHash, sizeof(kHash));
    *size = sizeof(kHash);
    return TRUE;
}
HCATINFO WINAPI EnumCatalog(HCATADMIN, BYTE*, DWORD size, DWORD, HCATINFO*) {
    g_trust.enumHashSize = size;
    if (g_trust.catalogFound) return kCatalog;
    ::SetLastError(g_trust.enumError);
    return nullptr;
}
BOOL WINAPI CatalogInfo(HCATINFO, CATALOG_INFO* info, DWORD) {
    g_trust.catalogInfoSize = info->cbStruct;
    wcscpy(info->wszCatalogFile, L"C:\\windows\\system32\\catroot\\tnxflt.cat");
    return TRUE;
}
LONG WINAPI Verify(HWND, GUID* action, LPVOID data) {
    ++g_trust.verifyCalls;
    g_trust.verifyAction = *action;
    const auto* trust = static_cast<const WINTRUST_DATA*>(data);
    g_trust.trustDataSize = trust->cbStruct;
    g_trust.uiChoice = trust->dwUIChoice;
    g_trust.revocation = trust->fdwRevocationChecks;
    g_trust.unionChoice = trust->dwUnionChoice;
    g_trust.policyData = trust->pPolicyCallbackData != nullptr;
    if (trust->dwUnionChoice == WTD_CHOICE_CATALOG) {
        g_trust.memberSize = trust->pCatalog->cbStruct;
        g_trust.catalogPath = trust->pCatalog->pcwszCatalogFilePath;
        g_trust.memberTag = trust->pCatalog->pcwszMemberTag;
        g_trust.memberPath = trust->pCatalog->pcwszMemberFilePath;
        g_trust.versionInfoSize = static_cast<const DRIVER_VER_INFO*>(trust->pPolicyCallbackData)->cbStruct;
    } else {
        g_trust.fileInfoSize = trust->pFile->cbStruct;
        g_trust.filePath = trust->pFile->pcwszFilePath;
    }
    return g_trust.verifyResult;
}

TrustFunctions StandIns() {
    TrustFunctions f;
    f.acquireContext = &Acquire;
    f.releaseContext = &Release;
    f.addCatalog = &Add;
    f.releaseCatalogContext = &ReleaseCatalog;
    f.calcHashFromFileHandle = &CalcHash;
    f.enumCatalogFromHash = &EnumCatalog;
    f.catalogInfoFromContext = &CatalogInfo;
    f.winVerifyTrust = &Verify;
    return f;
}

class CatalogTest : public testing::Test {
protected:
    void SetUp() override {
        g_trust = TrustRecord();
        file_ = dir_ / L"tnxflt.sys";
        ASSERT_TRUE(WriteFileBytes(file_, "driver image"));
    }
    TempDir dir_{L"catalog"};
    std::wstring file_;
};

TEST_F(CatalogTest, AMemberOfATrustedCatalogVerifiesThroughTheDriverPolicy) {
    EXPECT_EQ(0u, VerifyCatalogMembershipWith(StandIns(), file_));
    EXPECT_EQ(1, g_trust.verifyCalls);
    EXPECT_EQ(0, memcmp(&kDriverActionVerify, &g_trust.acquireAction, sizeof(GUID)));
    EXPECT_EQ(0, memcmp(&kDriverActionVerify, &g_trust.verifyAction, sizeof(GUID)));
    EXPECT_EQ(L"DEADBEEF01", g_trust.memberTag);
    EXPECT_EQ(L"C:\\windows\\system32\\catroot\\tnxflt.cat", g_trust.catalogPath);
    EXPECT_EQ(file_, g_trust.memberPath);
    EXPECT_EQ(sizeof(CATALOG_INFO), g_trust.catalogInfoSize);
    // The record forms without the later additions, as on 64-bit Windows 7.
    EXPECT_EQ(64u, g_trust.memberSize);
    EXPECT_EQ(80u, g_trust.trustDataSize);
    EXPECT_EQ(1104u, g_trust.versionInfoSize);
    EXPECT_EQ(static_cast<DWORD>(WTD_UI_NONE), g_trust.uiChoice);
    EXPECT_EQ(static_cast<DWORD>(WTD_REVOKE_WHOLECHAIN), g_trust.revocation);
    EXPECT_EQ(static_cast<DWORD>(WTD_CHOICE_CATALOG), g_trust.unionChoice);
    EXPECT_EQ(1, g_trust.catalogsReleased);
    EXPECT_EQ(1, g_trust.released);
}

// Hash functions of the sizes around the 100-byte buffer the check gives them: one that needs
// exactly 100 bytes, one that needs more (and says so, as the system's does), and one that
// reports more than the buffer holds while claiming success.
struct SizedHash {
    DWORD needed;     // bytes the function writes
    DWORD reported;   // size it reports on success
};
SizedHash g_sizedHash;
BOOL WINAPI CalcSizedHash(HANDLE, DWORD* size, BYTE* hash, DWORD) {
    if (*size < g_sizedHash.needed) {
        *size = g_sizedHash.needed;
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    for (DWORD i = 0; i < g_sizedHash.needed; ++i) hash[i] = static_cast<BYTE>(i);
    *size = g_sizedHash.reported;
    return TRUE;
}

TEST_F(CatalogTest, HashesFillTheirHundredByteBufferAndNeverReadPastIt) {
    struct Case { SizedHash hash; DWORD expected; size_t tagLength; };
    const Case cases[] = {
        { { 100, 100 }, ERROR_SUCCESS, 200 },
        { { 101, 101 }, ERROR_INSUFFICIENT_BUFFER, 0 },
        { { 100, 101 }, ERROR_INSUFFICIENT_BUFFER, 0 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.hash.needed << " bytes written, " << c.hash.reported << " reported");
        g_trust = TrustRecord();
        g_sizedHash = c.hash;
        TrustFunctions trust = StandIns();
        trust.calcHashFromFileHandle = &CalcSizedHash;
        EXPECT_EQ(c.expected, VerifyCatalogMembershipWith(trust, file_));
        EXPECT_EQ(c.tagLength, g_trust.memberTag.size());
        if (c.expected == ERROR_SUCCESS) {
            EXPECT_EQ(100u, g_trust.enumHashSize);
            EXPECT_EQ(L"000102", g_trust.memberTag.substr(0, 6));
            EXPECT_EQ(L"63", g_trust.memberTag.substr(198));
        } else {
            EXPECT_EQ(0, g_trust.acquired) << "no catalog is asked about a hash that did not fit";
        }
    }
}

TEST_F(CatalogTest, TheVerifiersAnswerForAnUntrustedCatalogIsTheResult) {
    g_trust.verifyResult = static_cast<LONG>(TRUST_E_NOSIGNATURE);
    EXPECT_EQ(static_cast<DWORD>(TRUST_E_NOSIGNATURE), VerifyCatalogMembershipWith(StandIns(), file_));
    EXPECT_EQ(1, g_trust.catalogsReleased);
    EXPECT_EQ(1, g_trust.released);
}

TEST_F(CatalogTest, AFileInNoCatalogFailsWithoutCallingTheVerifier) {
    g_trust.catalogFound = false;
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), VerifyCatalogMembershipWith(StandIns(), file_));
    // An enumeration that leaves no error behind is still a failure.
    g_trust.enumError = ERROR_SUCCESS;
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_FOUND), VerifyCatalogMembershipWith(StandIns(), file_));
    EXPECT_EQ(0, g_trust.verifyCalls);
    EXPECT_EQ(0, g_trust.catalogsReleased);
    EXPECT_EQ(2, g_trust.released);
}

TEST_F(CatalogTest, AMissingFileFailsBeforeAnyCatalogCall) {
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), VerifyCatalogMembershipWith(StandIns(), dir_ / L"missing.sys"));
    EXPECT_EQ(0, g_trust.acquired);
}

TEST_F(CatalogTest, AddCatalogAddsThePathWithoutAMemberNameAndReleasesEverything) {
    EXPECT_EQ(0u, AddCatalogWith(StandIns(), L"C:\\Setup\\tnxflt.cat"));
    EXPECT_EQ(L"C:\\Setup\\tnxflt.cat", g_trust.addedPath);
    EXPECT_TRUE(g_trust.addedWithoutMember);
    EXPECT_EQ(1, g_trust.catalogsReleased);
    EXPECT_EQ(1, g_trust.released);

    g_trust = TrustRecord();
    g_trust.addSucceeds = false;
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_FORMAT), AddCatalogWith(StandIns(), L"C:\\Setup\\tnxflt.cat"));
    EXPECT_EQ(0, g_trust.catalogsReleased);
    EXPECT_EQ(1, g_trust.released);
}

TEST_F(CatalogTest, SignatureCheckAsksTheGenericVerifierAboutTheFile) {
    g_trust.verifyResult = static_cast<LONG>(TRUST_E_NOSIGNATURE);
    EXPECT_EQ(static_cast<DWORD>(TRUST_E_NOSIGNATURE), VerifySignatureWith(StandIns(), file_));
    EXPECT_EQ(0, memcmp(&kGenericVerifyV2Action, &g_trust.verifyAction, sizeof(GUID)));
    EXPECT_EQ(file_, g_trust.filePath);
    EXPECT_EQ(32u, g_trust.fileInfoSize);
    EXPECT_EQ(80u, g_trust.trustDataSize);
    EXPECT_EQ(static_cast<DWORD>(WTD_REVOKE_NONE), g_trust.revocation);
    EXPECT_EQ(static_cast<DWORD>(WTD_CHOICE_FILE), g_trust.unionChoice);
    EXPECT_FALSE(g_trust.policyData);
}

// The system's own trust functions: nothing here is signed, so nothing may pass.
TEST_F(CatalogTest, TheSystemTrustsNoUnsignedFileOrCatalog) {
    EXPECT_NE(0u, VerifyCatalogMembership(file_));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), VerifyCatalogMembership(dir_ / L"missing.sys"));
    EXPECT_NE(0u, VerifySignature(file_));
    EXPECT_NE(0u, AddCatalog(dir_ / L"missing.cat"));
}

} // namespace
