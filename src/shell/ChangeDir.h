#pragma once
// Makes a directory the process's current directory for the lifetime of the object and puts the
// previous one back when it ends.
#include <windows.h>
#include <string>

class CChangeDir {
public:
    explicit CChangeDir(const std::wstring& directory);
    ~CChangeDir();
    CChangeDir(const CChangeDir&) = delete;
    CChangeDir& operator=(const CChangeDir&) = delete;

    // Whether the directory became the current one; when not, Error() holds the reason and the
    // current directory is unchanged.
    bool Changed() const { return changed_; }
    DWORD Error() const { return error_; }

private:
    std::wstring previous_;
    bool changed_ = false;
    DWORD error_ = ERROR_SUCCESS;
};
