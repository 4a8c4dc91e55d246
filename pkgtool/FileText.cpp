#include "pkgtool/FileText.h"

#include <windows.h>

namespace {

std::wstring Decode(const std::string& bytes, UINT codePage, DWORD flags) {
    if (bytes.empty()) return {};
    const int length = ::MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (length <= 0) return {};
    std::wstring text(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), &text[0], length);
    return text;
}

} // namespace

std::wstring TextFromFileBytes(const std::string& bytes) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE) {
        std::wstring text((bytes.size() - 2) / 2, L'\0');
        for (size_t i = 0; i < text.size(); ++i) {
            text[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 + 2 * i]) |
                                           (static_cast<unsigned char>(bytes[3 + 2 * i]) << 8));
        }
        return text;
    }
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return Decode(bytes.substr(3), CP_UTF8, 0);
    const std::wstring utf8 = Decode(bytes, CP_UTF8, MB_ERR_INVALID_CHARS);
    if (!utf8.empty() || bytes.empty()) return utf8;
    return Decode(bytes, CP_ACP, 0);
}
