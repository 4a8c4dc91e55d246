#pragma once
#include <windows.h>
#include <string>

// The running executable's directory with a trailing backslash: 0, the Windows error,
// ERROR_INSUFFICIENT_BUFFER for a name that fills MAX_PATH, or ERROR_PATH_NOT_FOUND for a name
// without a backslash. `directory` is set only on success.
DWORD GetProgramDirectory(std::wstring& directory);
