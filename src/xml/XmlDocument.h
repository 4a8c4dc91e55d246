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
    bool AttachSchema(const std::string& schemaText);
    // Loads and validates the file; on failure `error` holds the parser's or validator's reason.
    bool LoadFile(const std::wstring& path, std::wstring& error);

    XmlNode Root() const;   // the document node

private:
    ComPtr<IXMLDOMDocument2> document_;
    ComPtr<IXMLDOMSchemaCollection> schemas_;
    bool created_ = false;
};

// The embedded schema named by its file name (resource type 1000, name in upper case);
// empty when the resource is missing.
std::string LoadSchemaResource(const std::wstring& schemaName);

// The text of the post-load validation failure when the validator gives no reason of its own.
std::wstring ValidationFailureText(const std::wstring& schemaName, HRESULT code);

// Makes a load use a given schema text instead of the executable's resource (tests only; an
// empty name restores the resources).
void OverrideSchemaTextForTests(const std::wstring& schemaName, const std::string* text);
