#pragma once
// Win32 results. Operations return a DWORD code, 0 for success; these turn each of the platform's
// ways of reporting a failure into that code, so call sites stay short and cast-free.
#include <windows.h>

// A registry function's LSTATUS.
inline DWORD ResultFromStatus(LSTATUS status) { return static_cast<DWORD>(status); }

// A BOOL-returning call: 0 when it succeeded, else the thread's last error. Read the error
// immediately after the call (nothing may run in between that sets it).
inline DWORD ResultFromBool(BOOL succeeded) { return succeeded ? ERROR_SUCCESS : ::GetLastError(); }

// An HRESULT: 0 when it succeeded, the Win32 code of a FACILITY_WIN32 failure, otherwise the
// HRESULT's own bits.
inline DWORD ResultFromHResult(HRESULT hr) {
    if (SUCCEEDED(hr)) return ERROR_SUCCESS;
    if (HRESULT_FACILITY(hr) == FACILITY_WIN32) return static_cast<DWORD>(HRESULT_CODE(hr));
    return static_cast<DWORD>(hr);
}

// The codes that say a path is not there: the file, or a directory on the way to it.
inline bool IsPathNotFound(DWORD code) { return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND; }

// SHCreateDirectoryExW's results that leave the directory in place: created now, or there already.
inline bool IsDirectoryCreated(DWORD code) {
    return code == ERROR_SUCCESS || code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
}

// The success codes of an operation that may defer work to the next restart.
inline bool IsSuccessOrRestart(DWORD code) { return code == ERROR_SUCCESS || code == ERROR_SUCCESS_REBOOT_REQUIRED; }
