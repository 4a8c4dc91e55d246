// Formatting of log messages and the texts of a file record.
#include "shell/Log.h"
#include "shell/LogParts.h"

#include <windows.h>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "shell/Text.h"

namespace {

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

} // namespace

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

