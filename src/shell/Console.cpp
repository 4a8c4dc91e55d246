#include "shell/Console.h"
#include "shell/Text.h"

#include <windows.h>
#include <cstdarg>
#include <cstdio>
#include <vector>

void ConsoleWrite(const std::wstring& text) {
    if (text.empty()) return;
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
    DWORD mode = 0;
    DWORD written = 0;
    if (::GetConsoleMode(out, &mode)) {
        ::WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const std::string utf8 = Utf8FromUtf16(text);
    if (utf8.empty()) return;
    ::WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

void ConsolePrintf(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    const int length = _vscwprintf(format, measure);
    va_end(measure);
    if (length > 0) {
        std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
        _vsnwprintf(buffer.data(), buffer.size(), format, args);
        ConsoleWrite(std::wstring(buffer.data(), static_cast<size_t>(length)));
    }
    va_end(args);
}
