#pragma once
// Helpers shared by the document and binding tests: documents written into a temporary folder,
// and loads against the embedded schemas.
#include <string>
#include "support/TestFiles.h"
#include "xml/XmlDocument.h"

// A sample document or schema copied next to the test program at build time.
inline std::wstring FixturePath(const std::wstring& name) {
    return TestProgramDirectory() + L"xml_fixtures\\" + name;
}

// Writes `text` as a UTF-8 file into `dir` and returns its path.
inline std::wstring WriteDocument(const TempDir& dir, const std::wstring& name, const std::wstring& text) {
    const std::wstring path = dir / name;
    WriteTextFile(path, text);
    return path;
}

// Loads the file validated against the named embedded schema.
inline bool LoadValidated(const std::wstring& schemaName, const std::wstring& path, std::wstring& error) {
    XmlDocument document;
    if (!document.AttachSchema(LoadSchemaResource(schemaName), schemaName)) {
        error = L"schema not attached";
        return false;
    }
    return document.LoadFile(path, error);
}

// A digest the installation schema accepts: 64 hexadecimal characters.
inline std::wstring Digest() { return std::wstring(64, L'A'); }
