#include "pkgtool/ElementLines.h"

#include <windows.h>
#include <cwchar>
#include "pkgtool/FileText.h"

namespace {

bool IsNameEnd(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'/' || c == L'>';
}

class Scanner {
public:
    explicit Scanner(const std::wstring& text) : text_(text) {}

    bool Run(ElementLine& document) {
        std::vector<ElementLine*> open{&document};
        while (position_ < text_.size()) {
            const size_t tag = text_.find(L'<', position_);
            if (tag == std::wstring::npos) break;
            Advance(tag);
            if (Starts(L"<!--")) {
                if (!SkipPast(L"-->")) return false;
            } else if (Starts(L"<![CDATA[")) {
                if (!SkipPast(L"]]>")) return false;
            } else if (Starts(L"<?")) {
                if (!SkipPast(L"?>")) return false;
            } else if (Starts(L"<!")) {
                // Entities declared here may expand to elements that stand nowhere in the text:
                // the lines of such a document are not known.
                const size_t from = position_;
                if (!SkipDeclaration() || text_.find(L"<!ENTITY", from) < position_) return false;
            } else if (Starts(L"</")) {
                if (open.size() < 2 || !SkipPast(L">")) return false;
                open.pop_back();
            } else {
                ElementLine element;
                element.line = line_;
                size_t end = position_ + 1;
                while (end < text_.size() && !IsNameEnd(text_[end])) ++end;
                element.name = text_.substr(position_ + 1, end - position_ - 1);
                if (element.name.empty()) return false;
                Advance(end);
                bool selfClosing = false;
                if (!SkipTagRest(selfClosing)) return false;
                open.back()->children.push_back(std::move(element));
                if (!selfClosing) open.push_back(&open.back()->children.back());
            }
        }
        return open.size() == 1;
    }

private:
    bool Starts(const wchar_t* prefix) const { return text_.compare(position_, wcslen(prefix), prefix) == 0; }

    // Moves to `to`, counting the line breaks passed.
    void Advance(size_t to) {
        for (; position_ < to && position_ < text_.size(); ++position_)
            if (text_[position_] == L'\n') ++line_;
    }

    bool SkipPast(const wchar_t* end) {
        const size_t at = text_.find(end, position_ + 1);
        if (at == std::wstring::npos) return false;
        Advance(at + wcslen(end));
        return true;
    }

    // "<!DOCTYPE ... [ internal subset ] >": brackets and quotes may hold ">".
    bool SkipDeclaration() {
        int depth = 0;
        wchar_t quote = 0;
        for (size_t i = position_ + 2; i < text_.size(); ++i) {
            const wchar_t c = text_[i];
            if (quote) {
                if (c == quote) quote = 0;
            } else if (c == L'"' || c == L'\'') {
                quote = c;
            } else if (c == L'[') {
                ++depth;
            } else if (c == L']') {
                --depth;
            } else if (c == L'>' && depth <= 0) {
                Advance(i + 1);
                return true;
            }
        }
        return false;
    }

    // The attributes up to the tag's ">"; attribute values may hold ">" and line breaks.
    bool SkipTagRest(bool& selfClosing) {
        wchar_t quote = 0;
        for (size_t i = position_; i < text_.size(); ++i) {
            const wchar_t c = text_[i];
            if (quote) {
                if (c == quote) quote = 0;
            } else if (c == L'"' || c == L'\'') {
                quote = c;
            } else if (c == L'>') {
                selfClosing = i > 0 && text_[i - 1] == L'/';
                Advance(i + 1);
                return true;
            }
        }
        return false;
    }

    const std::wstring& text_;
    size_t position_ = 0;
    long line_ = 1;
};

} // namespace

bool ScanElementLines(const std::string& bytes, ElementLine& document) {
    document = ElementLine{};
    const std::wstring text = TextFromFileBytes(bytes);
    if (!Scanner(text).Run(document)) {
        document = ElementLine{};
        return false;
    }
    return true;
}

const ElementLine* ChildElement(const ElementLine* parent, const std::wstring& name, size_t index) {
    if (!parent) return nullptr;
    for (const auto& child : parent->children) {
        if (name != L"*" && child.name != name) continue;
        if (index == 0) return &child;
        --index;
    }
    return nullptr;
}
