#include "operations/FileHelpers.h"

#include <new>
#include <vector>
#include "operations/FileDigest.h"
#include "shell/Log.h"
#include "shell/Result.h"

static const char kLogModule[] = ".\\InstallHelper";

namespace {

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
    return text.compare(0, wcslen(prefix), prefix) == 0;
}

// Text with a "\\?\" (but not "\\?\UNC\") prefix taken off.
std::wstring WithoutLongPrefix(const std::wstring& path) {
    if (StartsWith(path, L"\\\\?\\") && !StartsWith(path, L"\\\\?\\UNC\\")) return path.substr(4);
    return path;
}

bool IsDriveLetterColon(const std::wstring& text) {
    return text.size() == 2 && text[1] == L':' &&
           ((text[0] >= L'A' && text[0] <= L'Z') || (text[0] >= L'a' && text[0] <= L'z'));
}

std::wstring WithoutTrailingBackslash(std::wstring path) {
    if (!path.empty() && path.back() == L'\\') path.pop_back();
    return path;
}

bool SamePathText(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

} // namespace

std::wstring ExtendedPath(const std::wstring& path, size_t limit) {
    if (path.empty() || path.size() <= limit) return path;
    if (StartsWith(path, L"\\\\?\\") || StartsWith(path, L"\\\\.\\")) return path;
    try {
        if (StartsWith(path, L"\\\\")) return L"\\\\?\\UNC\\" + path.substr(2);
        return L"\\\\?\\" + path;
    } catch (const std::bad_alloc&) {
        return path;
    }
}

BOOL MoveFileLong(const std::wstring& existing, const std::wstring* newPath, DWORD flags) {
    const std::wstring from = ExtendedPath(existing, MAX_PATH);
    if (newPath == nullptr) return ::MoveFileExW(from.c_str(), nullptr, flags);
    const std::wstring to = ExtendedPath(*newPath, MAX_PATH);
    return ::MoveFileExW(from.c_str(), to.c_str(), flags);
}

BOOL DeleteFileLong(const std::wstring& path) {
    return ::DeleteFileW(ExtendedPath(path, MAX_PATH).c_str());
}

BOOL CopyFileLong(const std::wstring& source, const std::wstring& target, BOOL failIfExists) {
    return ::CopyFileW(ExtendedPath(source, MAX_PATH).c_str(), ExtendedPath(target, MAX_PATH).c_str(), failIfExists);
}

bool PathExists(const std::wstring& path) {
    return ::GetFileAttributesW(ExtendedPath(path, MAX_PATH).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectoryPath(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(ExtendedPath(path, MAX_PATH).c_str(), GetFileExInfoStandard, &data)) return false;
    return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

DWORD FullPathLong(const std::wstring& path, std::wstring& full) {
    const std::wstring extended = ExtendedPath(path, MAX_PATH);
    std::vector<wchar_t> buffer(MAX_PATH);
    DWORD length = ::GetFullPathNameW(extended.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length >= buffer.size()) {
        buffer.resize(static_cast<size_t>(length) + 1);
        length = ::GetFullPathNameW(extended.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (length >= buffer.size()) return 0;
    }
    if (length == 0) return 0;
    std::wstring result(buffer.data(), length);
    if (StartsWith(result, L"\\\\?\\UNC\\")) result = L"\\\\" + result.substr(8);
    else if (StartsWith(result, L"\\\\?\\")) result = result.substr(4);
    full = result;
    return static_cast<DWORD>(full.size());
}

// An empty path counts as protected: emptying "" + "\*.*" would empty the current drive's root.
bool IsProtectedDirectory(const std::wstring& path) {
    const std::wstring plain = WithoutLongPrefix(path);
    if (plain.empty() || IsDriveLetterColon(plain)) return true;

    std::wstring full;
    if (FullPathLong(plain, full) == 0) return false;
    full = WithoutTrailingBackslash(WithoutLongPrefix(full));
    if (full.empty() || IsDriveLetterColon(full)) return true;

    wchar_t windows[MAX_PATH] = {};
    wchar_t system[MAX_PATH] = {};
    const UINT windowsLength = ::GetWindowsDirectoryW(windows, MAX_PATH);
    const UINT systemLength = ::GetSystemDirectoryW(system, MAX_PATH);
    if (windowsLength > 0 && windowsLength < MAX_PATH && SamePathText(full, WithoutTrailingBackslash(windows))) return true;
    if (systemLength > 0 && systemLength < MAX_PATH && SamePathText(full, WithoutTrailingBackslash(system))) return true;
    return false;
}

namespace InstallHelper {

DWORD CopyAndReplaceFile(const std::wstring& source, const std::wstring& target) {
    FunctionScope scope(kLogModule, "InstallHelper::CopyAndReplaceFile");
    return scope.Result(ResultFromBool(CopyFileLong(source, target, FALSE)));
}

DWORD CopyAtReboot(const std::wstring& source, const std::wstring& target) {
    FunctionScope scope(kLogModule, "InstallHelper::CopyAtReboot");
    std::wstring aside = target + L"_";
    if (::MoveFileW(ExtendedPath(target, MAX_PATH).c_str(), ExtendedPath(aside, MAX_PATH).c_str())) {
        // The busy file now lives under the aside name; the new one takes the target name.
        const DWORD copied = CopyAndReplaceFile(source, target);
        if (copied != ERROR_SUCCESS) {
            // Never leave the target missing: put the original back and report the copy's error.
            if (!MoveFileLong(aside, &target, MOVEFILE_REPLACE_EXISTING)) {
                LOG(LogLevel::Detail, "Failed to restore %S from %S. Error Code: %d", target.c_str(), aside.c_str(),
                    static_cast<int>(::GetLastError()));
            } else {
                LOG(LogLevel::Detail, "Copy failed with error code %d, restored %S", static_cast<int>(copied),
                    target.c_str());
            }
            return scope.Result(copied);
        }
        MoveFileLong(aside, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        return scope.Result(ERROR_SUCCESS);
    }

    LOG(LogLevel::Detail, "MoveFile failed with error code %d, attempting MoveFileEx",
        static_cast<int>(::GetLastError()));
    aside += L"_";
    const DWORD staged = CopyAndReplaceFile(source, aside);
    // Without the staged copy the restart would have nothing to put in place.
    if (staged != ERROR_SUCCESS) {
        LOG(LogLevel::Detail, "Failed to stage %S for copy at reboot. Error Code: %d", aside.c_str(),
            static_cast<int>(staged));
        return scope.Result(staged);
    }
    if (!MoveFileLong(aside, &target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT)) {
        const DWORD error = ::GetLastError();
        LOG(LogLevel::Detail, "MoveFileEx failed with error code %d", static_cast<int>(error));
        return scope.Result(error);
    }
    return scope.Result(ERROR_SUCCESS);
}

int IsFileUpgradeable(const std::wstring& installed, const std::wstring& candidate) {
    FunctionScope scope(kLogModule, "InstallHelper::IsFileUpgradeable");
    std::wstring installedVersion;
    if (GetFileVersionText(installed, installedVersion) != ERROR_SUCCESS || installedVersion.empty()) return scope.Result(0);
    std::wstring candidateVersion;
    if (GetFileVersionText(candidate, candidateVersion) != ERROR_SUCCESS || candidateVersion.empty()) return scope.Result(0);
    return scope.Result(IsVersionGreater(installedVersion, candidateVersion));
}

} // namespace InstallHelper
