#pragma once
// Wide text for standard output: the usage text and the verify report.
// The format follows the C run-time's wide printf ("%s" takes a UTF-16 string).
// On a console the text is written as UTF-16; redirected to a file or pipe it is written as UTF-8,
// so that paths with letters outside ASCII survive.
#include <string>

void ConsolePrintf(const wchar_t* format, ...);
void ConsoleWrite(const std::wstring& text);
