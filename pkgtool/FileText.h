#pragma once
// The text of a file read as bytes, as the tools read documents and INF files.
#include <string>

// UTF-16 (little-endian, after its byte-order mark), UTF-8 after its byte-order mark, UTF-8
// without one, or else (bytes that are not UTF-8) the ANSI code page.
std::wstring TextFromFileBytes(const std::string& bytes);
