#pragma once
// Conversions of UTF-16 text for the outputs that want UTF-8 (redirected console output, trace
// messages), and the system's texts for error codes.
#include <string>

std::string Utf8FromUtf16(const std::wstring& text);

// The system's text for a Win32 code, without its line end and final full stop; empty when the
// system has none.
std::wstring SystemMessage(unsigned long code);
