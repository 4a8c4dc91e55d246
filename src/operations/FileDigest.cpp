#include "operations/FileDigest.h"

#include <cstdio>
#include <cwchar>
#include <cstdlib>
#include <new>
#include <vector>
#include "operations/FileHelpers.h"
#include "shell/Handles.h"
#include "shell/PhaseTimes.h"

namespace {

const DWORD kReadChunk = 40960;

// The digest of what is left to read in an open file, in pieces of 40960 bytes.
DWORD DigestOfOpenFile(HANDLE file, Sha256::Digest& digest, Sha256::Path path) {
    std::vector<uint8_t> buffer(kReadChunk);
    Sha256 sha(path);
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file, buffer.data(), kReadChunk, &read, nullptr)) return ERROR_FILE_NOT_FOUND;
        if (read == 0) break;
        sha.Update(buffer.data(), read);
    }
    digest = sha.Finish();
    return ERROR_SUCCESS;
}

// The digest comes from `compute` (0, or the error code to report).
template <typename Compute>
bool VerifyDigest(const std::wstring& expected, DWORD& errorCode, Compute compute) {
    PhaseScope phase(Phase::Digest);
    errorCode = ERROR_SUCCESS;
    if (expected.size() != 64) {
        errorCode = ERROR_FILE_CORRUPT;
        return false;
    }
    try {
        Sha256::Digest digest{};
        const DWORD result = compute(digest);
        if (result != ERROR_SUCCESS) {
            errorCode = result;
            return false;
        }
        for (size_t i = 0; i < digest.size(); ++i) {
            unsigned int value = 0;
            if (swscanf(expected.c_str() + 2 * i, L"%02x", &value) != 1 || value != digest[i]) {
                errorCode = ERROR_FILE_CORRUPT;
                return false;
            }
        }
        return true;
    } catch (const std::bad_alloc&) {
        errorCode = ERROR_OUTOFMEMORY;
        return false;
    }
}

} // namespace

std::wstring DigestText(const Sha256::Digest& digest) {
    static const wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring text;
    text.reserve(digest.size() * 2);
    for (unsigned char byte : digest) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 15]);
    }
    return text;
}

DWORD ComputeFileDigest(const std::wstring& path, Sha256::Digest& digest, Sha256::Path path_) {
    // Read sharing: a running program and the libraries it has loaded stay readable (only writers
    // are kept out while the digest is taken).
    UniqueFileHandle file(::CreateFileW(ExtendedPath(path, 248).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return ERROR_FILE_NOT_FOUND;
    return DigestOfOpenFile(file.get(), digest, path_);
}

bool VerifyFileDigest(const std::wstring& path, const std::wstring& expected, DWORD& errorCode) {
    return VerifyDigest(expected, errorCode, [&path](Sha256::Digest& digest) { return ComputeFileDigest(path, digest); });
}

bool VerifyOpenFileDigest(HANDLE file, const std::wstring& expected, DWORD& errorCode) {
    return VerifyDigest(expected, errorCode,
                        [file](Sha256::Digest& digest) { return DigestOfOpenFile(file, digest, Sha256::Path::Auto); });
}

DWORD CutVersionText(const std::wstring& raw, std::wstring& version) {
    const size_t last = raw.rfind(L'.');
    if (last == std::wstring::npos) return 777;
    size_t start = last;
    for (int i = 0; i < 4; ++i) {
        if (start == 0) return 777;
        start = raw.rfind(L'.', start - 1);
        if (start == std::wstring::npos) return 777;
    }
    version = raw.substr(start + 1, last - start - 1);
    return ERROR_SUCCESS;
}

DWORD ReadFileVersionText(const std::wstring& path, std::wstring& raw) {
    raw.clear();
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size == 0) return ::GetLastError();
    std::vector<BYTE> info(size);
    if (!::GetFileVersionInfoW(path.c_str(), 0, size, info.data())) return ::GetLastError();

    struct Translation { WORD language; WORD codePage; };
    Translation* translation = nullptr;
    UINT translationBytes = 0;
    if (!::VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &translationBytes) ||
        translation == nullptr || translationBytes < sizeof(Translation)) {
        return ERROR_RESOURCE_TYPE_NOT_FOUND;
    }
    wchar_t query[100] = {};
    _snwprintf(query, 99, L"\\StringFileInfo\\%04X%04X\\FileVersion", translation->language, translation->codePage);
    wchar_t* text = nullptr;
    UINT textLength = 0;
    if (!::VerQueryValueW(info.data(), query, reinterpret_cast<void**>(&text), &textLength) || text == nullptr) {
        return ERROR_RESOURCE_TYPE_NOT_FOUND;
    }
    raw.assign(text, wcsnlen(text, textLength));
    return ERROR_SUCCESS;
}

DWORD GetFileVersionText(const std::wstring& path, std::wstring& version) {
    std::wstring raw;
    const DWORD read = ReadFileVersionText(path, raw);
    return read == ERROR_SUCCESS ? CutVersionText(raw, version) : read;
}

namespace {
// One field per step: the text up to the next dot; once no dot is left, the rest again and again.
void VersionFields(const std::wstring& text, unsigned long fields[4]) {
    std::wstring rest = text;
    for (int i = 0; i < 4; ++i) {
        const size_t dot = rest.find(L'.');
        if (dot == std::wstring::npos) {
            fields[i] = wcstoul(rest.c_str(), nullptr, 10);
            continue;
        }
        fields[i] = wcstoul(rest.substr(0, dot).c_str(), nullptr, 10);
        rest = rest.substr(dot + 1);
    }
}
} // namespace

int IsVersionGreater(const std::wstring& first, const std::wstring& second) {
    unsigned long a[4] = {};
    unsigned long b[4] = {};
    VersionFields(first, a);
    VersionFields(second, b);
    for (int i = 0; i < 4; ++i) {
        const uint32_t left = static_cast<uint32_t>(a[i]);
        const uint32_t right = static_cast<uint32_t>(b[i]);
        if (left != right) return right > left ? 1 : 0;
    }
    return 0;
}
