#include "services/ServiceWait.h"

namespace {
ServiceSleepFunction g_sleep = nullptr;
}

void ServiceSleep(DWORD milliseconds) {
    if (g_sleep) g_sleep(milliseconds);
    else ::Sleep(milliseconds);
}

void SetServiceSleepForTests(ServiceSleepFunction sleep) { g_sleep = sleep; }
