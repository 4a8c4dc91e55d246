#include "operations/NameRules.h"

#include <vector>

namespace {

bool IsForbiddenCharacter(wchar_t c) {
    return c < 0x20 || c == L'"' || c == L'<' || c == L'>' || c == L'|' || c == L'?' || c == L'*';
}

std::vector<std::wstring> Segments(const std::wstring& text, size_t from) {
    std::vector<std::wstring> segments;
    std::wstring current;
    for (size_t i = from; i < text.size(); ++i) {
        if (text[i] == L'\\' || text[i] == L'/') {
            segments.push_back(current);
            current.clear();
        } else {
            current += text[i];
        }
    }
    segments.push_back(current);
    return segments;
}

// "..": one level up; "." and empty segments stay; anything else one level down.
bool ClimbsAboveBase(const std::vector<std::wstring>& segments) {
    long depth = 0;
    for (const auto& segment : segments) {
        if (segment == L"..") {
            if (--depth < 0) return true;
        } else if (!segment.empty() && segment != L".") {
            ++depth;
        }
    }
    return false;
}

std::wstring CheckCharacters(const std::wstring& text, size_t colonAllowedAt) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (IsForbiddenCharacter(text[i])) return L"it holds a character that Windows does not allow in names";
        if (text[i] == L':' && i != colonAllowedAt) return L"it holds a drive or stream separator (\":\")";
    }
    return std::wstring();
}

bool StartsWithDrive(const std::wstring& text) {
    return text.size() >= 2 && text[1] == L':' &&
           ((text[0] >= L'A' && text[0] <= L'Z') || (text[0] >= L'a' && text[0] <= L'z'));
}

} // namespace

std::wstring CheckRelativeName(const std::wstring& text) {
    if (!text.empty() && (text[0] == L'\\' || text[0] == L'/')) return L"it is an absolute path";
    if (StartsWithDrive(text)) return L"it names a drive";
    std::wstring reason = CheckCharacters(text, std::wstring::npos);
    if (!reason.empty()) return reason;
    if (ClimbsAboveBase(Segments(text, 0))) return L"it climbs above its folder (\"..\")";
    return std::wstring();
}

std::wstring CheckPathText(const std::wstring& text) {
    std::wstring reason = CheckCharacters(text, StartsWithDrive(text) ? 1 : std::wstring::npos);
    if (!reason.empty()) return reason;
    // The first segment is the base: a drive, a variable, a share's server (with its share), or
    // the first folder of a relative path.
    std::vector<std::wstring> segments = Segments(text, 0);
    size_t base = 1;
    if (text.compare(0, 2, L"\\\\") == 0) base = 4;   // "", "", server, share
    if (segments.size() <= base) return std::wstring();
    if (segments[0] == L"..") return L"it climbs above its folder (\"..\")";
    if (ClimbsAboveBase(std::vector<std::wstring>(segments.begin() + static_cast<long>(base), segments.end()))) {
        return L"it climbs above its folder (\"..\")";
    }
    return std::wstring();
}
