// Entry point of every test program (the UTF-16 entry point leaves gtest_main unusable).
#include <windows.h>
#include <objbase.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

int wmain(int argc, wchar_t** argv) {
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    testing::InitGoogleMock(&argc, argv);
    ::CoInitialize(nullptr);
    const int result = RUN_ALL_TESTS();
    ::CoUninitialize();
    return result;
}
