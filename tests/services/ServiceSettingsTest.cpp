#include <gtest/gtest.h>
#include <climits>
#include "services/ServiceSettings.h"

namespace {

TEST(FailureActionTableTest, RestartsThenNoneAndTheCountTheScmIsGiven) {
    struct Case {
        long resetPeriod, restartCount, restartDelay;
        DWORD expectedCount;      // what the SCM is told
        size_t expectedEntries;   // the array behind it
        DWORD expectedDelayMs;
    };
    const Case cases[] = {
        { 86400, 3, 60, 4, 4, 60000 },
        { 0, 3, 60, 0, 4, 60000 },         // ResetPeriod 0: the SCM drops every action
        { 86400, 0, 60, 1, 1, 0 },         // one SC_ACTION_NONE
        { 3600, 1, 5000000, 2, 2, MAXDWORD },   // a delay beyond 32-bit milliseconds is held
        { 3600, 2, -5, 3, 3, 0 },          // a negative delay counts as none
    };
    for (const auto& c : cases) {
        const FailureActionTable table = BuildFailureActions(c.resetPeriod, c.restartCount, c.restartDelay);
        SCOPED_TRACE(testing::Message() << "reset " << c.resetPeriod << " count " << c.restartCount << " delay "
                                        << c.restartDelay);
        EXPECT_FALSE(table.skipped);
        EXPECT_EQ(static_cast<DWORD>(c.resetPeriod), table.resetPeriod);
        EXPECT_EQ(c.expectedCount, table.actionCount);
        ASSERT_EQ(c.expectedEntries, table.actions.size());
        for (size_t i = 0; i + 1 < table.actions.size(); ++i) {
            EXPECT_EQ(SC_ACTION_RESTART, table.actions[i].Type);
            EXPECT_EQ(c.expectedDelayMs, table.actions[i].Delay);
        }
        EXPECT_EQ(SC_ACTION_NONE, table.actions.back().Type);
        EXPECT_EQ(0u, table.actions.back().Delay);
    }
}

TEST(FailureActionTableTest, CountsThatCannotSizeTheArrayAreSkippedWithAReason) {
    for (long count : { -1L, LONG_MIN, kMaxFailureRestarts + 1, LONG_MAX }) {
        const FailureActionTable table = BuildFailureActions(86400, count, 60);
        EXPECT_TRUE(table.skipped) << count;
        EXPECT_TRUE(table.actions.empty()) << count;
        EXPECT_STRNE("", table.skipReason) << count;
    }
    EXPECT_FALSE(BuildFailureActions(86400, kMaxFailureRestarts, 60).skipped);
}

TEST(DependencyListTest, OneNameDoubleTerminatedAndNoNameCutShort) {
    std::vector<wchar_t> list;
    ASSERT_TRUE(BuildDependencyList(L"", list));
    ASSERT_EQ(kDependencyListUnits, list.size());
    EXPECT_EQ(L'\0', list[0]) << "empty: no dependencies";

    ASSERT_TRUE(BuildDependencyList(L"RpcSs", list));
    EXPECT_EQ(std::wstring(L"RpcSs"), std::wstring(list.data()));
    EXPECT_EQ(L'\0', list[5]);
    EXPECT_EQ(L'\0', list[6]);

    const std::wstring longest(258, L'd');
    ASSERT_TRUE(BuildDependencyList(longest, list));
    EXPECT_EQ(longest, std::wstring(list.data()));
    EXPECT_EQ(L'\0', list[258]);
    EXPECT_EQ(L'\0', list[259]);

    EXPECT_FALSE(BuildDependencyList(std::wstring(259, L'd'), list));
    EXPECT_TRUE(list.empty());
}

TEST(ServiceWaitIntervalTest, ComputedWideAndHeldAtTenMinutes) {
    struct Case { long delay, count; DWORD expectedMs; bool capped; };
    const Case cases[] = {
        { 60, 3, 181000, false },
        { 0, 0, 1000, false },
        { 599, 1, 600000, false },
        { 600, 1, 600000, true },
        // 32-bit arithmetic would wrap these, the last to INFINITE.
        { 100000, 100000, 600000, true },
        { LONG_MAX, LONG_MAX, 600000, true },
        { 4294967, 1, 600000, true },
        { -10, 5, 0, false },
    };
    for (const auto& c : cases) {
        const ServiceWaitInterval interval = ComputeServiceWaitInterval(c.delay, c.count);
        EXPECT_EQ(c.expectedMs, interval.milliseconds) << c.delay << " x " << c.count;
        EXPECT_EQ(c.capped, interval.capped) << c.delay << " x " << c.count;
        EXPECT_NE(INFINITE, interval.milliseconds);
    }
}

TEST(ServiceStateNameTest, NamesTheTenStatesAndNothingElse) {
    const wchar_t* const expected[] = {
        L"CRV_CRASH",       L"CRV_SHUTDOWN",            L"CRV_CONFIGCHANGED",   L"CRV_ENGDATUPDATE",
        L"CRV_INITIALIZED", L"CRV_CLIENT_STATE_CHANGE", L"CRV_MISSING_CONTENT", L"CRV_CORRUPT_CONTENT",
        L"CRV_INITIALIZE_FAILED", L"CRV_INITIALIZING",
    };
    for (DWORD state = 0; state < 10; ++state) EXPECT_STREQ(expected[state], ServiceStateName(state)) << state;
    EXPECT_STREQ(L"", ServiceStateName(10));
    EXPECT_STREQ(L"", ServiceStateName(MAXDWORD));
}

} // namespace
