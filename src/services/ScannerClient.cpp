#include "services/ScannerClient.h"

namespace {
using InitializeFn = DWORD(WINAPI*)(void** clientHandle, DWORD flags);
using GetSystemStateFn = DWORD(WINAPI*)(void** slot, DWORD* state);
using UnInitializeFn = DWORD(WINAPI*)(void* clientHandle);

enum : size_t { kInitialize = 0, kUnInitialize = 1, kGetSystemState = 2 };

template <typename F>
F As(FARPROC function) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(function));
}
} // namespace

const char* const ScannerClient::kFunctionNames[ScannerClient::kFunctionCount] = {
    "AVInitialize", "AVUnInitialize", "AVGetSystemState", "AVSetSystemState", "AVSetStateChangeCallback",
    "AVBulwarkGetInterface", "AVBulwarkReleaseInterface", "AVBulwarkListen", "AVBulwarkListenStop",
    "AVPolicyCreateSnapshot", "AVPolicyDeleteSnapshot", "AVPolicyBeginUpdate", "AVPolicyEndUpdate",
    "AVPolicySetAttribute", "AVPolicyRestoreAttribute", "AVPolicyCancelUpdate", "AVPolicyRestoreDefault",
    "AVPolicyCheckIfPending", "AVPolicyCheckIfExists", "AVPolicyGetAttribute", "AVPolicyGet",
    "AVPolicyGetAllPoliciesInClass", "AVPolicyGetAllPoliciesInState", "AVPolicyFreePolicyClassInfo",
    "AVPolicyFreePolicyAttributeList", "AVPolicyFreePolicyAttribute", "AVGetExtensionList", "AVGetDetectionNames",
    "AVFreeDetectionNames", "AVGetVersionInfo", "AVFreeVersionInfo", "AVGetPointProductData", "AVScannerGetInterface",
    "AVScannerRelease", "AVScannerSetCallbacks", "AVScannerScan", "AVScannerTerminateScan",
    "AVScannerSetScanPriority", "AVSetMoveDirectory", "AVScannerExcludeThisThread", "AVScannerUnExcludeThisThread",
    "AVScannerDeleteFile", "AVScannerDeleteRegistryObject", "AVUpdate", "AVUpdateGetContentPath",
    "AVUpdateGetScannerPath", "AVUpdateGetInstallPath", "AVUpdateGetTarnexBuildNumber", "AVBackupInitialize",
    "AVBackupRelease", "AVBackupGetItemByID", "AVBackupFreeBackupItem", "AVBackupGetCount", "AVBackupRestoreByID",
    "AVBackupRestoreByIndex", "AVBackupDeleteByID", "AVBackupSubmitSample", "AVBackupGetAll",
    "AVBackupFreeBackupItemList", "AVBackupGetCustomStream", "AVBackupSetCustomStream", "AVBackupRestoreDB",
    "AVPolicyCheckIfExcluded", "AVBulwarkStartService", "AVBulwarkStopService",
};

ScannerClient::ScannerClient() : library_(L"BulwarkClient", true), functions_() {
    for (size_t i = 0; i < kFunctionCount; ++i) functions_[i] = library_.GetFunction(kFunctionNames[i]);
}

DWORD ScannerClient::Initialize(void** clientHandle, DWORD flags) {
    return As<InitializeFn>(functions_[kInitialize])(clientHandle, flags);
}

DWORD ScannerClient::GetSystemState(void** slot, DWORD* state) {
    return As<GetSystemStateFn>(functions_[kGetSystemState])(slot, state);
}

DWORD ScannerClient::UnInitialize(void* clientHandle) {
    return As<UnInitializeFn>(functions_[kUnInitialize])(clientHandle);
}
