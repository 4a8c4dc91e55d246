#include "support/Hex.h"

#include "operations/FileDigest.h"

std::wstring HexText(const uint8_t* bytes, size_t size) {
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring text;
    text.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 15]);
    }
    return text;
}

std::wstring HexText(const Sha256::Digest& digest) { return DigestText(digest); }

std::wstring Sha256Text(const std::string& bytes) { return HexText(Sha256Of(bytes.data(), bytes.size())); }
