#pragma once
// Limits on the size and shape of a document, checked on its bytes before the parser sees it, so
// that an absurd document is refused at once with a reason that names the limit (the parser and
// the binding take minutes on some of them).
#include <cstddef>
#include <string>

struct DocumentLimits {
    size_t maxBytes = 16u * 1024 * 1024;
    size_t maxElements = 100000;
    size_t maxDepth = 100;
    size_t maxAttributesPerElement = 512;
    // No element of either schema declares more than five attributes, so a document within the
    // element limit that the schema accepts never has more than this many.
    size_t maxAttributes = 500000;
};

// The empty text when a file of `size` bytes is within the size limit, otherwise the reason.
std::wstring CheckDocumentSize(unsigned long long size, const DocumentLimits& limits = DocumentLimits());

// The empty text when `bytes` (the file as stored: UTF-8, or UTF-16 with its byte-order mark)
// stays within `limits`, otherwise the reason. Comments, CDATA, processing instructions and the
// DOCTYPE are skipped; the count is of start tags. A DOCTYPE that refers to anything outside the
// document (an external DTD, external entities or notations: SYSTEM or PUBLIC) is refused too, so
// that the parser never opens a file or address a document names.
std::wstring CheckDocumentLimits(const std::string& bytes, const DocumentLimits& limits = DocumentLimits());
