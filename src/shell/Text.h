#pragma once
// Conversions of UTF-16 text for the outputs that want UTF-8 (redirected console output, trace
// messages).
#include <string>

std::string Utf8FromUtf16(const std::wstring& text);
