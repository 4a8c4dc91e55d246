#include "xml/DocumentLimits.h"

namespace {

// The document's characters as single bytes: UTF-16 code units outside ASCII become 'x', which
// keeps every character the markup is made of.
std::string MarkupText(const std::string& bytes) {
    const bool littleEndian = bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
                              static_cast<unsigned char>(bytes[1]) == 0xFE;
    const bool bigEndian = bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
                           static_cast<unsigned char>(bytes[1]) == 0xFF;
    if (!littleEndian && !bigEndian) return bytes;
    std::string text;
    text.reserve(bytes.size() / 2);
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
        const unsigned char low = static_cast<unsigned char>(littleEndian ? bytes[i] : bytes[i + 1]);
        const unsigned char high = static_cast<unsigned char>(littleEndian ? bytes[i + 1] : bytes[i]);
        text.push_back(high == 0 && low < 0x80 ? static_cast<char>(low) : 'x');
    }
    return text;
}

// Moves `at` past the next `end` (to the text's end when there is none).
void SkipPast(const std::string& text, size_t& at, const char* end) {
    const size_t found = text.find(end, at);
    at = found == std::string::npos ? text.size() : found + std::char_traits<char>::length(end);
}

std::wstring Exceeds(const wchar_t* what, size_t limit) {
    return std::wstring(L"The document exceeds the limit of ") + std::to_wstring(limit) + L" " + what + L".";
}

} // namespace

std::wstring CheckDocumentSize(unsigned long long size, const DocumentLimits& limits) {
    return size > limits.maxBytes ? Exceeds(L"bytes", limits.maxBytes) : std::wstring();
}

std::wstring CheckDocumentLimits(const std::string& bytes, const DocumentLimits& limits) {
    const std::wstring tooLarge = CheckDocumentSize(bytes.size(), limits);
    if (!tooLarge.empty()) return tooLarge;
    const std::string text = MarkupText(bytes);
    size_t elements = 0;
    size_t allAttributes = 0;
    size_t depth = 0;
    size_t at = 0;
    while ((at = text.find('<', at)) != std::string::npos) {
        if (text.compare(at, 4, "<!--") == 0) {
            SkipPast(text, at, "-->");
        } else if (text.compare(at, 9, "<![CDATA[") == 0) {
            SkipPast(text, at, "]]>");
        } else if (text.compare(at, 2, "<?") == 0) {
            SkipPast(text, at, "?>");
        } else if (text.compare(at, 2, "<!") == 0) {
            // A DOCTYPE, with its internal subset in brackets.
            const size_t begin = at;
            const size_t bracket = text.find('[', at);
            const size_t close = text.find('>', at);
            if (bracket != std::string::npos && bracket < close) {
                at = bracket;
                SkipPast(text, at, "]");
            }
            SkipPast(text, at, ">");
            // An external DTD, external entity or notation makes the parser open the file or
            // address it names: the documents are self-contained, so any such reference is refused.
            const std::string declaration = text.substr(begin, at - begin);
            if (declaration.find("SYSTEM") != std::string::npos || declaration.find("PUBLIC") != std::string::npos) {
                return L"The document's DOCTYPE refers to a resource outside the document (SYSTEM or PUBLIC): "
                       L"documents may not name other files.";
            }
        } else if (text.compare(at, 2, "</") == 0) {
            if (depth > 0) --depth;
            SkipPast(text, at, ">");
        } else {
            if (++elements > limits.maxElements) return Exceeds(L"elements", limits.maxElements);
            // The start tag: attributes are counted by their "=" outside quoted values.
            size_t attributes = 0;
            char quote = 0;
            ++at;
            for (; at < text.size(); ++at) {
                const char c = text[at];
                if (quote) {
                    if (c == quote) quote = 0;
                } else if (c == '"' || c == '\'') {
                    quote = c;
                } else if (c == '=') {
                    if (++attributes > limits.maxAttributesPerElement) {
                        return Exceeds(L"attributes on one element", limits.maxAttributesPerElement);
                    }
                    if (++allAttributes > limits.maxAttributes) return Exceeds(L"attributes", limits.maxAttributes);
                } else if (c == '>') {
                    break;
                }
            }
            const bool selfClosing = at < text.size() && at > 0 && text[at - 1] == '/';
            if (depth + 1 > limits.maxDepth) return Exceeds(L"levels of nested elements", limits.maxDepth);
            if (!selfClosing) ++depth;
            if (at < text.size()) ++at;
        }
    }
    return std::wstring();
}
