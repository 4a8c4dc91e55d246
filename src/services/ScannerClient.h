#pragma once
// Client of the engine's scanner client library ("BulwarkClient.dll", next to the program). The
// installer calls three of its functions to wait until the scanner has initialised; the library
// is used only when it exports every name of kFunctionNames.
#include <windows.h>
#include "shell/SharedLibrary.h"

class ScannerClient {
public:
    static constexpr size_t kFunctionCount = 65;
    static const char* const kFunctionNames[kFunctionCount];

    // Loads the library and resolves every function in list order; raises AVException ("Unable
    // to Load DLL", "Unable to locate function: <name>") at the first failure.
    ScannerClient();
    virtual ~ScannerClient() = default;

    // "AVInitialize": 0 when *clientHandle is usable.
    DWORD Initialize(void** clientHandle, DWORD flags);
    // "AVGetSystemState": `slot` is the pointer-sized slot next to the client handle.
    DWORD GetSystemState(void** slot, DWORD* state);
    // "AVUnInitialize".
    DWORD UnInitialize(void* clientHandle);

private:
    SharedLibrary library_;
    FARPROC functions_[kFunctionCount];
};

// The flags of the installer's AVInitialize call.
constexpr DWORD kScannerClientFlags = 0x10000;
