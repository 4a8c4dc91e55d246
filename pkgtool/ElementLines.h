#pragma once
// The line on which each element of an XML document starts. The DOM does not tell where a node
// stands, so the document text is scanned once for start tags, and the tree of element names
// with their lines is matched to the bound objects by name and position among their siblings
// (selection by name keeps document order).
#include <string>
#include <vector>

struct ElementLine {
    std::wstring name;
    long line = 0;                       // 1-based
    std::vector<ElementLine> children;   // element children in document order
};

// The document node: its children are the root element(s). False (with an empty tree) for a
// text the scanner cannot follow; callers then give findings without line numbers.
// `bytes` is the file as stored: UTF-8 (with or without a byte-order mark) or UTF-16LE with its
// byte-order mark.
bool ScanElementLines(const std::string& bytes, ElementLine& document);

// The `index`-th child element named `name` ("*": any name), or null.
const ElementLine* ChildElement(const ElementLine* parent, const std::wstring& name, size_t index);

// The element's line, 0 for a null element.
inline long LineOf(const ElementLine* element) { return element ? element->line : 0; }
