#pragma once
// Accessors that bind a validated element into the fields of a plain object, and the generic
// loader of a whole document into a root object.
//
// A bound class T provides:
//     static const wchar_t* ElementName();
//     void Bind(const XmlNode& node);
// and a root class in addition:
//     static const wchar_t* SchemaName();   // "install.xsd", "nvxcrvconfig.xsd"
#include <windows.h>
#include <memory>
#include <string>
#include <vector>
#include "xml/XmlDocument.h"

// Attribute value into a string field; absent gives the empty string.
void BindAttribute(const XmlNode& node, const wchar_t* name, std::wstring& field);
// True exactly when the attribute equals "true".
void BindBoolAttribute(const XmlNode& node, const wchar_t* name, bool& field);
// The element's own text.
void BindText(const XmlNode& node, std::wstring& field);
// The text of the first child element of that name; field unchanged when absent.
void BindChildText(const XmlNode& node, const wchar_t* child, std::wstring& field);
// The child's text converted like wcstol (saturating to 32 bits); 0 when absent.
void BindChildInt(const XmlNode& node, const wchar_t* child, long& field);
// The texts of all child elements of that name, appended.
void BindTextList(const XmlNode& node, const wchar_t* child, std::vector<std::wstring>& list);
// The element's own name.
void BindName(const XmlNode& node, std::wstring& field);

// Pure conversion used by BindChildInt.
long ParseLongLikeWcstol(const std::wstring& text);

// The embedded object binds from the first child element named T::ElementName(), if any.
template <typename T>
void BindChild(const XmlNode& node, T& object) {
    XmlNode child = node.SelectSingleNode(T::ElementName());
    if (!child.IsEmpty()) object.Bind(child);
}

// One new object per selected child element, in document order. `make` constructs the object.
template <typename T, typename Make>
void BindChildrenWith(const XmlNode& node, const wchar_t* xpath, std::vector<std::unique_ptr<T>>& out, Make make) {
    XmlNodeList list = node.SelectNodes(xpath);
    const long count = list.Length();
    for (long i = 0; i < count; ++i) {
        std::unique_ptr<T> object = make();
        object->Bind(list.Item(i));
        out.push_back(std::move(object));
    }
}

template <typename T>
void BindChildren(const XmlNode& node, std::vector<std::unique_ptr<T>>& out) {
    BindChildrenWith(node, T::ElementName(), out, [] { return std::make_unique<T>(); });
}

// Loads the document at `path`, validates it against the root class's embedded schema and binds
// the root element into `root`. On false `error` holds the reason (empty when the root element
// was not found).
bool DeserializeDocument(const std::wstring& path, const wchar_t* schemaName, const wchar_t* rootName,
                         XmlNode& rootElement, XmlDocument& document, std::wstring& error);

// An element whose values the schema accepts but that are unsafe to act on rejects the whole
// document while it is bound: `reason` names the element and says what is wrong. The first
// rejection of a binding is kept.
void RejectBinding(const std::wstring& reason);
// The rejection of the binding that ran since the last call (empty when none), and clears it.
std::wstring TakeBindingRejection();
// Rejects the binding when `problem` (a check's answer) is not empty.
void RejectIfUnsafe(const wchar_t* element, const wchar_t* what, const std::wstring& value, const std::wstring& problem);

template <typename Root>
bool Deserialize(const std::wstring& path, Root& root, std::wstring& error) {
    XmlDocument document;
    XmlNode element;
    if (!DeserializeDocument(path, Root::SchemaName(), Root::ElementName(), element, document, error)) return false;
    TakeBindingRejection();
    root.Bind(element);
    error = TakeBindingRejection();
    return error.empty();
}
