#pragma once
// Scopes that hold a lock from their construction to every way out of the scope.
#include <windows.h>

class CriticalSectionScope {
public:
    explicit CriticalSectionScope(CRITICAL_SECTION& section) : section_(section) { ::EnterCriticalSection(&section_); }
    ~CriticalSectionScope() { ::LeaveCriticalSection(&section_); }
    CriticalSectionScope(const CriticalSectionScope&) = delete;
    CriticalSectionScope& operator=(const CriticalSectionScope&) = delete;

private:
    CRITICAL_SECTION& section_;
};

// A slim reader/writer lock held exclusively.
class ExclusiveLockScope {
public:
    explicit ExclusiveLockScope(SRWLOCK& lock) : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
    ~ExclusiveLockScope() { ::ReleaseSRWLockExclusive(&lock_); }
    ExclusiveLockScope(const ExclusiveLockScope&) = delete;
    ExclusiveLockScope& operator=(const ExclusiveLockScope&) = delete;

private:
    SRWLOCK& lock_;
};
