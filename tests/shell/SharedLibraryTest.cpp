// The run-time library loader, with the scanner client library double next to this program as
// a library that exists but is not otherwise loaded.
#include <gtest/gtest.h>
#include "shell/AVException.h"
#include "shell/SharedLibrary.h"

namespace {

using Function = DWORD(WINAPI*)();

class ThreeFunctionClient {
public:
    ThreeFunctionClient(const wchar_t* library, const char* third)
        : library_(library, true),
          first_(library_.Function<Function>("AVInitialize")),
          second_(library_.Function<Function>("AVUnInitialize")),
          third_(library_.Function<Function>(third)) {}
    virtual ~ThreeFunctionClient() = default;

private:
    SharedLibrary library_;
    Function first_;
    Function second_;
    Function third_;
};

bool DoubleLoaded() { return ::GetModuleHandleW(L"BulwarkClient.dll") != nullptr; }

TEST(SharedLibraryTest, MissingLibraryRaisesUnableToLoadFromTheFirstFunction) {
    try {
        ThreeFunctionClient client(L"NoSuchLibrary", "AVGetSystemState");
        FAIL() << "no exception";
    } catch (const AVException& e) {
        EXPECT_EQ("Unable to Load DLL", e.Message());
        EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), e.Code());
        EXPECT_EQ("SharedLibrary", e.SourceFile());
    }
}

TEST(SharedLibraryTest, MissingThirdFunctionNamesItAndTheLibraryIsFreedAsTheClientUnwinds) {
    ASSERT_FALSE(DoubleLoaded());
    try {
        ThreeFunctionClient client(L"BulwarkClient", "AVNoSuchFunction");
        FAIL() << "no exception";
    } catch (const AVException& e) {
        EXPECT_EQ("Unable to locate function: AVNoSuchFunction", e.Message());
        EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), e.Code());
    }
    EXPECT_FALSE(DoubleLoaded());
}

TEST(SharedLibraryTest, LoadsOnFirstUseAndUnloadsOnDestruction) {
    {
        ThreeFunctionClient client(L"BulwarkClient", "AVGetSystemState");
        EXPECT_TRUE(DoubleLoaded());
    }
    EXPECT_FALSE(DoubleLoaded());
    SharedLibrary library(L"BulwarkClient", true);
    EXPECT_FALSE(library.IsLoaded()) << "nothing is loaded before the first use";
}

} // namespace
