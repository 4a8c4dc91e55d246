#include "support/LogReader.h"

#include "shell/Log.h"
#include "support/Strings.h"

namespace {
const wchar_t kRecordHead[] = L"InstallHelper.cpp: ";
}

std::wstring ReadLogText(const std::wstring& path) { return Utf16FromBytes(ReadFileBytes(path)); }

std::vector<std::wstring> LogRecords(const std::wstring& logText) {
    std::vector<std::wstring> records;
    size_t begin = 0;
    for (size_t end; (end = logText.find(L"\r\n", begin)) != std::wstring::npos; begin = end + 2) {
        records.push_back(logText.substr(begin, end - begin));
    }
    if (begin < logText.size()) records.push_back(logText.substr(begin));
    return records;
}

std::wstring RecordAfterHead(const std::wstring& record) {
    const std::wstring head = kRecordHead;
    const size_t at = record.find(head);
    return at == std::wstring::npos ? record : record.substr(at + head.size());
}

LogRecord ParseLogRecord(const std::wstring& record) {
    LogRecord parts;
    const std::wstring head = kRecordHead;
    const size_t at = record.find(head);
    const size_t sourceStart = at == std::wstring::npos ? at : at + head.size();
    const size_t sourceEnd = at == std::wstring::npos ? at : record.find(L": ", sourceStart);
    const size_t lineEnd = sourceEnd == std::wstring::npos ? sourceEnd : record.find(L": ", sourceEnd + 2);
    if (lineEnd == std::wstring::npos) {
        parts.message = record;
        return parts;
    }
    parts.parsed = true;
    parts.source = record.substr(sourceStart, sourceEnd - sourceStart);
    parts.line = record.substr(sourceEnd + 2, lineEnd - sourceEnd - 2);
    parts.message = record.substr(lineEnd + 2);
    return parts;
}

LogCapture::LogCapture() : dir_(L"log"), path_(dir_ / L"install.log") { InitializeLog(path_); }

LogCapture::~LogCapture() { UninitializeLog(path_); }

std::wstring LogCapture::Text() const { return ReadLogText(path_); }

bool LogCapture::Contains(const std::wstring& part) const { return ::Contains(Text(), part); }
