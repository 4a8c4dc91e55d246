// Stands in for the engine's scanner client library: exports all 65 names the installer requires,
// and implements the three it calls.
//
// HKLM\SOFTWARE\InstallerTestDoubles\BulwarkClient:
//   "States"            the states AVGetSystemState reports, one per call, e.g. "9,9,4"; the last
//                       one repeats (default "4", initialised)
//   "InitializeResult"  what AVInitialize returns (default 0)
//   "StateResult"       what AVGetSystemState returns (default 0)
//   "HangIn"            the name of one of the three functions that never returns, as a library
//                       stuck on a lock would (default none)
//   "Calls"             appended per call: "AVInitialize:<flags in hex>", "AVGetSystemState:<slot>"
//                       ("next" when the slot is the one right after the client handle),
//                       "AVUnInitialize:<handle>" ("client" for the handle AVInitialize gave)
#include <windows.h>
#include <string>
#include <vector>
#include "../DoubleSettings.h"

namespace {

const wchar_t kKey[] = L"BulwarkClient";
int g_client = 0;           // the client handle points here
void** g_handleSlot = nullptr;
size_t g_position = 0;

std::vector<DWORD> States() {
    const std::wstring text = doubles::ReadText(kKey, L"States", L"4");
    std::vector<DWORD> states;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = text.find(L',', start);
        const std::wstring item = text.substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start);
        if (!item.empty()) states.push_back(static_cast<DWORD>(std::wcstoul(item.c_str(), nullptr, 10)));
        if (comma == std::wstring::npos) break;
        start = comma + 1;
    }
    if (states.empty()) states.push_back(4);
    return states;
}

std::wstring Hex(DWORD value) {
    wchar_t text[16] = {};
    swprintf(text, 16, L"%lx", static_cast<unsigned long>(value));
    return text;
}

// Never returns when the test chose `function` to hang.
void HangIfChosen(const wchar_t* function) {
    if (doubles::ReadText(kKey, L"HangIn", L"") == function) ::Sleep(INFINITE);
}

} // namespace

#define EXPORT extern "C" __declspec(dllexport)

EXPORT DWORD WINAPI AVInitialize(void** clientHandle, DWORD flags) {
    doubles::Append(kKey, L"Calls", L"AVInitialize:" + Hex(flags));
    HangIfChosen(L"AVInitialize");
    const DWORD result = doubles::ReadNumber(kKey, L"InitializeResult", 0);
    g_handleSlot = clientHandle;
    if (result == 0 && clientHandle) *clientHandle = &g_client;
    return result;
}

EXPORT DWORD WINAPI AVGetSystemState(void** slot, DWORD* state) {
    doubles::Append(kKey, L"Calls", std::wstring(L"AVGetSystemState:") +
                                        (g_handleSlot && slot == g_handleSlot + 1 ? L"next" : L"other"));
    HangIfChosen(L"AVGetSystemState");
    const std::vector<DWORD> states = States();
    const DWORD result = doubles::ReadNumber(kKey, L"StateResult", 0);
    if (result != 0) return result;
    *state = states[g_position < states.size() ? g_position : states.size() - 1];
    ++g_position;
    return 0;
}

EXPORT DWORD WINAPI AVUnInitialize(void* clientHandle) {
    doubles::Append(kKey, L"Calls", std::wstring(L"AVUnInitialize:") +
                                        (clientHandle == &g_client ? L"client" : clientHandle ? L"other" : L"null"));
    HangIfChosen(L"AVUnInitialize");
    return 0;
}

// The rest of the interface is never called by the installer.
#define STUB(name) EXPORT DWORD WINAPI name() { return ERROR_CALL_NOT_IMPLEMENTED; }
STUB(AVSetSystemState)
STUB(AVSetStateChangeCallback)
STUB(AVBulwarkGetInterface)
STUB(AVBulwarkReleaseInterface)
STUB(AVBulwarkListen)
STUB(AVBulwarkListenStop)
STUB(AVPolicyCreateSnapshot)
STUB(AVPolicyDeleteSnapshot)
STUB(AVPolicyBeginUpdate)
STUB(AVPolicyEndUpdate)
STUB(AVPolicySetAttribute)
STUB(AVPolicyRestoreAttribute)
STUB(AVPolicyCancelUpdate)
STUB(AVPolicyRestoreDefault)
STUB(AVPolicyCheckIfPending)
STUB(AVPolicyCheckIfExists)
STUB(AVPolicyGetAttribute)
STUB(AVPolicyGet)
STUB(AVPolicyGetAllPoliciesInClass)
STUB(AVPolicyGetAllPoliciesInState)
STUB(AVPolicyFreePolicyClassInfo)
STUB(AVPolicyFreePolicyAttributeList)
STUB(AVPolicyFreePolicyAttribute)
STUB(AVGetExtensionList)
STUB(AVGetDetectionNames)
STUB(AVFreeDetectionNames)
STUB(AVGetVersionInfo)
STUB(AVFreeVersionInfo)
STUB(AVGetPointProductData)
STUB(AVScannerGetInterface)
STUB(AVScannerRelease)
STUB(AVScannerSetCallbacks)
STUB(AVScannerScan)
STUB(AVScannerTerminateScan)
STUB(AVScannerSetScanPriority)
STUB(AVSetMoveDirectory)
STUB(AVScannerExcludeThisThread)
STUB(AVScannerUnExcludeThisThread)
STUB(AVScannerDeleteFile)
STUB(AVScannerDeleteRegistryObject)
STUB(AVUpdate)
STUB(AVUpdateGetContentPath)
STUB(AVUpdateGetScannerPath)
STUB(AVUpdateGetInstallPath)
STUB(AVUpdateGetTarnexBuildNumber)
STUB(AVBackupInitialize)
STUB(AVBackupRelease)
STUB(AVBackupGetItemByID)
STUB(AVBackupFreeBackupItem)
STUB(AVBackupGetCount)
STUB(AVBackupRestoreByID)
STUB(AVBackupRestoreByIndex)
STUB(AVBackupDeleteByID)
STUB(AVBackupSubmitSample)
STUB(AVBackupGetAll)
STUB(AVBackupFreeBackupItemList)
STUB(AVBackupGetCustomStream)
STUB(AVBackupSetCustomStream)
STUB(AVBackupRestoreDB)
STUB(AVPolicyCheckIfExcluded)
STUB(AVBulwarkStartService)
STUB(AVBulwarkStopService)
