#pragma once
// Services and the engine's stand-ins in tests: what the SCM holds for a service, the behaviour a
// test chooses for the doubles (tests/doubles) and what they recorded, and the removal of every
// test service afterwards (automatic services would start again at every new wineserver).
#include <windows.h>
#include <optional>
#include <string>

struct ServiceSnapshot {
    DWORD state = 0;           // SERVICE_STOPPED, SERVICE_RUNNING, ...
    DWORD startType = 0;
    DWORD serviceType = 0;
    std::wstring binaryPath;
    std::wstring displayName;
    std::wstring description;
};
// Nothing when the service is not registered.
std::optional<ServiceSnapshot> QueryTestService(const std::wstring& name);

// Waits up to `timeoutMs` for the state; true when reached.
bool WaitForServiceState(const std::wstring& name, DWORD state, DWORD timeoutMs);

// Stops the service (the engine's control code, then the process is ended if it ignores it) and
// deletes it; waits until the SCM no longer lists it. True when it is gone.
bool RemoveTestService(const std::wstring& name);

// Registers an own-process service of the engine service double (on demand, not started).
bool CreateTestService(const std::wstring& name, const std::wstring& binaryPath, DWORD startType);

// The engine service double: "run", "ignore-stop", "start-pending", "exit" or "die-pending".
void SetServiceDoubleMode(const std::wstring& serviceName, const std::wstring& mode);
// The control codes it received, in order, each followed by ";" ("218;").
std::wstring ServiceDoubleControls(const std::wstring& serviceName);
// Its starts, "start;" each.
std::wstring ServiceDoubleStarts(const std::wstring& serviceName);

// A double's setting or record under HKLM\SOFTWARE\InstallerTestDoubles\<double>.
void SetDoubleText(const std::wstring& double_, const std::wstring& name, const std::wstring& value);
void SetDoubleNumber(const std::wstring& double_, const std::wstring& name, DWORD value);
std::wstring DoubleText(const std::wstring& double_, const std::wstring& name);
// Removes every setting and record of the doubles.
void ClearDoubleSettings();
