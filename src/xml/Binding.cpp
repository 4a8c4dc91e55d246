#include "xml/Binding.h"

#include <climits>

void BindAttribute(const XmlNode& node, const wchar_t* name, std::wstring& field) {
    field = node.GetAttribute(name);
}

void BindBoolAttribute(const XmlNode& node, const wchar_t* name, bool& field) {
    field = node.GetAttribute(name) == L"true";
}

void BindText(const XmlNode& node, std::wstring& field) { field = node.GetText(); }

void BindChildText(const XmlNode& node, const wchar_t* child, std::wstring& field) {
    XmlNode element = node.SelectSingleNode(child);
    if (!element.IsEmpty()) field = element.GetText();
}

void BindChildInt(const XmlNode& node, const wchar_t* child, long& field) {
    std::wstring text;
    BindChildText(node, child, text);
    field = ParseLongLikeWcstol(text);
}

void BindTextList(const XmlNode& node, const wchar_t* child, std::vector<std::wstring>& list) {
    XmlNodeList items = node.SelectNodes(child);
    const long count = items.Length();
    for (long i = 0; i < count; ++i) list.push_back(items.Item(i).GetText());
}

void BindName(const XmlNode& node, std::wstring& field) { field = node.GetName(); }

long ParseLongLikeWcstol(const std::wstring& text) {
    size_t i = 0;
    const size_t n = text.size();
    // The white space the C library's isspace recognises.
    while (i < n && (text[i] == L' ' || (text[i] >= L'\t' && text[i] <= L'\r'))) ++i;
    bool negative = false;
    if (i < n && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    // Accumulate the magnitude as a negative number so that LONG_MIN itself is representable.
    long value = 0;
    bool overflow = false;
    for (; i < n && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        const long digit = text[i] - L'0';
        if (!overflow && (value < (LONG_MIN + digit) / 10)) overflow = true;
        if (!overflow) value = value * 10 - digit;
    }
    if (overflow) return negative ? LONG_MIN : LONG_MAX;
    if (negative) return value;
    return value == LONG_MIN ? LONG_MAX : -value;
}

bool DeserializeDocument(const std::wstring& path, const wchar_t* schemaName, const wchar_t* rootName,
                         XmlNode& rootElement, XmlDocument& document, std::wstring& error) {
    error.clear();
    const std::wstring schema = schemaName ? schemaName : L"";
    if (!schema.empty()) {
        const std::string schemaText = LoadSchemaResource(schema);
        if (schemaText.empty() || !document.AttachSchema(schemaText, schema)) {
            error = L"Fail to load schema for object.";
            return false;
        }
    }
    if (!document.LoadFile(path, error)) return false;
    rootElement = document.Root().SelectSingleNode(rootName);
    return !rootElement.IsEmpty();
}

namespace {
std::wstring g_bindingRejection;
}

void RejectBinding(const std::wstring& reason) {
    if (g_bindingRejection.empty()) g_bindingRejection = reason;
}

std::wstring TakeBindingRejection() {
    std::wstring reason;
    reason.swap(g_bindingRejection);
    return reason;
}

void RejectIfUnsafe(const wchar_t* element, const wchar_t* what, const std::wstring& value, const std::wstring& problem) {
    if (problem.empty()) return;
    RejectBinding(std::wstring(element) + L" " + what + L" \"" + value + L"\" is refused: " + problem + L".");
}
