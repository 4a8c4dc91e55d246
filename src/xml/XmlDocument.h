#pragma once
// Access to one XML document through the MSXML DOM (6.0, falling back to 4.0), validated against
// a schema held as text. COM must be initialised on the calling thread.
#include <windows.h>
#include <msxml2.h>
#include <string>
#include "shell/Handles.h"

class XmlNodeList;

// A handle to one DOM node (element, attribute or document). Every operation on an empty handle
// yields an empty result and no error.
class XmlNode {
public:
    XmlNode() = default;
    explicit XmlNode(ComPtr<IXMLDOMNode> node) : node_(std::move(node)) {}

    bool IsEmpty() const { return !node_; }

    // XPath expressions of two shapes: a bare element name (child elements of that name) and "./*".
    XmlNode SelectSingleNode(const std::wstring& xpath) const;
    XmlNodeList SelectNodes(const std::wstring& xpath) const;
    // Absent and empty attributes both give the empty string.
    std::wstring GetAttribute(const std::wstring& name) const;
    // The text content; a text that begins with "<![CDATA[" loses its first nine and last three
    // characters.
    std::wstring GetText() const;
    std::wstring GetName() const;

private:
    ComPtr<IXMLDOMNode> node_;
};

class XmlNodeList {
public:
    XmlNodeList() = default;
    explicit XmlNodeList(ComPtr<IXMLDOMNodeList> list) : list_(std::move(list)) {}

    long Length() const;
    XmlNode Item(long index) const;

private:
    ComPtr<IXMLDOMNodeList> list_;
};

class XmlDocument {
public:
    XmlDocument() = default;

    bool EnsureCreated();
    // Parses a schema (or any) text given in the thread's ANSI code page.
    bool LoadText(const std::string& text);
    // `schemaName` only names the schema in the text of a validation failure.
    bool AttachSchema(const std::string& schemaText, const std::wstring& schemaName = L"");
    // Loads and validates the file; on failure `error` holds the parser's or validator's reason.
    bool LoadFile(const std::wstring& path, std::wstring& error);

    XmlNode Root() const;   // the document node

    // 6 or 4: the MSXML version of the DOM document; 0 before it is created.
    int MsxmlVersion() const { return version_; }

private:
    // Checks the loaded document against the attached schema; the parser does not always do it
    // while loading.
    bool ValidateLoaded(std::wstring& error);

    ComPtr<IXMLDOMDocument2> document_;
    ComPtr<IXMLDOMSchemaCollection> schemas_;
    bool created_ = false;
    int version_ = 0;
    std::wstring schemaName_;
};

// The embedded schema named by its file name (resource type 1000, name in upper case);
// empty when the resource is missing. A text set by OverrideSchemaTextForTests comes first.
std::string LoadSchemaResource(const std::wstring& schemaName);

// The text of the post-load validation failure when the validator gives no reason of its own.
std::wstring ValidationFailureText(const std::wstring& schemaName, HRESULT code);

// The text of a load failure. The parser's reason stands when it says something; a missing or
// merely generic one ("error", as some parsers give for every failure) is replaced by what
// went wrong: the file could not be opened (`openError` is the Win32 code, 0 when it opens), or
// it is not well-formed XML (with the line and position when the parser knows them).
std::wstring LoadFailureText(const std::wstring& path, const std::wstring& reason, HRESULT code, DWORD openError,
                             long line, long position);

// Makes a load use a given schema text instead of the executable's resource (tests only; a null
// text restores that name's resource, an empty name restores all of them).
void OverrideSchemaTextForTests(const std::wstring& schemaName, const std::string* text);

// Makes documents and schema collections skip the MSXML 6.0 classes (tests only).
void ForceMsxml40ForTests(bool force);

// The text rule of XmlNode::GetText: a text that begins with "<![CDATA[" loses its first nine and
// last three characters (a shorter text becomes empty); any other text is unchanged.
std::wstring StripCdataMarkers(const std::wstring& text);
