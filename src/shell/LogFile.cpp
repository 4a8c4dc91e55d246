// The -l log file: UTF-16LE records appended one piece at a time, under one lock.
#include "shell/Log.h"
#include "shell/LogParts.h"

#include <windows.h>
#include <shlobj.h>
#include <mutex>
#include <string>
#include <vector>

#include "shell/Handles.h"

namespace {

// The file name of the module that holds the log call, as each record names it.
const char kLogModuleFileName[] = "InstallHelper.cpp";

struct DebugLogFile {
    std::mutex lock;   // guards the settings and the stream
    bool enabled = false;
    bool initialised = false;
    bool timestamp = true;
    bool append = true;
    std::wstring path;
    UniqueFileHandle stream;
    bool streamFailed = false;   // a write failed: the rest goes nowhere until the stream is closed
};

DebugLogFile& Sink() {
    static DebugLogFile* sink = new DebugLogFile;
    return *sink;
}

// Text that reaches the file at once (no buffering in the process): the file is complete up to
// the last write if the process dies.
void WritePiece(DebugLogFile& sink, const std::wstring& piece) {
    if (sink.streamFailed || piece.empty()) return;
    DWORD written = 0;
    const DWORD bytes = static_cast<DWORD>(piece.size() * sizeof(wchar_t));
    if (!::WriteFile(sink.stream.get(), piece.data(), bytes, &written, nullptr) || written != bytes) {
        sink.streamFailed = true;
    }
}

bool OpenStream(DebugLogFile& sink) {
    // Appending, shared for reading and writing with other processes.
    sink.stream.reset(::CreateFileW(sink.path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!sink.stream) return false;
    sink.streamFailed = false;
    // The byte-order mark starts every opening, also in the middle of a file that already exists.
    WritePiece(sink, std::wstring(1, wchar_t(0xFEFF)));
    return true;
}

bool IsExistingDirectory(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    return ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) &&
           (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::wstring FullPath(const std::wstring& path) {
    const DWORD length = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (length == 0) return path;
    std::vector<wchar_t> buffer(length + 1);
    const DWORD written = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (written == 0 || written >= buffer.size()) return path;
    return std::wstring(buffer.data(), written);
}

} // namespace

std::wstring WidenBytes(const std::string& text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (char c : text) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return wide;
}

std::wstring LogFilePathOf(const std::wstring& logPath) {
    if (!logPath.empty() && (logPath.back() == L'\\' || logPath.back() == L'/')) {
        return logPath.substr(0, logPath.size() - 1);
    }
    return logPath;
}

std::wstring LogDirectoryOf(const std::wstring& logFilePath) {
    const size_t slash = logFilePath.rfind(L'\\');
    if (slash == std::wstring::npos) return std::wstring();
    return logFilePath.substr(0, slash + 1);
}

void WriteLogRecord(const std::wstring& body) {
    DebugLogFile& sink = Sink();
    std::lock_guard<std::mutex> guard(sink.lock);
    if (!sink.enabled) return;
    if (!sink.stream && !OpenStream(sink)) return;   // dropped; the next record tries again
    // The whole record in one write: the same bytes as piece by piece, one system call instead
    // of four, and never half a record in the file.
    std::wstring record;
    record.reserve(body.size() + 64);
    if (sink.timestamp) {
        SYSTEMTIME now = {};
        ::GetLocalTime(&now);
        record += WidenBytes(LogTimestamp(now) + " ");
    }
    record += WidenBytes(kLogModuleFileName);
    record += L": ";
    record += body;
    WritePiece(sink, record);
}

void OpenLogFile(const std::wstring& logPath) {
    if (IsExistingDirectory(logPath)) return;   // a directory is no log file
    const std::wstring path = LogFilePathOf(logPath);
    const std::wstring directory = LogDirectoryOf(path);
    if (!directory.empty()) {
        const std::wstring absolute = FullPath(directory);
        if (!IsExistingDirectory(absolute)) {
            // 0, ERROR_FILE_EXISTS and ERROR_ALREADY_EXISTS all leave the directory there; any other
            // failure shows when the stream cannot be opened.
            ::SHCreateDirectory(nullptr, absolute.c_str());
        }
    }

    DebugLogFile& sink = Sink();
    std::lock_guard<std::mutex> guard(sink.lock);
    if (sink.initialised) return;
    sink.enabled = true;
    sink.path = path;
    sink.timestamp = true;
    sink.append = true;
    sink.initialised = true;
}

void CloseLogFile() {
    DebugLogFile& sink = Sink();
    std::lock_guard<std::mutex> guard(sink.lock);
    sink.stream.reset();
    sink.streamFailed = false;
    sink.initialised = false;
    // A closed sink writes nothing more (a later record would otherwise reopen the file).
    sink.enabled = false;
}
