// Stands in for the engine's network-control library: the "ncapi" entry point fills the main
// interface, whose field 9 opens the second interface; both have a release in field 2.
//
// HKLM\SOFTWARE\InstallerTestDoubles\ncapi:
//   "EntryResult"  non-zero: the entry point fails with it and gives no interface
//   "OpenResult"   non-zero: field 9 fails with it
//   "Calls"        appended per call: "ncapi", "open", "release-main", "release-second",
//                  and "module-set" when the release finds field 1 filled by the caller
#include <windows.h>
#include "../DoubleSettings.h"

namespace {

const wchar_t kKey[] = L"ncapi";

struct Interface {
    void* context;
    HMODULE module;
    void(WINAPI* release)(void* context);
    void* reserved[6];
    DWORD(WINAPI* openSecond)(Interface** second, void* context);
};

int g_mainContext = 1;
int g_secondContext = 2;
Interface g_main{};
Interface g_second{};

void WINAPI ReleaseMain(void* context) {
    doubles::Append(kKey, L"Calls", context == &g_mainContext ? L"release-main" : L"release-main-wrong-context");
    if (g_main.module) doubles::Append(kKey, L"Calls", L"module-set");
}

void WINAPI ReleaseSecond(void* context) {
    doubles::Append(kKey, L"Calls", context == &g_secondContext ? L"release-second" : L"release-second-wrong-context");
}

DWORD WINAPI OpenSecond(Interface** second, void* context) {
    doubles::Append(kKey, L"Calls", context == &g_mainContext ? L"open" : L"open-wrong-context");
    const DWORD result = doubles::ReadNumber(kKey, L"OpenResult", 0);
    if (result != 0) return result;
    g_second = Interface{};
    g_second.context = &g_secondContext;
    g_second.release = &ReleaseSecond;
    *second = &g_second;
    return 0;
}

} // namespace

extern "C" __declspec(dllexport) DWORD WINAPI ncapi(Interface** main) {
    doubles::Append(kKey, L"Calls", L"ncapi");
    const DWORD result = doubles::ReadNumber(kKey, L"EntryResult", 0);
    if (result != 0) return result;
    g_main = Interface{};
    g_main.context = &g_mainContext;
    g_main.release = &ReleaseMain;
    g_main.openSecond = &OpenSecond;
    *main = &g_main;
    return 0;
}
