#include "operations/FileHelpers.h"

#include <new>
#include <shlobj.h>
#include <vector>
#include "operations/FileDigest.h"
#include "shell/Handles.h"
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

DWORD RemoveCreatedFile(const std::wstring& path) {
    ::SetFileAttributesW(ExtendedPath(path).c_str(), FILE_ATTRIBUTE_NORMAL);
    const DWORD deleted = ResultFromBool(DeleteFileLong(path));
    if (deleted == ERROR_SUCCESS || IsPathNotFound(deleted)) return ERROR_SUCCESS;
    return ResultFromBool(MoveFileLong(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
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

bool SamePathText(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring FullPathOrAsGiven(const std::wstring& path) {
    std::wstring full;
    if (path.empty() || FullPathLong(path, full) == 0) return path;
    return full;
}

bool IsSamePath(const std::wstring& a, const std::wstring& b) {
    return !a.empty() && !b.empty() && SamePathText(FullPathOrAsGiven(a), FullPathOrAsGiven(b));
}

DWORD CreateDirectoryTree(const std::wstring& path) {
    if (path.size() < kShellDirectoryLimit) return static_cast<DWORD>(::SHCreateDirectoryExW(nullptr, path.c_str(), nullptr));
    std::wstring directory = WithoutLongPrefix(path);
    while (directory.size() > 3 && (directory.back() == L'\\' || directory.back() == L'/')) directory.pop_back();
    if (!IsAbsolutePathText(directory)) return ERROR_BAD_PATHNAME;
    if (PathExists(directory)) return ERROR_ALREADY_EXISTS;
    // The first level below the root: after "X:\", or after "\\server\share\".
    size_t level = 3;
    if (directory.compare(0, 2, L"\\\\") == 0) {
        const size_t server = directory.find(L'\\', 2);
        const size_t share = server == std::wstring::npos ? server : directory.find(L'\\', server + 1);
        if (share == std::wstring::npos) return ERROR_BAD_PATHNAME;
        level = share + 1;
    }
    for (size_t end = directory.find(L'\\', level);; end = directory.find(L'\\', end + 1)) {
        const std::wstring part = end == std::wstring::npos ? directory : directory.substr(0, end);
        if (!PathExists(part) && !::CreateDirectoryW(ExtendedPath(part, kShellDirectoryLimit - 1).c_str(), nullptr)) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_ALREADY_EXISTS) return error;
        }
        if (end == std::wstring::npos) return ERROR_SUCCESS;
    }
}

namespace {
std::wstring WithoutTrailingSeparators(std::wstring path) {
    while (path.size() > 1 && (path.back() == L'\\' || path.back() == L'/') && path[path.size() - 2] != L':') {
        path.pop_back();
    }
    return path;
}

bool FileIdentity(const std::wstring& path, BY_HANDLE_FILE_INFORMATION& information) {
    UniqueFileHandle file(::CreateFileW(ExtendedPath(path, MAX_PATH).c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file && ::GetFileInformationByHandle(file.get(), &information);
}
} // namespace

bool IsSameFile(const std::wstring& a, const std::wstring& b) {
    if (a.empty() || b.empty()) return false;
    if (IsSamePath(WithoutTrailingSeparators(a), WithoutTrailingSeparators(b))) return true;
    BY_HANDLE_FILE_INFORMATION first{};
    BY_HANDLE_FILE_INFORMATION second{};
    return FileIdentity(a, first) && FileIdentity(b, second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber && first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
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

namespace {

void AddDirectory(std::vector<std::wstring>& directories, const std::wstring& directory) {
    const std::wstring plain = WithoutTrailingBackslash(directory);
    if (!plain.empty()) directories.push_back(plain);
}

// Every profile folder the machine knows, and the folder that holds them.
void AddProfileDirectories(std::vector<std::wstring>& directories) {
    const wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
    UniqueKey list;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProfileList, 0, KEY_READ, list.put()) != ERROR_SUCCESS) return;
    auto addValue = [&directories](HKEY key, const wchar_t* subKey, const wchar_t* name) {
        wchar_t buffer[MAX_PATH] = {};
        DWORD size = sizeof(buffer) - sizeof(wchar_t);
        if (::RegGetValueW(key, subKey, name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ, nullptr, buffer, &size) ==
            ERROR_SUCCESS) {
            AddDirectory(directories, buffer);
        }
    };
    for (const wchar_t* name : { L"ProfilesDirectory", L"Default", L"Public", L"AllUsersProfile" }) {
        addValue(list.get(), nullptr, name);
    }
    wchar_t sid[256] = {};
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        if (::RegEnumKeyExW(list.get(), index, sid, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        addValue(list.get(), sid, L"ProfileImagePath");
    }
}

} // namespace

namespace {
std::vector<std::wstring> ReadProtectedDirectories() {
    std::vector<std::wstring> directories;
    const int folders[] = {
        CSIDL_WINDOWS, CSIDL_SYSTEM, CSIDL_SYSTEMX86, CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86,
        CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROGRAM_FILES_COMMONX86, CSIDL_COMMON_APPDATA, CSIDL_PROFILE,
        CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_PERSONAL, CSIDL_COMMON_DOCUMENTS,
        CSIDL_APPDATA, CSIDL_LOCAL_APPDATA, CSIDL_STARTMENU, CSIDL_COMMON_STARTMENU, CSIDL_PROGRAMS,
        CSIDL_COMMON_PROGRAMS, CSIDL_FONTS,
    };
    for (const int folder : folders) {
        wchar_t buffer[MAX_PATH] = {};
        if (SUCCEEDED(::SHGetFolderPathW(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, buffer))) {
            AddDirectory(directories, buffer);
            // The folder that holds the profiles.
            if (folder == CSIDL_PROFILE) {
                const std::wstring profile = WithoutTrailingBackslash(buffer);
                const size_t slash = profile.rfind(L'\\');
                if (slash != std::wstring::npos && slash > 2) AddDirectory(directories, profile.substr(0, slash));
            }
        }
    }
    wchar_t windows[MAX_PATH] = {};
    const UINT windowsLength = ::GetWindowsDirectoryW(windows, MAX_PATH);
    if (windowsLength > 0 && windowsLength < MAX_PATH) {
        AddDirectory(directories, windows);
        AddDirectory(directories, WithoutTrailingBackslash(windows) + L"\\Temp");
    }
    wchar_t system[MAX_PATH] = {};
    const UINT systemLength = ::GetSystemDirectoryW(system, MAX_PATH);
    if (systemLength > 0 && systemLength < MAX_PATH) AddDirectory(directories, system);
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD tempLength = ::GetTempPathW(MAX_PATH + 1, temp);
    if (tempLength > 0 && tempLength <= MAX_PATH) AddDirectory(directories, temp);
    AddProfileDirectories(directories);
    return directories;
}
} // namespace

// Read once: the machine's system and shell folders do not change while the program runs.
const std::vector<std::wstring>& ProtectedDirectories() {
    static const std::vector<std::wstring> directories = ReadProtectedDirectories();
    return directories;
}

bool IsAbsolutePathText(const std::wstring& path) {
    if (path.size() >= 3 && IsDriveLetterColon(path.substr(0, 2)) && (path[2] == L'\\' || path[2] == L'/')) return true;
    // "\\server\share": a server and a share name at least.
    if (StartsWith(path, L"\\\\") && path.size() > 2 && path[2] != L'\\' && path[2] != L'?' && path[2] != L'.') {
        const size_t share = path.find(L'\\', 2);
        return share != std::wstring::npos && share + 1 < path.size() && path[share + 1] != L'\\';
    }
    return false;
}

bool IsUncShareRoot(const std::wstring& path) {
    if (!StartsWith(path, L"\\\\")) return false;
    const size_t share = path.find(L'\\', 2);
    if (share == std::wstring::npos) return true;
    const size_t below = path.find(L'\\', share + 1);
    return below == std::wstring::npos || below + 1 == path.size();
}

// An empty path counts as protected: emptying "" + "\\*.*" would empty the current drive's root.
// So does a relative one: what it names depends on the directory the program was started from.
bool IsProtectedDirectory(const std::wstring& path) {
    std::wstring plain = WithoutLongPrefix(path);
    if (StartsWith(plain, L"\\\\?\\UNC\\")) plain = L"\\\\" + plain.substr(8);
    if (plain.empty() || IsDriveLetterColon(plain) || !IsAbsolutePathText(plain)) return true;

    std::wstring full;
    if (FullPathLong(plain, full) == 0) return true;
    full = WithoutTrailingBackslash(WithoutLongPrefix(full));
    if (StartsWith(full, L"\\\\?\\UNC\\")) full = L"\\\\" + full.substr(8);
    if (full.empty() || IsDriveLetterColon(full) || IsUncShareRoot(full)) return true;
    for (const auto& directory : ProtectedDirectories()) {
        if (SamePathText(full, directory)) return true;
    }
    return false;
}

namespace {

const DWORD kCopyPiece = 1u << 20;

// The one copy buffer of the process: allocated on first use, never larger.
std::vector<BYTE>& CopyBuffer() {
    static std::vector<BYTE> buffer(kCopyPiece);
    return buffer;
}

// CopyFileW keeps the source's attributes; a payload read from read-only media must not leave
// installed files that every later repair and uninstall can only replace at a restart.
void ClearReadOnly(const std::wstring& target) {
    const std::wstring path = ExtendedPath(target, MAX_PATH);
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    }
}

DWORD CopyWithCopyFile(const std::wstring& source, const std::wstring& target) {
    if (!CopyFileLong(source, target, FALSE)) return ::GetLastError();
    ClearReadOnly(target);
    return ERROR_SUCCESS;
}

// Every piece of the source into the open target; 0 or the failing call's code.
DWORD CopyPieces(HANDLE from, HANDLE to, std::vector<BYTE>& buffer = CopyBuffer()) {
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(from, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) return ::GetLastError();
        if (read == 0) return ERROR_SUCCESS;
        // A write can take less than it was given (a disk that fills up): the rest is written
        // again, so that the failing write gives its own code (ERROR_DISK_FULL).
        for (DWORD offset = 0; offset < read;) {
            DWORD done = 0;
            if (!::WriteFile(to, buffer.data() + offset, read - offset, &done, nullptr)) return ::GetLastError();
            if (done == 0) return ERROR_WRITE_FAULT;
            offset += done;
        }
    }
}

// The source's last-write time, and no read-only attribute: an existing target keeps its own
// attributes through the open (and an account that may write read-only files, as the system
// account, opens it all the same). Zero fields stay as they are. A target this copy created has
// the attributes it was created with, none of them read-only: only the time changes.
DWORD FinishTarget(HANDLE target, const LARGE_INTEGER& lastWrite, bool created) {
    FILE_BASIC_INFO change{};
    change.LastWriteTime = lastWrite;
    if (!created) {
        FILE_BASIC_INFO now{};
        if (!::GetFileInformationByHandleEx(target, FileBasicInfo, &now, sizeof(now))) return ::GetLastError();
        if (now.FileAttributes & FILE_ATTRIBUTE_READONLY) {
            change.FileAttributes = now.FileAttributes & ~FILE_ATTRIBUTE_READONLY;
            if (change.FileAttributes == 0) change.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        }
    }
    return ResultFromBool(::SetFileInformationByHandle(target, FileBasicInfo, &change, sizeof(change)));
}

// The source open for reading with its basic information (the full one also asks for the
// volume, which costs far more than the copy of a small file); false for a directory.
bool OpenCopySource(const std::wstring& from, UniqueFileHandle& input, FILE_BASIC_INFO& info) {
    input.reset(::CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              0, nullptr));
    return input && ::GetFileInformationByHandleEx(input.get(), FileBasicInfo, &info, sizeof(info)) &&
           !(info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The source's attributes as CopyFileW gives them, less read-only, as flags for the target's open.
DWORD TargetCreationAttributes(const FILE_BASIC_INFO& info) {
    const DWORD attributes = info.FileAttributes & ~(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_COMPRESSED |
                                                       FILE_ATTRIBUTE_ENCRYPTED | FILE_ATTRIBUTE_SPARSE_FILE |
                                                       FILE_ATTRIBUTE_REPARSE_POINT);
    return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

// The copy between the two open files; on failure the target is closed and deleted.
DWORD CopyOpenFiles(UniqueFileHandle& input, UniqueFileHandle& output, const FILE_BASIC_INFO& info,
                    const std::wstring& to, bool created, UniqueFileHandle* written) {
    DWORD result = CopyPieces(input.get(), output.get());
    if (result == ERROR_SUCCESS) result = FinishTarget(output.get(), info.LastWriteTime, created);
    input.reset();
    if (result != ERROR_SUCCESS) {
        // As CopyFileW: no half-written target.
        output.reset();
        ::DeleteFileW(to.c_str());
        return result;
    }
    if (written) {
        LARGE_INTEGER start{};
        if (::SetFilePointerEx(output.get(), start, nullptr, FILE_BEGIN)) *written = std::move(output);
    }
    return ERROR_SUCCESS;
}

} // namespace

bool OpenNewCopyTarget(const std::wstring& source, const std::wstring& target, NewCopyTarget& opened) {
    opened.target.reset();
    if (!OpenCopySource(ExtendedPath(source, MAX_PATH), opened.source, opened.sourceInfo)) {
        opened.source.reset();
        return false;
    }
    // Any failure, a file or directory in the target's place among them, creates nothing. The
    // right to delete lets a copy that fails remove the target through its own handle.
    opened.target.reset(::CreateFileW(ExtendedPath(target, MAX_PATH).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0,
                                      nullptr, CREATE_NEW, TargetCreationAttributes(opened.sourceInfo), nullptr));
    if (!opened.target) {
        const DWORD error = ::GetLastError();   // the caller may ask why (the target exists)
        opened.source.reset();
        ::SetLastError(error);
        return false;
    }
    return true;
}

DWORD CopyFileContent(const std::wstring& source, const std::wstring& target, UniqueFileHandle* written,
                      NewCopyTarget* opened) {
    if (written) written->reset();
    if (opened && opened->copiedAhead) return ERROR_SUCCESS;
    const std::wstring to = ExtendedPath(target, MAX_PATH);
    if (opened && opened->source && opened->target) {
        return CopyOpenFiles(opened->source, opened->target, opened->sourceInfo, to, true, written);
    }
    UniqueFileHandle input;
    FILE_BASIC_INFO info{};
    if (!OpenCopySource(ExtendedPath(source, MAX_PATH), input, info)) return CopyWithCopyFile(source, target);
    // Any case this open does not take (a hidden or read-only target, a busy one) goes to
    // CopyFileW for its own answer.
    UniqueFileHandle output(::CreateFileW(to.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          TargetCreationAttributes(info), nullptr));
    if (!output) {
        input.reset();
        return CopyWithCopyFile(source, target);
    }
    return CopyOpenFiles(input, output, info, to, false, written);
}

NewFileCopy CopyToNewFile(const std::wstring& source, const std::wstring& target, const std::wstring& sha256,
                          std::vector<BYTE>& buffer) {
    NewCopyTarget opened;
    if (!OpenNewCopyTarget(source, target, opened)) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? NewFileCopy::TargetExists
                                                                           : NewFileCopy::NothingDone;
    }
    bool copied = CopyPieces(opened.source.get(), opened.target.get(), buffer) == ERROR_SUCCESS &&
                  FinishTarget(opened.target.get(), opened.sourceInfo.LastWriteTime, true) == ERROR_SUCCESS;
    opened.source.reset();
    if (copied && !sha256.empty()) {
        LARGE_INTEGER start{};
        DWORD digestError = ERROR_SUCCESS;
        copied = ::SetFilePointerEx(opened.target.get(), start, nullptr, FILE_BEGIN) &&
                 VerifyOpenFileDigest(opened.target.get(), sha256, digestError);
    }
    if (copied) return NewFileCopy::Copied;
    // The target was opened without sharing: marked for deletion, it goes when this handle closes.
    FILE_DISPOSITION_INFO gone{};
    gone.DeleteFile = TRUE;
    const bool marked = ::SetFileInformationByHandle(opened.target.get(), FileDispositionInfo, &gone, sizeof(gone)) != FALSE;
    opened.target.reset();
    if (marked || DeleteFileLong(target) || IsPathNotFound(::GetLastError())) return NewFileCopy::NothingDone;
    return NewFileCopy::LeftBehind;
}

namespace InstallHelper {

DWORD CopyAndReplaceFile(const std::wstring& source, const std::wstring& target, UniqueFileHandle* written,
                         NewCopyTarget* opened) {
    FunctionScope scope(kLogModule, "InstallHelper::CopyAndReplaceFile");
    return scope.Result(CopyFileContent(source, target, written, opened));
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
