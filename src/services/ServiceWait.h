#pragma once
// The plain sleeps of the service start and stop and of the controller's waits around them.
// They go through one function so that component tests can count the waits instead of sleeping.
#include <windows.h>
#include <functional>

void ServiceSleep(DWORD milliseconds);

// Replaces the sleep (null puts ::Sleep back). Tests only.
using ServiceSleepFunction = void (*)(DWORD milliseconds);
void SetServiceSleepForTests(ServiceSleepFunction sleep);

// Runs `call` on a worker thread and waits for it at most `timeoutMs`. True, with `result` set,
// when it returned in time. False when it did not: the worker is left to finish on its own, so
// everything `call` touches must be owned by `call` itself (captured by value or shared), never
// borrowed from the caller's stack. When no thread can be made, `call` runs on this one.
bool CallWithTimeout(std::function<DWORD()> call, DWORD timeoutMs, DWORD& result);
