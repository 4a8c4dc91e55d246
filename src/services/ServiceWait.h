#pragma once
// The plain sleeps of the service start and stop and of the controller's waits around them.
// They go through one function so that component tests can count the waits instead of sleeping.
#include <windows.h>

void ServiceSleep(DWORD milliseconds);

// Replaces the sleep (null puts ::Sleep back). Tests only.
using ServiceSleepFunction = void (*)(DWORD milliseconds);
void SetServiceSleepForTests(ServiceSleepFunction sleep);
