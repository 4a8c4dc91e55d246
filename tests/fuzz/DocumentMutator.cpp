#include "fuzz/DocumentMutator.h"
#include "shell/Handles.h"
#include "support/TestFiles.h"

#include <windows.h>
#include <algorithm>

namespace {

// "@SHA256:...@" becomes a digest the schema accepts; any other "@NAME@" a plain word.
std::string FillPlaceholders(std::string text) {
    size_t at = 0;
    while ((at = text.find('@', at)) != std::string::npos) {
        const size_t end = text.find('@', at + 1);
        if (end == std::string::npos || end - at > 80 || text.find_first_of(" <>\"\n", at) < end) {
            ++at;
            continue;
        }
        const bool digest = text.compare(at + 1, 7, "SHA256:") == 0;
        const std::string replacement = digest ? std::string(64, 'A') : std::string("value");
        text.replace(at, end - at + 1, replacement);
        at += replacement.size();
    }
    return text;
}

struct Span {
    size_t begin = 0;  // the '<' of the start tag
    size_t end = 0;    // one past the '>' of the end tag (or of the empty-element tag)
    size_t tagEnd = 0; // one past the '>' of the start tag
    std::string name;
};

bool IsNameChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '.' || c == ':';
}

// Start tags of elements (not comments, declarations, end tags) and their extents.
std::vector<Span> Elements(const std::string& text) {
    std::vector<Span> spans;
    std::vector<size_t> open;
    size_t at = 0;
    while ((at = text.find('<', at)) != std::string::npos) {
        if (text.compare(at, 4, "<!--") == 0) {
            const size_t close = text.find("-->", at);
            at = close == std::string::npos ? text.size() : close + 3;
            continue;
        }
        if (text.compare(at, 2, "<!") == 0 || text.compare(at, 2, "<?") == 0) {
            const size_t close = text.find('>', at);
            at = close == std::string::npos ? text.size() : close + 1;
            continue;
        }
        const size_t close = text.find('>', at);
        if (close == std::string::npos) break;
        if (text[at + 1] == '/') {
            if (!open.empty()) {
                spans[open.back()].end = close + 1;
                open.pop_back();
            }
        } else {
            Span span;
            span.begin = at;
            span.tagEnd = close + 1;
            size_t n = at + 1;
            while (n < text.size() && IsNameChar(text[n])) ++n;
            span.name = text.substr(at + 1, n - at - 1);
            if (text[close - 1] == '/') {
                span.end = close + 1;
                spans.push_back(span);
            } else {
                spans.push_back(span);
                open.push_back(spans.size() - 1);
            }
        }
        at = close + 1;
    }
    std::vector<Span> closed;
    for (const Span& span : spans) {
        if (span.end > span.begin) closed.push_back(span);
    }
    return closed;
}

struct Attribute {
    size_t begin = 0;  // the space before the name
    size_t end = 0;    // one past the closing quote
    size_t valueBegin = 0;
    size_t valueEnd = 0;
};

std::vector<Attribute> Attributes(const std::string& text, const Span& span) {
    std::vector<Attribute> attributes;
    size_t at = span.begin + 1 + span.name.size();
    while (at < span.tagEnd) {
        const size_t equals = text.find('=', at);
        if (equals == std::string::npos || equals >= span.tagEnd) break;
        const size_t quote = text.find_first_of("\"'", equals);
        if (quote == std::string::npos || quote >= span.tagEnd) break;
        const size_t closeQuote = text.find(text[quote], quote + 1);
        if (closeQuote == std::string::npos || closeQuote >= span.tagEnd) break;
        Attribute attribute;
        attribute.begin = at;
        attribute.valueBegin = quote + 1;
        attribute.valueEnd = closeQuote;
        attribute.end = closeQuote + 1;
        attributes.push_back(attribute);
        at = closeQuote + 1;
    }
    return attributes;
}

class Mutator {
public:
    Mutator(Random& random, const ForbiddenFile& forbidden) : random_(random), forbidden_(forbidden) {}

    size_t Pick(size_t bound) { return bound == 0 ? 0 : static_cast<size_t>(random_() % bound); }
    bool Chance(size_t oneIn) { return Pick(oneIn) == 0; }

    std::string Junk() {
        static const char* const kJunk[] = {
            "", " ", "true", "TRUE", "1", "-1", "4294967296", "x86", "x64", "ia64", "copy", "delete", "create",
            "DWORD", "SZ", "MULTI_SZ", "..\\..\\windows", "C:\\Windows\\System32", "a:b", "\\\\server\\share",
            "$INSTALL_PATH\\..", "&amp;&lt;&gt;", "&#0;", "&#x1F;", "\xC3\xA9\xE2\x82\xAC", "\xFF\xFE", "%SystemRoot%",
            "HKLM", "HKLM\\", "HKEY_LOCAL_MACHINE\\x", "a\\0b\\0\\0", "0x10", "1.1", "-0", "NaN", "00000000",
        };
        if (Chance(4)) return std::string(64, "0123456789ABCDEFabcdefXYZ"[Pick(25)]);
        if (Chance(6)) return std::string(1 + Pick(5000), 'j');
        return kJunk[Pick(std::size(kJunk))];
    }

    void Apply(std::string& text, std::string& log) {
        std::vector<Span> spans = Elements(text);
        if (spans.empty()) return;
        const Span span = spans[Pick(spans.size())];
        const std::vector<Attribute> attributes = Attributes(text, span);
        switch (Pick(24)) {
        case 0:
            if (attributes.empty()) break;
            {
                const Attribute& a = attributes[Pick(attributes.size())];
                text.erase(a.begin, a.end - a.begin);
                log += "drop-attribute ";
            }
            break;
        case 1:
            if (attributes.empty()) break;
            {
                const Attribute& a = attributes[Pick(attributes.size())];
                text.insert(span.tagEnd - (text[span.tagEnd - 2] == '/' ? 2 : 1), text.substr(a.begin, a.end - a.begin));
                log += "duplicate-attribute ";
            }
            break;
        case 2:
        case 3:
            if (attributes.empty()) break;
            {
                const Attribute& a = attributes[Pick(attributes.size())];
                text.replace(a.valueBegin, a.valueEnd - a.valueBegin, Junk());
                log += "junk-attribute ";
            }
            break;
        case 4:
            text.insert(span.end, text.substr(span.begin, span.end - span.begin));
            log += "duplicate-element ";
            break;
        case 5: {
            // Swap with the next sibling, when there is one right after it.
            for (const Span& next : spans) {
                if (next.begin >= span.end && text.find_first_not_of(" \t\r\n", span.end) == next.begin) {
                    const std::string first = text.substr(span.begin, span.end - span.begin);
                    const std::string second = text.substr(next.begin, next.end - next.begin);
                    const std::string between = text.substr(span.end, next.begin - span.end);
                    text.replace(span.begin, next.end - span.begin, second + between + first);
                    log += "reorder ";
                    break;
                }
            }
            break;
        }
        case 6: {
            static const size_t kDepths[] = {2, 20, 98, 99, 100, 101, 1000, 100000};
            const size_t depth = kDepths[Pick(std::size(kDepths))];
            const std::string name = Chance(2) ? span.name : std::string("Feature");
            const std::string open = "<" + name + (name == "Feature" ? " tag=\"n\">" : ">");
            const std::string close = "</" + name + ">";
            std::string opens;
            std::string closes;
            opens.reserve(open.size() * depth);
            closes.reserve(close.size() * depth);
            for (size_t i = 0; i < depth; ++i) {
                opens += open;
                closes += close;
            }
            text.insert(span.end, closes);
            text.insert(span.begin, opens);
            log += "nest-" + std::to_string(depth) + " ";
            break;
        }
        case 7: {
            static const size_t kCopies[] = {10, 1000, 20000, 99990, 100001};
            size_t copies = kCopies[Pick(std::size(kCopies))];
            const std::string element = text.substr(span.begin, span.end - span.begin);
            // Keep most of them under the size limit so that the parser, the schema and the
            // binding see them; a few pass it.
            const size_t room = Chance(4) ? 20u * 1024 * 1024 : 15u * 1024 * 1024;
            if (element.size() * copies > room) copies = room / element.size();
            std::string repeated;
            repeated.reserve(element.size() * copies);
            for (size_t i = 0; i < copies; ++i) repeated += element;
            text.insert(span.end, repeated);
            log += "siblings-" + std::to_string(copies) + " ";
            break;
        }
        case 8: {
            const std::string big(1000000, "aZ9 ._-"[Pick(7)]);
            if (!attributes.empty() && Chance(2)) {
                const Attribute& a = attributes[Pick(attributes.size())];
                text.replace(a.valueBegin, a.valueEnd - a.valueBegin, big);
                log += "attribute-1MB ";
            } else {
                ReplaceText(text, span, big);
                log += "text-1MB ";
            }
            break;
        }
        case 9: {
            static const char* const kCdata[] = {"<![CDATA[engine.dll]]>", "<![CDATA[]]>", "<![CDATA[a]]>b",
                                                 "<![CDATA[<![CDATA[x]]>]]>", "<![CDATA[ <x/> & ]]>", "<![CDATA[x"};
            ReplaceText(text, span, kCdata[Pick(std::size(kCdata))]);
            log += "cdata ";
            break;
        }
        case 10:
            AddDoctype(text, "<!ENTITY e \"expanded.dll\">");
            ReplaceText(text, span, "&e;");
            log += "entity ";
            break;
        case 11: {
            const size_t levels = 3 + Pick(8);
            std::string subset = "<!ENTITY l0 \"lol\">";
            for (size_t i = 1; i <= levels; ++i) {
                subset += "<!ENTITY l" + std::to_string(i) + " \"";
                for (int k = 0; k < 10; ++k) subset += "&l" + std::to_string(i - 1) + ";";
                subset += "\">";
            }
            AddDoctype(text, subset);
            ReplaceText(text, span, "&l" + std::to_string(levels) + ";");
            log += "entity-exponential-" + std::to_string(levels) + " ";
            break;
        }
        case 12: {
            const std::string target = Chance(2) ? forbidden_.url : forbidden_.path;
            AddDoctype(text, "<!ENTITY ext SYSTEM \"" + target + "\">");
            ReplaceText(text, span, "&ext;");
            log += "entity-external ";
            break;
        }
        case 13: {
            // Every way a document can name another file: DTDs, parameter entities, a schema
            // location, a style sheet, an inclusion.
            const size_t rootTag = RootStart(text) + 1 + RootName(text).size();
            switch (Pick(7)) {
            case 0: AddDoctype(text, "<!ENTITY % p SYSTEM \"" + forbidden_.url + "\"> %p;"); log += "doctype-parameter "; break;
            case 1: AddExternalDoctype(text, forbidden_.url); log += "doctype-external-url "; break;
            case 2: AddExternalDoctype(text, forbidden_.path); log += "doctype-external-path "; break;
            case 3:
                text.insert(rootTag, " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:noNamespaceSchemaLocation=\"" +
                                         forbidden_.url + "\"");
                log += "schema-location ";
                break;
            case 4:
                text.insert(RootStart(text), "<?xml-stylesheet type=\"text/xsl\" href=\"" + forbidden_.url + "\"?>");
                log += "stylesheet ";
                break;
            case 5:
                ReplaceText(text, span, "<xi:include xmlns:xi=\"http://www.w3.org/2001/XInclude\" href=\"" + forbidden_.url +
                                            "\" parse=\"text\"/>");
                log += "xinclude ";
                break;
            default:
                AddDoctype(text, "<!ELEMENT Package ANY><!ATTLIST Feature tag CDATA \"defaulted\">");
                log += "doctype-internal ";
                break;
            }
            break;
        }
        case 14: {
            static const char* const kEncodings[] = {"utf-16", "UTF-8", "iso-8859-1", "bogus-encoding", "ucs-4",
                                                     "windows-1252", "us-ascii", ""};
            const size_t declaration = text.find("encoding=\"");
            const std::string encoding = kEncodings[Pick(std::size(kEncodings))];
            if (declaration != std::string::npos) {
                const size_t close = text.find('"', declaration + 10);
                text.replace(declaration + 10, close - declaration - 10, encoding);
            } else {
                text.insert(0, "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?>");
            }
            log += "encoding-" + encoding + " ";
            break;
        }
        case 15:
            encodeAs_ = 1 + Pick(4);
            log += "bom-" + std::to_string(encodeAs_) + " ";
            break;
        case 16:
            text.resize(Pick(text.size()));
            log += "truncate ";
            return;
        case 17: {
            const size_t count = 1 + Pick(3);
            for (size_t i = 0; i < count; ++i) text.insert(Pick(text.size() + 1), 1, '\0');
            log += "nul ";
            break;
        }
        case 18: {
            const size_t count = 1 + Pick(4);
            for (size_t i = 0; i < count && !text.empty(); ++i) text[Pick(text.size())] = static_cast<char>(Pick(256));
            log += "flip ";
            break;
        }
        case 19:
            text.insert(span.tagEnd - (text[span.tagEnd - 2] == '/' ? 2 : 1), Chance(2) ? " unknown=\"1\"" : " platform=\"x64\"");
            text.insert(span.end, Chance(2) ? "<Unknown/>" : "<FileOperation operation=\"copy\" sha256=\"" +
                                                                 std::string(64, 'A') + "\">extra.dll</FileOperation>");
            log += "unknown-node ";
            break;
        case 20: {
            static const char* const kRoots[] = {"Feature", "FileOperation", "package", "Configuration", "Package"};
            const std::vector<Span> all = Elements(text);
            if (all.empty()) break;
            const Span root = all.front();
            const std::string name = kRoots[Pick(std::size(kRoots))];
            const size_t closeAt = text.rfind("</" + root.name + ">");
            if (closeAt != std::string::npos && closeAt > root.begin) text.replace(closeAt + 2, root.name.size(), name);
            text.replace(root.begin + 1, root.name.size(), name);
            log += "root-" + name + " ";
            break;
        }
        case 21:
            text.insert(span.end, Chance(2) ? "<!-- a comment -- with dashes -->" : "<?pi data?>");
            log += "comment-pi ";
            break;
        case 22: {
            static const size_t kCounts[] = {100, 511, 512, 513, 5000};
            const size_t count = kCounts[Pick(std::size(kCounts))];
            std::string many;
            for (size_t i = 0; i < count; ++i) many += " a" + std::to_string(i) + "=\"v\"";
            text.insert(span.begin + 1 + span.name.size(), many);
            log += "attributes-" + std::to_string(count) + " ";
            break;
        }
        default: {
            static const char* const kTexts[] = {"", " ", "..\\x.dll", "a:b.dll", "con", "x\xC3\xA9.dll", "&#x10FFFF;",
                                                 "&#xD800;", "2147483648", "-2147483649", "  42abc", "$INSTALL_PATH"};
            ReplaceText(text, span, kTexts[Pick(std::size(kTexts))]);
            log += "junk-text ";
            break;
        }
        }
    }

    std::string Encode(const std::string& text) const {
        switch (encodeAs_) {
        case 1: return "\xEF\xBB\xBF" + text;
        case 2: return "\xFF\xFE" + Utf16(text, false);
        case 3: return "\xFE\xFF" + Utf16(text, true);
        case 4: return "\xFF\xFE" + text;   // a UTF-16 mark in front of UTF-8 bytes
        default: return text;
        }
    }

private:
    static std::string Utf16(const std::string& text, bool bigEndian) {
        const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
        std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
        if (length > 0) ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
        std::string out;
        out.reserve(wide.size() * 2);
        for (wchar_t c : wide) {
            const char low = static_cast<char>(c & 0xFF);
            const char high = static_cast<char>((c >> 8) & 0xFF);
            out.push_back(bigEndian ? high : low);
            out.push_back(bigEndian ? low : high);
        }
        return out;
    }

    // The element's content becomes `content` (an empty element gets an end tag).
    static void ReplaceText(std::string& text, const Span& span, const std::string& content) {
        if (span.end == span.tagEnd) {
            const size_t slash = span.tagEnd - 2;
            text.replace(slash, 2, ">" + content + "</" + span.name + ">");
        } else {
            const size_t closeAt = span.end - span.name.size() - 3;
            text.replace(span.tagEnd, closeAt - span.tagEnd, content);
        }
    }

    static size_t RootStart(const std::string& text) {
        const std::vector<Span> all = Elements(text);
        return all.empty() ? 0 : all.front().begin;
    }

    static std::string RootName(const std::string& text) {
        const std::vector<Span> all = Elements(text);
        return all.empty() ? std::string("Package") : all.front().name;
    }

    // The entity declarations go into a DOCTYPE placed before the root element; one already
    // there takes them into its internal subset.
    static void AddDoctype(std::string& text, const std::string& subset) {
        const size_t existing = text.find("<!DOCTYPE");
        if (existing != std::string::npos) {
            const size_t bracket = text.find('[', existing);
            if (bracket != std::string::npos) {
                text.insert(bracket + 1, subset);
                return;
            }
        }
        text.insert(RootStart(text), "<!DOCTYPE " + RootName(text) + " [" + subset + "]>\n");
    }

    static void AddExternalDoctype(std::string& text, const std::string& system) {
        text.insert(RootStart(text), "<!DOCTYPE " + RootName(text) + " SYSTEM \"" + system + "\">\n");
    }

    Random& random_;
    const ForbiddenFile& forbidden_;
    size_t encodeAs_ = 0;
};

} // namespace

std::vector<SeedDocument> LoadSeedDocuments(const std::wstring& directory) {
    std::vector<SeedDocument> seeds;
    WIN32_FIND_DATAW found{};
    HANDLE search = ::FindFirstFileW((directory + L"\\*.xml").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return seeds;
    do {
        SeedDocument seed;
        seed.name = Campaign::Utf8(found.cFileName);
        seed.text = FillPlaceholders(ReadFileBytes(directory + L"\\" + found.cFileName));
        seed.configuration = seed.text.find("<Configuration") != std::string::npos;
        if (!seed.text.empty()) seeds.push_back(seed);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    std::sort(seeds.begin(), seeds.end(), [](const SeedDocument& a, const SeedDocument& b) { return a.name < b.name; });
    return seeds;
}

ULONGLONG LastAccess(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<ULONGLONG>(data.ftLastAccessTime.dwHighDateTime) << 32) | data.ftLastAccessTime.dwLowDateTime;
}

void AgeLastAccess(const std::wstring& path) {
    UniqueFileHandle file(::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    if (!file) return;
    SYSTEMTIME old{};
    old.wYear = 2001;
    old.wMonth = 1;
    old.wDay = 1;
    FILETIME time{};
    ::SystemTimeToFileTime(&old, &time);
    ::SetFileTime(file.get(), nullptr, &time, nullptr);
}

MutatedDocument MutateDocument(const SeedDocument& seed, Random& random, const ForbiddenFile& forbidden) {
    Mutator mutator(random, forbidden);
    MutatedDocument document;
    document.configuration = seed.configuration;
    std::string text = seed.text;
    std::string log = seed.name + ": ";
    const size_t rounds = mutator.Chance(8) ? 0 : 1 + mutator.Pick(3);
    for (size_t i = 0; i < rounds && !text.empty(); ++i) {
        mutator.Apply(text, log);
        if (text.size() > 40u * 1024 * 1024) break;
    }
    if (rounds == 0) log += "unchanged ";
    document.bytes = mutator.Encode(text);
    document.mutations = log;
    return document;
}
