#pragma once
// SHA-256 of a file compared with its expected text, and file version texts.
#include <windows.h>
#include <string>
#include "operations/Sha256.h"

// 0, or ERROR_FILE_NOT_FOUND (2) when the file cannot be opened or read.
DWORD ComputeFileDigest(const std::wstring& path, Sha256::Digest& digest, Sha256::Path path_ = Sha256::Path::Auto);

// The digest as documents write it: 64 lower-case hexadecimal digits.
std::wstring DigestText(const Sha256::Digest& digest);

// True when the file's digest equals the 64-character hexadecimal text (either case); otherwise
// false with errorCode 1392 (wrong digest or text), 2 (file not readable) or 14.
bool VerifyFileDigest(const std::wstring& path, const std::wstring& expected, DWORD& errorCode);
// The same check on a file already open for reading, read from its current position to its end
// in the same pieces (a file just written and still open: what landed in it, without a second open).
bool VerifyOpenFileDigest(HANDLE file, const std::wstring& expected, DWORD& errorCode);

// The FileVersion text of the file's version resource as stored (not cut): 0, the system's code
// when the file has no version resource, or 1813 when the resource holds no FileVersion text.
DWORD ReadFileVersionText(const std::wstring& path, std::wstring& raw);
// The file's FileVersion text cut to four fields: 0, a Windows error code, or 777.
DWORD GetFileVersionText(const std::wstring& path, std::wstring& version);
// Pure form of the cut: the four fields between the fifth-last and the last dot; 777 otherwise.
DWORD CutVersionText(const std::wstring& raw, std::wstring& version);

// 1 when `second` is greater than `first`, field by field; else 0.
int IsVersionGreater(const std::wstring& first, const std::wstring& second);
