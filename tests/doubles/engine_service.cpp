// Stands in for the engine's scanner service: an own-process Windows service that stops on the
// engine's control code 218 only (SERVICE_CONTROL_STOP is not accepted).
//
// Its behaviour is chosen per test before the start, in
// HKLM\SOFTWARE\InstallerTestDoubles\Services\<service name>, value "Mode":
//   "run" (or absent)  report RUNNING; stop on 218
//   "ignore-stop"      report RUNNING; never stop
//   "start-pending"    stay START_PENDING (the SCM passes it no control meanwhile) and give up
//                      after "PendingSeconds" (default 10): report STOPPED with an error, as
//                      an engine whose start hangs and then fails
//   "exit"             report STOPPED at once, with a service-specific error
//   "die-pending"      report START_PENDING, then after "PendingSeconds" (default 10) the process
//                      dies without another report, as an engine that crashes while it starts
// Every control code it receives is appended to the value "Controls" ("218;"), and every start
// to "Starts" ("start;").
#include <windows.h>
#include <string>
#include "DoubleSettings.h"

namespace {

const DWORD kEngineStopControl = 218;

std::wstring g_name;
std::wstring g_mode;
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
SERVICE_STATUS g_status{};
HANDLE g_stopped = nullptr;

std::wstring SettingsKey() { return L"Services\\" + g_name; }

void Report(DWORD state, DWORD exitCode = NO_ERROR) {
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = state;
    g_status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_SHUTDOWN : 0;
    g_status.dwWin32ExitCode = exitCode == NO_ERROR ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    g_status.dwServiceSpecificExitCode = exitCode;
    g_status.dwWaitHint = state == SERVICE_START_PENDING ? 600000 : 0;
    ::SetServiceStatus(g_statusHandle, &g_status);
}

DWORD WINAPI Handler(DWORD control, DWORD, void*, void*) {
    doubles::Append(SettingsKey(), L"Controls", std::to_wstring(control));
    if (control == kEngineStopControl && g_mode != L"ignore-stop") ::SetEvent(g_stopped);
    if (control == SERVICE_CONTROL_INTERROGATE) ::SetServiceStatus(g_statusHandle, &g_status);
    return NO_ERROR;
}

void WINAPI ServiceMain(DWORD argc, LPWSTR* argv) {
    g_name = argc > 0 && argv[0] ? argv[0] : L"";
    g_mode = doubles::ReadText(SettingsKey(), L"Mode", L"run");
    g_stopped = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_statusHandle = ::RegisterServiceCtrlHandlerExW(g_name.c_str(), Handler, nullptr);
    if (!g_statusHandle) return;
    doubles::Append(SettingsKey(), L"Starts", L"start");

    if (g_mode == L"exit") {
        Report(SERVICE_STOPPED, 1);
        return;
    }
    if (g_mode == L"die-pending") {
        Report(SERVICE_START_PENDING);
        ::Sleep(doubles::ReadNumber(SettingsKey(), L"PendingSeconds", 10) * 1000);
        ::TerminateProcess(::GetCurrentProcess(), 0xC0000005);
    }
    if (g_mode == L"start-pending") {
        Report(SERVICE_START_PENDING);
        const DWORD seconds = doubles::ReadNumber(SettingsKey(), L"PendingSeconds", 10);
        const bool stopped = ::WaitForSingleObject(g_stopped, seconds * 1000) == WAIT_OBJECT_0;
        Report(SERVICE_STOPPED, stopped ? NO_ERROR : 1);
        return;
    }
    Report(SERVICE_RUNNING);
    ::WaitForSingleObject(g_stopped, INFINITE);
    Report(SERVICE_STOPPED);
}

} // namespace

int wmain() {
    wchar_t empty[] = L"";
    const SERVICE_TABLE_ENTRYW table[] = { { empty, ServiceMain }, { nullptr, nullptr } };
    return ::StartServiceCtrlDispatcherW(table) ? 0 : static_cast<int>(::GetLastError());
}
