#include "services/ServiceWait.h"

#include <memory>
#include <utility>
#include "shell/Handles.h"

namespace {
ServiceSleepFunction g_sleep = nullptr;

// What a bounded call and its worker share; the worker keeps it alive while the call runs.
struct BoundedCall {
    std::function<DWORD()> call;
    DWORD result = 0;
};

DWORD WINAPI RunBoundedCall(void* parameter) {
    std::unique_ptr<std::shared_ptr<BoundedCall>> handed(static_cast<std::shared_ptr<BoundedCall>*>(parameter));
    const std::shared_ptr<BoundedCall> state = std::move(*handed);
    state->result = state->call();
    return 0;
}
} // namespace

void ServiceSleep(DWORD milliseconds) {
    if (g_sleep) g_sleep(milliseconds);
    else ::Sleep(milliseconds);
}

void SetServiceSleepForTests(ServiceSleepFunction sleep) { g_sleep = sleep; }

bool CallWithTimeout(std::function<DWORD()> call, DWORD timeoutMs, DWORD& result) {
    auto state = std::make_shared<BoundedCall>();
    state->call = std::move(call);
    auto handed = std::make_unique<std::shared_ptr<BoundedCall>>(state);
    UniqueKernelHandle worker(::CreateThread(nullptr, 0, &RunBoundedCall, handed.get(), 0, nullptr));
    if (!worker) {
        result = state->call();
        return true;
    }
    handed.release();   // the worker owns it now
    if (::WaitForSingleObject(worker.get(), timeoutMs) != WAIT_OBJECT_0) return false;
    result = state->result;
    return true;
}
