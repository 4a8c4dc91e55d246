#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "security/SecurityHelper.h"
#include "shell/AVException.h"

namespace {

TEST(PrivilegeCodeTest, EachPrivilegeHasItsCodeComparedExactly) {
    struct Case { const wchar_t* name; DWORD code; };
    const Case cases[] = {
        { L"SeTcbPrivilege", 0xA7F4022B },
        { L"SeBackupPrivilege", 0xA7F4022B },
        { L"SeRestorePrivilege", 0xA7F4022D },
        { L"SeTakeOwnershipPrivilege", 0xA7F4022E },
        { L"SeDebugPrivilege", 0xA7F40234 },
        { L"setakeownershipprivilege", 0 },
        { L"SeShutdownPrivilege", 0 },
        { L"", 0 },
    };
    for (const auto& c : cases) EXPECT_EQ(c.code, SecurityHelper::PrivilegeErrorCode(c.name)) << c.name;
}

TEST(PrivilegeMessageTest, NamesThePrivilegeAndItsSignedCodeInFull) {
    EXPECT_EQ("Error message : Failed to enable required privilege: SeTakeOwnershipPrivilege, Detailed Error code "
              "-1477180882",
              SecurityHelper::PrivilegeFailureMessage(L"SeTakeOwnershipPrivilege"));
    // Longer than 128 bytes: kept whole.
    const std::wstring longName(150, L'P');
    const std::string message = SecurityHelper::PrivilegeFailureMessage(longName);
    EXPECT_EQ("Error message : Failed to enable required privilege: " + std::string(150, 'P') + ", Detailed Error code 0",
              message);
}

std::vector<std::wstring> g_enabled;
DWORD g_failOn = 0;   // 1-based index of the privilege that fails, 0 for none
DWORD RecordingEnabler(HANDLE token, const wchar_t* name) {
    EXPECT_NE(nullptr, token);
    g_enabled.push_back(name);
    return g_enabled.size() == g_failOn ? ERROR_NOT_ALL_ASSIGNED : ERROR_SUCCESS;
}

class EnablePrivilegesTest : public testing::Test {
protected:
    void SetUp() override {
        g_enabled.clear();
        g_failOn = 0;
        SecurityHelper::SetPrivilegeEnablerForTests(&RecordingEnabler);
    }
    void TearDown() override { SecurityHelper::SetPrivilegeEnablerForTests(nullptr); }
};

TEST_F(EnablePrivilegesTest, FirstPrivilegeThatCannotBeEnabledRaisesItsCodeAndStopsTheList) {
    const wchar_t* const names[] = { L"SeBackupPrivilege", L"SeTakeOwnershipPrivilege", L"SeDebugPrivilege" };
    g_failOn = 2;
    try {
        SecurityHelper::EnablePrivileges(names, 3);
        FAIL() << "no exception";
    } catch (const AVException& e) {
        EXPECT_EQ(0xA7F4022Eu, e.Code());
        EXPECT_EQ(SecurityHelper::PrivilegeFailureMessage(L"SeTakeOwnershipPrivilege"), e.Message());
        EXPECT_EQ("SecurityHelper", e.SourceFile());
    }
    EXPECT_EQ((std::vector<std::wstring>{ L"SeBackupPrivilege", L"SeTakeOwnershipPrivilege" }), g_enabled);
}

TEST_F(EnablePrivilegesTest, EmptyListEnablesNothing) {
    EXPECT_NO_THROW(SecurityHelper::EnablePrivileges(nullptr, 0));
    EXPECT_TRUE(g_enabled.empty());
}

TEST(EnablePrivilegeOnTokenTest, KnownPrivilegeEnablesAndUnknownNameFails) {
    HANDLE token = nullptr;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
    EXPECT_EQ(0u, SecurityHelper::EnablePrivilegeOnToken(token, L"SeTakeOwnershipPrivilege"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_SUCH_PRIVILEGE), SecurityHelper::EnablePrivilegeOnToken(token, L"SeNoSuchPrivilege"));
    ::CloseHandle(token);
}

TEST(ServiceOwnerTest, ServiceThatDoesNotExistGivesTheSystemsErrorAndNoOwner) {
    SecurityHelper::ServiceOwner owner;
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST),
              SecurityHelper::GetOwnerForService(L"InstallerTestNoSuchService", owner));
    EXPECT_EQ(nullptr, owner.sid);
}

} // namespace
