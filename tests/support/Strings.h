#pragma once
// Looking for lines in a log, a report or any other text; environment variables as this process
// expands them.
#include <windows.h>
#include <string>

inline bool Contains(const std::wstring& text, const std::wstring& part) {
    return text.find(part) != std::wstring::npos;
}

// How often `part` stands in `text` (occurrences do not overlap).
inline int CountOccurrences(const std::wstring& text, const std::wstring& part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at + part.size())) ++count;
    return count;
}

// "%SystemRoot%\Temp\" -> "C:\windows\Temp\" (texts up to 1023 characters).
inline std::wstring Expand(const std::wstring& text) {
    wchar_t buffer[1024] = {};
    ::ExpandEnvironmentStringsW(text.c_str(), buffer, 1024);
    return buffer;
}
