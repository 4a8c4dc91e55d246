#pragma once
// The -l log as tests read it: the UTF-16 file as text, its records, and a log file opened for
// the lifetime of an object.
#include <string>
#include <vector>
#include "support/TestFiles.h"

// The log file's UTF-16 units as text, byte-order marks kept (every opening writes one).
// Empty when the file cannot be read.
std::wstring ReadLogText(const std::wstring& path);

// The records of a log text: the text between "\r\n" ends, byte-order marks kept.
std::vector<std::wstring> LogRecords(const std::wstring& logText);

// One record "<time> InstallHelper.cpp: <source>: <line>: <message>" in its parts; `parsed` is
// false (and `message` the whole record) when the record has another shape.
struct LogRecord {
    bool parsed = false;
    std::wstring source;
    std::wstring line;
    std::wstring message;
};
LogRecord ParseLogRecord(const std::wstring& record);

// What follows "<time> InstallHelper.cpp: " in a record ("<source>: <line>: <message>"); the
// whole record when it has no such head.
std::wstring RecordAfterHead(const std::wstring& record);

// A log file in a temporary folder, opened with InitializeLog for the lifetime of the object.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::wstring& Path() const { return path_; }
    // Everything logged so far.
    std::wstring Text() const;
    bool Contains(const std::wstring& part) const;

private:
    TempDir dir_;
    std::wstring path_;
};
