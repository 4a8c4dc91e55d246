// First version of the log call: formatting and the file sink. The trace provider follows.
#include "shell/Log.h"

#include <windows.h>
#include <shlobj.h>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct FileSink {
    std::mutex lock;
    bool enabled = false;
    std::wstring path;
    HANDLE file = INVALID_HANDLE_VALUE;
};

FileSink& Sink() {
    static FileSink sink;
    return sink;
}

void WriteWide(HANDLE file, const std::wstring& text) {
    DWORD written = 0;
    ::WriteFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
    ::FlushFileBuffers(file);
}

std::wstring Widen(const char* text) {
    std::wstring wide;
    for (const char* p = text; p && *p; ++p) wide.push_back(static_cast<unsigned char>(*p));
    return wide;
}

void WriteRecord(const std::string& body) {
    FileSink& sink = Sink();
    std::lock_guard<std::mutex> guard(sink.lock);
    if (!sink.enabled) return;
    if (sink.file == INVALID_HANDLE_VALUE) {
        sink.file = ::CreateFileW(sink.path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (sink.file == INVALID_HANDLE_VALUE) return;
        WriteWide(sink.file, std::wstring(1, wchar_t(0xFEFF)));
    }
    char stamp[32] = {};
    time_t now = time(nullptr);
    strftime(stamp, sizeof(stamp), "%d/%m/%y %H:%M:%S", localtime(&now));
    WriteWide(sink.file, Widen(stamp) + L" ");
    WriteWide(sink.file, L"InstallHelper.cpp");
    WriteWide(sink.file, L": ");
    WriteWide(sink.file, Widen(body.c_str()));
}

} // namespace

void InstallerDebugLog(const char* sourceFile, unsigned line, unsigned level, const char* format, ...) {
    const DWORD lastError = ::GetLastError();
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    int length = _vscprintf(format, measure);
    va_end(measure);
    std::string message;
    if (length > 0) {
        std::vector<char> buffer(static_cast<size_t>(length) + 1);
        _vsnprintf(buffer.data(), buffer.size(), format, args);
        message.assign(buffer.data(), static_cast<size_t>(length));
    }
    va_end(args);
    WriteRecord(std::string(sourceFile ? sourceFile : "NULL") + ": " + std::to_string(line) + ": " + message + "\r\n");
    ::SetLastError(lastError);
}

void InitializeLog(const std::wstring& logPath) {
    if (logPath.empty()) return;
    FileSink& sink = Sink();
    std::lock_guard<std::mutex> guard(sink.lock);
    sink.path = logPath;
    sink.enabled = true;
}

void UninitializeLog(const std::wstring& logPath) {
    FileSink& sink = Sink();
    std::lock_guard<std::mutex> guard(sink.lock);
    if (sink.file != INVALID_HANDLE_VALUE) ::CloseHandle(sink.file);
    sink.file = INVALID_HANDLE_VALUE;
    sink.enabled = false;
}

FunctionScope::FunctionScope(const char* module, const char* name, bool hexResult)
    : module_(module), name_(name), hexResult_(hexResult) {
    InstallerDebugLog(module_, __LINE__, LogLevel::Detail, "%s %s", "Entered function", name_);
}

FunctionScope::~FunctionScope() {
    if (!hasResult_) {
        InstallerDebugLog(module_, __LINE__, LogLevel::Detail, "%s %s", "Exiting function", name_);
    } else if (hexResult_) {
        InstallerDebugLog(module_, __LINE__, LogLevel::Detail, "%s %s with result 0x%x", "Exiting function", name_, result_);
    } else {
        InstallerDebugLog(module_, __LINE__, LogLevel::Detail, "%s %s with result %d", "Exiting function", name_, result_);
    }
}
