// The log call: one formatting, then the event-trace provider and the UTF-16LE log file.
#include "shell/Log.h"

#include <windows.h>
#include <shlobj.h>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "shell/Handles.h"
#include "shell/Text.h"

namespace {

// {30117373-4BE1-4864-B804-A23F9C1DB6F0}
const GUID kTraceControlGuid = { 0x30117373, 0x4BE1, 0x4864, { 0xB8, 0x04, 0xA2, 0x3F, 0x9C, 0x1D, 0xB6, 0xF0 } };
// {60AAB8E3-B6E6-E86D-C746-3979B0C0FC26}
const GUID kLogMessageGuid = { 0x60AAB8E3, 0xB6E6, 0xE86D, { 0xC7, 0x46, 0x39, 0x79, 0xB0, 0xC0, 0xFC, 0x26 } };

constexpr USHORT kLogMessageNumber = 10;
constexpr USHORT kMismatchMessageNumber = 11;
// Sequence number, GUID, time stamp and system information.
constexpr ULONG kMessageFlags = TRACE_MESSAGE_SEQUENCE | TRACE_MESSAGE_GUID | TRACE_MESSAGE_TIMESTAMP |
                                TRACE_MESSAGE_SYSTEMINFO;
constexpr ULONG kLogTraceFlag = 0x2;
// The fallback sends nothing beyond this many argument bytes.
constexpr size_t kMaxFallbackArgumentBytes = 8192;
// The file name of the module that holds the log call, as each record names it.
const char kLogModuleFileName[] = "InstallHelper.cpp";

// ---------------------------------------------------------------------------------------------
// Trace provider

// One per process. The control callback writes logger, level and flags from the system's thread;
// the log call reads them without a lock.
struct TraceControlBlock {
    TraceControlBlock* next = nullptr;
    TRACEHANDLE registration = 0;
    std::atomic<TRACEHANDLE> logger{ 0 };
    UCHAR flagsLength = 1;
    std::atomic<UCHAR> level{ 1 };
    USHORT options = 0;
    std::atomic<ULONG> flags{ 0 };
    const GUID* controlGuid = &kTraceControlGuid;
};

ULONG __cdecl TraceMessageFallback(TRACEHANDLE logger, ULONG messageFlags, LPCGUID messageGuid, USHORT number, ...);

TraceHooks SystemTraceEntryPoints() {
    TraceHooks hooks;
    hooks.registerTraceGuids = &::RegisterTraceGuidsW;
    hooks.unregisterTraceGuids = &::UnregisterTraceGuids;
    hooks.getTraceLoggerHandle = &::GetTraceLoggerHandle;
    hooks.getTraceEnableLevel = &::GetTraceEnableLevel;
    hooks.getTraceEnableFlags = &::GetTraceEnableFlags;
    hooks.traceEvent = &::TraceEvent;
    return hooks;
}

template <typename Function>
Function ProcedureAs(FARPROC procedure) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(procedure));
}

struct TraceState {
    TraceControlBlock block;
    std::atomic<TraceControlBlock*> list{ nullptr };
    // The entry points in use since the last InitializeLog.
    TraceHooks active = SystemTraceEntryPoints();
    bool useTestHooks = false;
    TraceHooks testHooks;
};

// Never destroyed, so that a record written while static objects are destroyed at exit still
// finds its state.
TraceState& Trace() {
    static TraceState* state = new TraceState;
    return *state;
}

// "TraceMessage" and "TraceMessageVa" are looked up at run time; the fallback stands in for what
// advapi32 does not export.
void ResolveEntryPoints() {
    TraceState& state = Trace();
    if (state.useTestHooks) {
        state.active = state.testHooks;
    } else {
        state.active = SystemTraceEntryPoints();
        UniqueModule advapi(::LoadLibraryW(L"advapi32"));
        if (advapi) {
            state.active.traceMessage =
                ProcedureAs<decltype(TraceHooks::traceMessage)>(::GetProcAddress(advapi.get(), "TraceMessage"));
            state.active.traceMessageVa =
                ProcedureAs<decltype(TraceHooks::traceMessageVa)>(::GetProcAddress(advapi.get(), "TraceMessageVa"));
        }
        // advapi32 is one of the program's imports, so the addresses stay valid after the release.
    }
    if (state.active.traceMessage == nullptr) {
        state.active.traceMessage = &TraceMessageFallback;
        state.active.traceMessageVa = &TraceMessageFallbackVa;
    } else if (state.active.traceMessageVa == nullptr) {
        state.active.traceMessageVa = &TraceMessageFallbackVa;
    }
}

ULONG __cdecl TraceMessageFallback(TRACEHANDLE logger, ULONG messageFlags, LPCGUID messageGuid, USHORT number, ...) {
    va_list args;
    va_start(args, number);
    const ULONG result = Trace().active.traceMessageVa(logger, messageFlags, messageGuid, number, args);
    va_end(args);
    return result;
}

// The block to trace to when the provider is enabled with the log flag at `level` or above.
TraceControlBlock* EnabledBlock(unsigned level) {
    TraceControlBlock* block = Trace().list.load();
    if (block == nullptr) return nullptr;
    if ((block->flags.load() & kLogTraceFlag) == 0) return nullptr;
    if (block->level.load() < level) return nullptr;
    return block;
}

const char* TextOrNull(const char* text) { return text != nullptr ? text : "NULL"; }

ULONG SendTwoTexts(TraceControlBlock& block, const GUID& guid, USHORT number, const char* text1, const char* text2) {
    text1 = TextOrNull(text1);
    text2 = TextOrNull(text2);
    return Trace().active.traceMessage(block.logger.load(), kMessageFlags, &guid, number,
                                       static_cast<PVOID>(const_cast<char*>(text1)), static_cast<SIZE_T>(strlen(text1) + 1),
                                       static_cast<PVOID>(const_cast<char*>(text2)), static_cast<SIZE_T>(strlen(text2) + 1),
                                       static_cast<PVOID>(nullptr), static_cast<SIZE_T>(0));
}

void SendLogMessage(TraceControlBlock& block, const char* sourceFile, unsigned line, const char* message) {
    sourceFile = TextOrNull(sourceFile);
    message = TextOrNull(message);
    ULONG lineNumber = line;
    Trace().active.traceMessage(block.logger.load(), kMessageFlags, &kLogMessageGuid, kLogMessageNumber,
                                static_cast<PVOID>(const_cast<char*>(sourceFile)), static_cast<SIZE_T>(strlen(sourceFile) + 1),
                                static_cast<PVOID>(&lineNumber), static_cast<SIZE_T>(sizeof(lineNumber)),
                                static_cast<PVOID>(const_cast<char*>(message)), static_cast<SIZE_T>(strlen(message) + 1),
                                static_cast<PVOID>(nullptr), static_cast<SIZE_T>(0));
}

void SendMismatchMessage(TraceControlBlock& block, int measuredSize, int writtenSize) {
    LONG measured = measuredSize;
    LONG written = writtenSize;
    Trace().active.traceMessage(block.logger.load(), kMessageFlags, &kLogMessageGuid, kMismatchMessageNumber,
                                static_cast<PVOID>(&measured), static_cast<SIZE_T>(sizeof(measured)),
                                static_cast<PVOID>(&written), static_cast<SIZE_T>(sizeof(written)),
                                static_cast<PVOID>(nullptr), static_cast<SIZE_T>(0));
}

// ---------------------------------------------------------------------------------------------
// Log file sink

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

std::wstring Widen(const std::string& text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (char c : text) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return wide;
}

// One piece of a record; each reaches the file at once, so that the file is complete up to the
// last piece if the process dies.
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

void WriteRecord(const std::wstring& body) {
    DebugLogFile& sink = Sink();
    std::lock_guard<std::mutex> guard(sink.lock);
    if (!sink.enabled) return;
    if (!sink.stream && !OpenStream(sink)) return;   // dropped; the next record tries again
    if (sink.timestamp) {
        SYSTEMTIME now = {};
        ::GetLocalTime(&now);
        WritePiece(sink, Widen(LogTimestamp(now) + " "));
    }
    WritePiece(sink, Widen(kLogModuleFileName));
    WritePiece(sink, L": ");
    WritePiece(sink, body);
}

// The narrow format with the roles of the string and character conversions swapped, for the
// wide formatter: there "%s" takes a UTF-16 string and "%S" a narrow one. Conversions with an
// explicit size ("%ls", "%hs") mean the same in both and stay.
std::wstring WideFormatOf(const char* format) {
    std::wstring wide;
    for (const char* p = format; *p; ++p) {
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*p)));
        if (*p != '%') continue;
        ++p;
        if (*p == '\0') break;
        if (*p == '%') { wide.push_back(L'%'); continue; }
        bool sized = false;
        while (*p && strchr("-+ #0123456789.*hlwLIjzt", *p)) {
            if (strchr("hlwL", *p)) sized = true;
            if (*p == 'I' && !(p[1] == '3' || p[1] == '6')) sized = true;
            wide.push_back(static_cast<wchar_t>(*p));
            ++p;
        }
        if (*p == '\0') break;
        wchar_t conversion = static_cast<wchar_t>(static_cast<unsigned char>(*p));
        if (!sized) {
            if (conversion == L's') conversion = L'S';
            else if (conversion == L'S') conversion = L's';
            else if (conversion == L'c') conversion = L'C';
            else if (conversion == L'C') conversion = L'c';
        }
        wide.push_back(conversion);
    }
    return wide;
}

void __cdecl IgnoreInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int, uintptr_t) {}

// A bad format or argument makes the formatter fail instead of ending the process.
class InvalidParameterHandlerScope {
public:
    InvalidParameterHandlerScope() : previous_(::_set_invalid_parameter_handler(&IgnoreInvalidParameter)) {}
    ~InvalidParameterHandlerScope() { ::_set_invalid_parameter_handler(previous_); }
    InvalidParameterHandlerScope(const InvalidParameterHandlerScope&) = delete;
    InvalidParameterHandlerScope& operator=(const InvalidParameterHandlerScope&) = delete;

private:
    _invalid_parameter_handler previous_;
};

class LastErrorScope {
public:
    LastErrorScope() : saved_(::GetLastError()) {}
    ~LastErrorScope() { ::SetLastError(saved_); }
    LastErrorScope(const LastErrorScope&) = delete;
    LastErrorScope& operator=(const LastErrorScope&) = delete;

private:
    DWORD saved_;
};

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

// ---------------------------------------------------------------------------------------------
// Pure pieces

FormattedLogText FormatLogText(const char* format, va_list args) {
    FormattedLogText result;
    // No format: an empty message. Checked here, before any formatter sees it, because the
    // formatters' declarations let the compiler assume a non-null format afterwards.
    if (format == nullptr) return result;
    va_list measure;
    va_copy(measure, args);
    const int count = ::_vscprintf(format, measure);
    va_end(measure);
    result.measuredSize = count + 1;
    if (count < 0) {
        // A UTF-16 argument with letters the narrow formatter cannot convert: format the whole
        // message as UTF-16 rather than lose it.
        const std::wstring wideFormat = WideFormatOf(format);
        va_list wideMeasure;
        va_copy(wideMeasure, args);
        const int wideCount = ::_vscwprintf(wideFormat.c_str(), wideMeasure);
        va_end(wideMeasure);
        if (wideCount >= 0) {
            std::vector<wchar_t> buffer(static_cast<size_t>(wideCount) + 1, L'\0');
            const int written = ::_vsnwprintf(buffer.data(), buffer.size(), wideFormat.c_str(), args);
            if (written == wideCount) {
                result.wide = true;
                result.wideText.assign(buffer.data(), static_cast<size_t>(written));
                result.text = Utf8FromUtf16(result.wideText);
                result.measuredSize = result.writtenSize = wideCount + 1;
                return result;
            }
        }
    }
    if (result.measuredSize <= 0) {
        // Not even measurable: the record carries an empty message.
        result.measuredSize = 0;
        result.writtenSize = 0;
        return result;
    }
    std::vector<char> buffer(static_cast<size_t>(result.measuredSize), '\0');
    const int written = ::vsprintf_s(buffer.data(), buffer.size(), format, args);
    result.writtenSize = written + 1;
    if (written < 0) buffer[0] = '\0';
    result.text.assign(buffer.data());
    return result;
}

std::string LogRecordBody(const char* sourceFile, unsigned line, const std::string& message) {
    return std::string(TextOrNull(sourceFile)) + ": " + std::to_string(line) + ": " + message + "\r\n";
}

std::string MismatchRecordBody(const char* sourceFile, int measuredSize, int writtenSize) {
    char measured[16] = {};
    char written[16] = {};
    snprintf(measured, sizeof(measured), "%x", static_cast<unsigned>(measuredSize));
    snprintf(written, sizeof(written), "%x", static_cast<unsigned>(writtenSize));
    return std::string(TextOrNull(sourceFile)) + "Actual Log Buffer Size was " + measured + ". But only " + written +
           "bytes were written." + "\r\n";
}

std::string LogTimestamp(const SYSTEMTIME& localTime) {
    char text[32] = {};
    snprintf(text, sizeof(text), "%02u/%02u/%02u %02u:%02u:%02u", static_cast<unsigned>(localTime.wDay),
             static_cast<unsigned>(localTime.wMonth), static_cast<unsigned>(localTime.wYear % 100),
             static_cast<unsigned>(localTime.wHour), static_cast<unsigned>(localTime.wMinute),
             static_cast<unsigned>(localTime.wSecond));
    return text;
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

// ---------------------------------------------------------------------------------------------
// The log call

void WriteLogMessage(const char* sourceFile, unsigned line, unsigned level, const FormattedLogText& message) {
    if (TraceControlBlock* block = EnabledBlock(level)) {
        SendLogMessage(*block, sourceFile, line, message.text.c_str());
    }
    if (message.wide) {
        std::wstring body = Widen(LogRecordBody(sourceFile, line, std::string()));   // ends with "\r\n"
        body.insert(body.size() - 2, message.wideText);
        WriteRecord(body);
    } else {
        WriteRecord(Widen(LogRecordBody(sourceFile, line, message.text)));
    }
    if (message.measuredSize != message.writtenSize) {
        if (TraceControlBlock* block = EnabledBlock(LogLevel::Warning)) {
            SendMismatchMessage(*block, message.measuredSize, message.writtenSize);
        }
        WriteRecord(Widen(MismatchRecordBody(sourceFile, message.measuredSize, message.writtenSize)));
    }
}

void InstallerDebugLog(const char* sourceFile, unsigned line, unsigned level, const char* format, ...) {
    LastErrorScope lastError;
    InvalidParameterHandlerScope handler;
    try {
        va_list args;
        va_start(args, format);
        FormattedLogText message;
        try {
            message = FormatLogText(format, args);
        } catch (...) {
            va_end(args);
            throw;
        }
        va_end(args);
        WriteLogMessage(sourceFile, line, level, message);
    } catch (...) {
        // Logging never changes the outcome of an operation; a record that cannot be built is dropped.
    }
}

void TraceOwnMessage(const GUID& messageGuid, USHORT number, unsigned level, const char* text1, const char* text2) {
    LastErrorScope lastError;
    if (TraceControlBlock* block = EnabledBlock(level)) SendTwoTexts(*block, messageGuid, number, text1, text2);
}

void InitializeLog(const std::wstring& logPath) {
    LastErrorScope lastError;
    TraceState& trace = Trace();
    if (TraceControlBlock* previous = trace.list.exchange(nullptr)) {
        trace.active.unregisterTraceGuids(previous->registration);
        previous->registration = 0;
    }
    ResolveEntryPoints();

    TraceControlBlock& block = trace.block;
    block.next = nullptr;
    block.registration = 0;
    block.logger = 0;
    block.flagsLength = 1;
    block.level = 1;
    block.options = 0;
    block.flags = 0;
    block.controlGuid = &kTraceControlGuid;
    trace.list = &block;
    TRACE_GUID_REGISTRATION registration = { &kTraceControlGuid, nullptr };
    TRACEHANDLE handle = 0;
    trace.active.registerTraceGuids(&TraceControlCallback, &block, &kTraceControlGuid, 1, &registration, nullptr,
                                    nullptr, &handle);
    block.registration = handle;

    if (logPath.empty()) return;
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

void UninitializeLog(const std::wstring& logPath) {
    LastErrorScope lastError;
    TraceState& trace = Trace();
    for (TraceControlBlock* block = trace.list.exchange(nullptr); block != nullptr; block = block->next) {
        trace.active.unregisterTraceGuids(block->registration);
        block->registration = 0;
    }
    if (logPath.empty()) return;
    DebugLogFile& sink = Sink();
    std::lock_guard<std::mutex> guard(sink.lock);
    sink.stream.reset();
    sink.streamFailed = false;
    sink.initialised = false;
    // A closed sink writes nothing more (a later record would otherwise reopen the file).
    sink.enabled = false;
}

void SetTraceHooksForTests(const TraceHooks* hooks) {
    TraceState& trace = Trace();
    trace.useTestHooks = hooks != nullptr;
    trace.testHooks = hooks != nullptr ? *hooks : TraceHooks();
}

ULONG WINAPI TraceControlCallback(WMIDPREQUESTCODE requestCode, PVOID context, ULONG* bufferSize, PVOID buffer) {
    auto* block = static_cast<TraceControlBlock*>(context);
    const TraceHooks& entry = Trace().active;
    TRACEHANDLE logger = 0;
    UCHAR level = 0;
    ULONG flags = 0;
    switch (requestCode) {
    case WMI_ENABLE_EVENTS:
        logger = entry.getTraceLoggerHandle(buffer);
        level = entry.getTraceEnableLevel(logger);
        flags = entry.getTraceEnableFlags(logger);
        break;
    case WMI_DISABLE_EVENTS:
        break;
    default:
        return ERROR_INVALID_PARAMETER;
    }
    if (block != nullptr) {
        block->logger = logger;
        block->level = level;
        block->flags = flags;
    }
    if (bufferSize != nullptr) *bufferSize = 0;
    return ERROR_SUCCESS;
}

ULONG TraceMessageFallbackVa(TRACEHANDLE logger, ULONG messageFlags, LPCGUID messageGuid, USHORT number,
                             va_list args) {
    struct Arguments {
        const void* data;
        SIZE_T size;
    };
    std::vector<Arguments> arguments;
    size_t total = 0;
    for (;;) {
        const void* data = va_arg(args, PVOID);
        if (data == nullptr) break;
        const SIZE_T size = va_arg(args, SIZE_T);
        arguments.push_back({ data, size });
        total += size;
        if (total > kMaxFallbackArgumentBytes) return ERROR_BUFFER_OVERFLOW;
    }

    struct {
        EVENT_TRACE_HEADER header;
        MOF_FIELD fields[MAX_MOF_FIELDS];
    } event = {};
    event.header.Flags = WNODE_FLAG_TRACED_GUID | WNODE_FLAG_USE_GUID_PTR | WNODE_FLAG_USE_MOF_PTR;
    event.header.GuidPtr = reinterpret_cast<ULONGLONG>(messageGuid);
    event.header.Class.Type = 0xFF;
    event.header.Class.Level = 0xFF;
    event.header.Class.Version = 0xFFFF;
    USHORT messageNumber = number;
    ULONG count = 0;
    event.fields[count].DataPtr = reinterpret_cast<ULONG64>(&messageNumber);
    event.fields[count].Length = sizeof(messageNumber);
    ++count;

    std::vector<unsigned char> block;
    if (arguments.size() <= 7) {
        for (const Arguments& argument : arguments) {
            event.fields[count].DataPtr = reinterpret_cast<ULONG64>(argument.data);
            event.fields[count].Length = static_cast<ULONG>(argument.size);
            ++count;
        }
    } else {
        block.reserve(total);
        for (const Arguments& argument : arguments) {
            const auto* bytes = static_cast<const unsigned char*>(argument.data);
            block.insert(block.end(), bytes, bytes + argument.size);
        }
        event.fields[count].DataPtr = reinterpret_cast<ULONG64>(block.data());
        event.fields[count].Length = static_cast<ULONG>(block.size());
        ++count;
    }
    event.header.Size = static_cast<USHORT>(sizeof(EVENT_TRACE_HEADER) + count * sizeof(MOF_FIELD));
    (void)messageFlags;
    return Trace().active.traceEvent(logger, &event.header);
}

// ---------------------------------------------------------------------------------------------

FunctionScope::FunctionScope(const char* module, const char* name, bool hexResult, unsigned line)
    : module_(module), name_(name), hexResult_(hexResult), line_(line) {
    InstallerDebugLog(module_, line_, LogLevel::Detail, "%s %s", "Entered function", name_);
}

FunctionScope::~FunctionScope() {
    if (!hasResult_) {
        InstallerDebugLog(module_, line_, LogLevel::Detail, "%s %s", "Exiting function", name_);
    } else if (hexResult_) {
        InstallerDebugLog(module_, line_, LogLevel::Detail, "%s %s with result 0x%x", "Exiting function", name_, result_);
    } else {
        InstallerDebugLog(module_, line_, LogLevel::Detail, "%s %s with result %d", "Exiting function", name_, result_);
    }
}
