// The current directory for the length of one call, put back afterwards.
#include <gtest/gtest.h>
#include "shell/ChangeDir.h"
#include "shell/Result.h"
#include "support/TestFiles.h"

namespace {

std::wstring CurrentDirectory() {
    wchar_t buffer[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, buffer);
    return buffer;
}

TEST(ChangeDirTest, ChangesForItsLifetimeAndRestoresTheDirectoryBefore) {
    TempDir dir(L"cd dir");
    const std::wstring before = CurrentDirectory();
    {
        CChangeDir change(dir.Path());
        EXPECT_TRUE(change.Changed());
        EXPECT_EQ(0u, change.Error());
        EXPECT_EQ(0, _wcsicmp(dir.Path().c_str(), CurrentDirectory().c_str())) << ToUtf8(CurrentDirectory());
    }
    EXPECT_EQ(before, CurrentDirectory());
}

TEST(ChangeDirTest, AMissingDirectoryLeavesTheCurrentOneAndSaysWhy) {
    TempDir dir(L"cd missing");
    const std::wstring before = CurrentDirectory();
    {
        CChangeDir change(dir / L"not there");
        EXPECT_FALSE(change.Changed());
        EXPECT_TRUE(IsPathNotFound(change.Error())) << change.Error();
        EXPECT_EQ(before, CurrentDirectory());
    }
    EXPECT_EQ(before, CurrentDirectory());
}

} // namespace
