#include <gtest/gtest.h>

#include "policy/InstallOverrideTable.h"

namespace {

class InstallOverrideTableTest : public testing::Test {
protected:
    void SetUp() override { InstallOverrideTable::ClearForTests(); }
    void TearDown() override { InstallOverrideTable::ClearForTests(); }
};

TEST_F(InstallOverrideTableTest, FirstRecordedValueStaysAndEmptyValuesAreNoOverride) {
    InstallOverrideTable::Record(L"dwProductID", L"42");
    InstallOverrideTable::Record(L"dwProductID", L"43");
    InstallOverrideTable::Record(L"Start", L"");
    InstallOverrideTable::Record(L"Start", L"0");
    struct Case { const wchar_t* name; bool has; const wchar_t* value; };
    const Case cases[] = {
        { L"dwProductID", true, L"42" },
        { L"Start", false, L"" },            // the empty text recorded first stays
        { L"dwproductid", false, L"" },      // names are case-sensitive
        { L"dwContentMajorVersion", false, L"" },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(InstallOverrideTable::HasOverride(c.name), c.has);
        EXPECT_EQ(InstallOverrideTable::GetOverride(c.name), c.value);
    }
}

} // namespace
