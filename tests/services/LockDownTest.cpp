#include <gtest/gtest.h>
#include <vector>
#include "services/LockDown.h"
#include "shell/AVException.h"

namespace {

std::vector<BYTE> WellKnownSid(WELL_KNOWN_SID_TYPE type) {
    std::vector<BYTE> sid(SECURITY_MAX_SID_SIZE);
    DWORD size = static_cast<DWORD>(sid.size());
    EXPECT_TRUE(::CreateWellKnownSid(type, nullptr, sid.data(), &size));
    sid.resize(size);
    return sid;
}

class AccessTableAclTest : public testing::Test {
protected:
    void SetUp() override {
        system_ = WellKnownSid(WinLocalSystemSid);
        administrators_ = WellKnownSid(WinBuiltinAdministratorsSid);
        users_ = WellKnownSid(WinAuthenticatedUserSid);
        everyone_ = WellKnownSid(WinWorldSid);
        sids_[LockDown::kLocalSystem] = system_.data();
        sids_[LockDown::kAdministrators] = administrators_.data();
        sids_[LockDown::kAuthenticatedUsers] = users_.data();
        sids_[LockDown::kEveryone] = everyone_.data();
    }

    std::vector<BYTE> system_, administrators_, users_, everyone_;
    std::array<PSID, LockDown::kSidCount> sids_{};
};

TEST_F(AccessTableAclTest, UnlockTableGivesFullAccessToSystemAndAdministratorsAndReadToUsers) {
    std::vector<BYTE> acl;
    ASSERT_EQ(0u, LockDown::BuildAccessTableAcl(LockDown::kUnlockTable, sids_, acl));
    const auto* list = reinterpret_cast<ACL*>(acl.data());
    EXPECT_EQ(ACL_REVISION, list->AclRevision);
    EXPECT_EQ(8u + (12 + system_.size()) + (12 + administrators_.size()) + (12 + users_.size()), list->AclSize);
    ASSERT_EQ(3u, list->AceCount);
    struct Expected { const std::vector<BYTE>* sid; DWORD mask; };
    const Expected expected[] = { { &system_, SERVICE_ALL_ACCESS }, { &administrators_, SERVICE_ALL_ACCESS },
                                  { &users_, LockDown::kServiceRead } };
    for (DWORD i = 0; i < 3; ++i) {
        void* ace = nullptr;
        ASSERT_TRUE(::GetAce(const_cast<ACL*>(list), i, &ace));
        const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, allowed->Header.AceType) << i;
        EXPECT_EQ(0, allowed->Header.AceFlags) << i;
        EXPECT_EQ(expected[i].mask, allowed->Mask) << i;
        EXPECT_TRUE(::EqualSid(const_cast<DWORD*>(&allowed->SidStart), const_cast<BYTE*>(expected[i].sid->data()))) << i;
    }
}

TEST_F(AccessTableAclTest, DenyEntriesComeBeforeAllowEntriesEachInTableOrder) {
    const LockDown::AccessEntry table[] = {
        { LockDown::kLocalSystem, 1, 0, SERVICE_ALL_ACCESS },
        { LockDown::kEveryone, 0, CONTAINER_INHERIT_ACE, SERVICE_STOP },
        { LockDown::kAdministrators, 1, 0, SERVICE_ALL_ACCESS },
        { LockDown::kAuthenticatedUsers, 0, 0, DELETE },
        { LockDown::kEndOfTable, 0, 0, 0 },
    };
    std::vector<BYTE> acl;
    ASSERT_EQ(0u, LockDown::BuildAccessTableAcl(table, sids_, acl));
    auto* list = reinterpret_cast<ACL*>(acl.data());
    ASSERT_EQ(4u, list->AceCount);
    struct Expected { BYTE type; BYTE flags; DWORD mask; const std::vector<BYTE>* sid; };
    const Expected expected[] = {
        { ACCESS_DENIED_ACE_TYPE, CONTAINER_INHERIT_ACE, SERVICE_STOP, &everyone_ },
        { ACCESS_DENIED_ACE_TYPE, 0, DELETE, &users_ },
        { ACCESS_ALLOWED_ACE_TYPE, 0, SERVICE_ALL_ACCESS, &system_ },
        { ACCESS_ALLOWED_ACE_TYPE, 0, SERVICE_ALL_ACCESS, &administrators_ },
    };
    for (DWORD i = 0; i < 4; ++i) {
        void* ace = nullptr;
        ASSERT_TRUE(::GetAce(list, i, &ace));
        const auto* entry = static_cast<ACCESS_ALLOWED_ACE*>(ace);   // same layout for both kinds
        EXPECT_EQ(expected[i].type, entry->Header.AceType) << i;
        EXPECT_EQ(expected[i].flags, entry->Header.AceFlags) << i;
        EXPECT_EQ(expected[i].mask, entry->Mask) << i;
        EXPECT_TRUE(::EqualSid(const_cast<DWORD*>(&entry->SidStart), const_cast<BYTE*>(expected[i].sid->data()))) << i;
    }
}

TEST_F(AccessTableAclTest, AnEntryWithoutItsSidBuildsNoAcl) {
    const LockDown::AccessEntry table[] = {
        { LockDown::kCreatorOwner, 1, 0, SERVICE_ALL_ACCESS },   // not given in sids_
        { LockDown::kEndOfTable, 0, 0, 0 },
    };
    std::vector<BYTE> acl;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_SID), LockDown::BuildAccessTableAcl(table, sids_, acl));
}

TEST(LockDownTest, ServiceThatDoesNotExistFailsTheOwnerChangeWithoutAnException) {
    DWORD result = 0;
    EXPECT_NO_THROW(result = LockDown::Unlock(L"InstallerTestNoSuchService"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), result);
}

} // namespace
