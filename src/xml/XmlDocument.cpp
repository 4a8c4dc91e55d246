#include "xml/XmlDocument.h"

#include "shell/Handles.h"
#include "shell/Text.h"
#include "xml/DocumentLimits.h"

#include <oleauto.h>
#include <cwchar>
#include <cwctype>
#include <cstring>
#include <map>
#include <new>

namespace {

// The SDK's msxml6.h is not available everywhere, and import libraries do not always carry the
// MSXML interface identifiers: the GUIDs are spelled out here.
const GUID kIidXmlDomDocument2 = {0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const GUID kIidXmlDomSchemaCollection = {0x373984C8, 0xB845, 0x449B, {0x91, 0xE7, 0x45, 0xAC, 0x83, 0x03, 0x6A, 0xDE}};
const GUID kClsidDomDocument60 = {0x88D96A05, 0xF192, 0x11D4, {0xA6, 0x5F, 0x00, 0x40, 0x96, 0x32, 0x51, 0xE5}};
const GUID kClsidDomDocument40 = {0xF5078F32, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}};
const GUID kClsidXmlSchemaCache60 = {0x88D96A07, 0xF192, 0x11D4, {0xA6, 0x5F, 0x00, 0x40, 0x96, 0x32, 0x51, 0xE5}};
const GUID kClsidXmlSchemaCache40 = {0xF5078F34, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}};

const WORD kSchemaResourceType = 1000;

bool g_forceMsxml40 = false;
std::map<std::wstring, std::string>& SchemaOverrides() {
    static std::map<std::wstring, std::string> overrides;
    return overrides;
}

// A COM call succeeds only when it is neither negative nor S_FALSE.
bool Succeeded(HRESULT hr) { return hr >= 0 && hr != S_FALSE; }

// Owner of one BSTR.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(const std::wstring& text)
        : b_(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {
        if (!b_) throw std::bad_alloc();
    }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { ::SysFreeString(b_); }

    BSTR get() const { return b_; }
    BSTR* put() { ::SysFreeString(b_); b_ = nullptr; return &b_; }
    std::wstring str() const { return b_ ? std::wstring(b_, ::SysStringLen(b_)) : std::wstring(); }

private:
    BSTR b_ = nullptr;
};

// Owner of one VARIANT.
class Variant {
public:
    Variant() { ::VariantInit(&v_); }
    explicit Variant(const std::wstring& text) : Variant() {
        v_.vt = VT_BSTR;
        v_.bstrVal = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        if (!v_.bstrVal) throw std::bad_alloc();
    }
    // Holds an interface pointer; adds its own reference.
    explicit Variant(IDispatch* dispatch) : Variant() {
        v_.vt = VT_DISPATCH;
        v_.pdispVal = dispatch;
        if (dispatch) dispatch->AddRef();
    }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    ~Variant() { ::VariantClear(&v_); }

    const VARIANT& get() const { return v_; }

private:
    VARIANT v_;
};

template <typename T>
ComPtr<T> CreateFirstAvailable(const GUID& preferred, const GUID& fallback, const GUID& iid, int& version) {
    ComPtr<T> object;
    if (!g_forceMsxml40 &&
        Succeeded(::CoCreateInstance(preferred, nullptr, CLSCTX_ALL, iid, object.put_void()))) {
        version = 6;
        return object;
    }
    if (Succeeded(::CoCreateInstance(fallback, nullptr, CLSCTX_ALL, iid, object.put_void()))) {
        version = 4;
        return object;
    }
    object.reset();
    version = 0;
    return object;
}

bool SetXPathSelection(IXMLDOMDocument2* document) {
    Bstr name(L"SelectionLanguage");
    Variant value(std::wstring(L"XPath"));
    return Succeeded(document->setProperty(name.get(), value.get()));
}

std::wstring ReasonOf(IXMLDOMParseError* error, long& code) {
    code = 0;
    if (!error) return {};
    error->get_errorCode(&code);
    Bstr reason;
    if (!Succeeded(error->get_reason(reason.put()))) return {};
    return reason.str();
}

// 0 when the file can be opened for reading, else the Win32 error.
DWORD OpenError(const std::wstring& path) {
    UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file ? ERROR_SUCCESS : ::GetLastError();
}

// "0x" and eight lower-case hexadecimal digits.
std::wstring HexCode(HRESULT code) {
    static const wchar_t kDigits[] = L"0123456789abcdef";
    const unsigned long value = static_cast<unsigned long>(code);
    std::wstring text = L"0x";
    for (int shift = 28; shift >= 0; shift -= 4) text += kDigits[(value >> shift) & 0xF];
    return text;
}

std::wstring UpperCase(const std::wstring& text) {
    std::wstring upper(text);
    for (wchar_t& c : upper) c = static_cast<wchar_t>(std::towupper(c));
    return upper;
}

} // namespace

// ---- XmlNode ----

XmlNode XmlNode::SelectSingleNode(const std::wstring& xpath) const {
    if (!node_) return {};
    Bstr query(xpath);
    ComPtr<IXMLDOMNode> found;
    if (!Succeeded(node_->selectSingleNode(query.get(), found.put())) || !found) return {};
    return XmlNode(std::move(found));
}

XmlNodeList XmlNode::SelectNodes(const std::wstring& xpath) const {
    if (!node_) return {};
    Bstr query(xpath);
    ComPtr<IXMLDOMNodeList> list;
    if (!Succeeded(node_->selectNodes(query.get(), list.put())) || !list) return {};
    return XmlNodeList(std::move(list));
}

std::wstring XmlNode::GetAttribute(const std::wstring& name) const {
    if (!node_) return {};
    ComPtr<IXMLDOMNamedNodeMap> attributes;
    if (!Succeeded(node_->get_attributes(attributes.put())) || !attributes) return {};
    Bstr attributeName(name);
    ComPtr<IXMLDOMNode> attribute;
    if (!Succeeded(attributes->getNamedItem(attributeName.get(), attribute.put())) || !attribute) return {};
    Bstr value;
    if (!Succeeded(attribute->get_text(value.put()))) return {};
    return value.str();
}

std::wstring XmlNode::GetText() const {
    if (!node_) return {};
    Bstr text;
    if (!Succeeded(node_->get_text(text.put()))) return {};
    return StripCdataMarkers(text.str());
}

std::wstring XmlNode::GetName() const {
    if (!node_) return {};
    Bstr name;
    if (!Succeeded(node_->get_nodeName(name.put()))) return {};
    return name.str();
}

std::wstring StripCdataMarkers(const std::wstring& text) {
    static const wchar_t kOpen[] = L"<![CDATA[";
    const size_t openLength = 9;
    const size_t closeLength = 3;
    if (text.compare(0, openLength, kOpen) != 0) return text;
    if (text.size() < openLength + closeLength) return {};
    return text.substr(openLength, text.size() - openLength - closeLength);
}

// ---- XmlNodeList ----

long XmlNodeList::Length() const {
    if (!list_) return 0;
    long length = 0;
    if (!Succeeded(list_->get_length(&length))) return 0;
    return length;
}

XmlNode XmlNodeList::Item(long index) const {
    if (!list_) return {};
    ComPtr<IXMLDOMNode> node;
    if (!Succeeded(list_->get_item(index, node.put())) || !node) return {};
    return XmlNode(std::move(node));
}

// ---- XmlDocument ----

bool XmlDocument::EnsureCreated() {
    if (created_) return true;
    document_ = CreateFirstAvailable<IXMLDOMDocument2>(kClsidDomDocument60, kClsidDomDocument40,
                                                       kIidXmlDomDocument2, version_);
    if (!document_) return false;
    created_ = true;
    return true;
}

bool XmlDocument::LoadText(const std::string& text) {
    document_.reset();
    schemas_.reset();
    created_ = false;
    version_ = 0;
    if (!EnsureCreated()) return false;

    std::wstring wide;
    if (!text.empty()) {
        const int length = ::MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
        if (length <= 0) return false;
        wide.resize(static_cast<size_t>(length));
        ::MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    }
    Bstr xml(wide);
    VARIANT_BOOL parsed = VARIANT_FALSE;
    if (!Succeeded(document_->loadXML(xml.get(), &parsed)) || parsed != VARIANT_TRUE) return false;
    SetXPathSelection(document_.get());
    return true;
}

bool XmlDocument::AttachSchema(const std::string& schemaText, const std::wstring& schemaName) {
    if (!EnsureCreated()) return false;

    int schemaVersion = 0;
    ComPtr<IXMLDOMSchemaCollection> schemas = CreateFirstAvailable<IXMLDOMSchemaCollection>(
        kClsidXmlSchemaCache60, kClsidXmlSchemaCache40, kIidXmlDomSchemaCollection, schemaVersion);
    if (!schemas) return false;

    XmlDocument schemaDocument;
    if (!schemaDocument.LoadText(schemaText)) return false;

    Bstr noNamespace(std::wstring{});
    Variant schemaNode(static_cast<IDispatch*>(schemaDocument.document_.get()));
    schemas->add(noNamespace.get(), schemaNode.get());
    Variant collection(static_cast<IDispatch*>(schemas.get()));
    document_->putref_schemas(collection.get());

    schemas_ = std::move(schemas);
    schemaName_ = schemaName;
    return true;
}

namespace {
// The whole file, read once: the limits are checked on these bytes and the parser parses the
// same bytes, so the document checked is the document loaded. False when the file cannot be
// opened or read here (the parser then reports why it cannot read it); `beyondLimits` is the
// reason the file's size or shape is beyond the document limits, empty when it is within them.
bool ReadDocument(const std::wstring& path, std::string& bytes, std::wstring& beyondLimits) {
    UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size)) return false;
    const DocumentLimits limits;
    beyondLimits = CheckDocumentSize(static_cast<unsigned long long>(size.QuadPart), limits);
    if (!beyondLimits.empty()) return true;
    bytes.assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty() && (!::ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr) ||
                           read != bytes.size())) {
        return false;
    }
    beyondLimits = CheckDocumentLimits(bytes, limits);
    return true;
}

// The bytes as a VARIANT holding a SAFEARRAY of bytes: the parser reads the encoding from them
// (byte-order mark, XML declaration) as it does from a file.
class ByteArrayVariant {
public:
    explicit ByteArrayVariant(const std::string& bytes) {
        ::VariantInit(&v_);
        SAFEARRAY* array = ::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
        if (!array) throw std::bad_alloc();
        void* data = nullptr;
        if (SUCCEEDED(::SafeArrayAccessData(array, &data))) {
            if (!bytes.empty()) memcpy(data, bytes.data(), bytes.size());
            ::SafeArrayUnaccessData(array);
        }
        v_.vt = VT_ARRAY | VT_UI1;
        v_.parray = array;
    }
    ByteArrayVariant(const ByteArrayVariant&) = delete;
    ByteArrayVariant& operator=(const ByteArrayVariant&) = delete;
    ~ByteArrayVariant() { ::VariantClear(&v_); }
    const VARIANT& get() const { return v_; }

private:
    VARIANT v_;
};
} // namespace

bool XmlDocument::LoadFile(const std::wstring& path, std::wstring& error) {
    std::string bytes;
    std::wstring beyondLimits;
    const bool read = ReadDocument(path, bytes, beyondLimits);
    if (!beyondLimits.empty()) {
        error = path + L" is refused: " + beyondLimits;
        return false;
    }
    if (!EnsureCreated()) {
        error = L"Failed to create DOMDocument";
        return false;
    }
    document_->put_resolveExternals(VARIANT_TRUE);
    document_->put_validateOnParse(VARIANT_TRUE);

    VARIANT_BOOL loaded = VARIANT_FALSE;
    HRESULT hr = S_OK;
    if (read) {
        ByteArrayVariant source(bytes);
        hr = document_->load(source.get(), &loaded);
    } else {
        Variant source(path);
        hr = document_->load(source.get(), &loaded);
    }
    if (!Succeeded(hr) || loaded != VARIANT_TRUE) {
        ComPtr<IXMLDOMParseError> parseError;
        long code = 0;
        long line = 0;
        long position = 0;
        std::wstring reason;
        if (Succeeded(document_->get_parseError(parseError.put()))) {
            reason = ReasonOf(parseError.get(), code);
            parseError->get_line(&line);
            parseError->get_linepos(&position);
        }
        error = LoadFailureText(path, reason, code != 0 ? code : hr, OpenError(path), line, position);
        return false;
    }
    if (!ValidateLoaded(error)) return false;
    SetXPathSelection(document_.get());
    return true;
}

bool XmlDocument::ValidateLoaded(std::wstring& error) {
    // Without a schema there is nothing to check against.
    if (!schemas_) return true;
    ComPtr<IXMLDOMParseError> validationError;
    const HRESULT hr = document_->validate(validationError.put());
    if (Succeeded(hr)) return true;
    long code = 0;
    error = ReasonOf(validationError.get(), code);
    if (error.empty()) error = ValidationFailureText(schemaName_, code != 0 ? static_cast<HRESULT>(code) : hr);
    return false;
}

XmlNode XmlDocument::Root() const {
    if (!document_) return {};
    IXMLDOMNode* node = document_.get();
    node->AddRef();
    return XmlNode(ComPtr<IXMLDOMNode>::Attach(node));
}

// ---- schemas ----

std::string LoadSchemaResource(const std::wstring& schemaName) {
    const std::wstring resourceName = UpperCase(schemaName);
    const auto& overrides = SchemaOverrides();
    const auto overridden = overrides.find(resourceName);
    if (overridden != overrides.end()) return overridden->second;

    HRSRC resource = ::FindResourceW(nullptr, resourceName.c_str(), MAKEINTRESOURCEW(kSchemaResourceType));
    if (!resource) return {};
    HGLOBAL loaded = ::LoadResource(nullptr, resource);
    if (!loaded) return {};
    const DWORD size = ::SizeofResource(nullptr, resource);
    const void* bytes = ::LockResource(loaded);
    if (!bytes || size == 0) return {};
    return std::string(static_cast<const char*>(bytes), size);
}

std::wstring ValidationFailureText(const std::wstring& schemaName, HRESULT code) {
    const std::wstring schema = schemaName.empty() ? std::wstring(L"its schema") : schemaName;
    return L"Document does not conform to " + schema + L" (error " + HexCode(code) + L")";
}

std::wstring LoadFailureText(const std::wstring& path, const std::wstring& reason, HRESULT code, DWORD openError,
                             long line, long position) {
    std::wstring trimmed = reason;
    while (!trimmed.empty() && iswspace(trimmed.back())) trimmed.pop_back();
    while (!trimmed.empty() && iswspace(trimmed.front())) trimmed.erase(trimmed.begin());
    if (!trimmed.empty() && _wcsicmp(trimmed.c_str(), L"error") != 0) return reason;

    if (openError != ERROR_SUCCESS) {
        std::wstring text = L"Cannot open " + path;
        const std::wstring message = SystemMessage(openError);
        if (!message.empty()) text += L": " + message;
        return text + L" (error " + std::to_wstring(openError) + L")";
    }
    std::wstring text = path + L" is not a well-formed XML document";
    if (line > 0) text += L" (line " + std::to_wstring(line) + L", position " + std::to_wstring(position) + L")";
    return text + L" (error " + HexCode(code) + L")";
}

void OverrideSchemaTextForTests(const std::wstring& schemaName, const std::string* text) {
    auto& overrides = SchemaOverrides();
    if (schemaName.empty()) {
        overrides.clear();
        return;
    }
    if (text) overrides[UpperCase(schemaName)] = *text;
    else overrides.erase(UpperCase(schemaName));
}

void ForceMsxml40ForTests(bool force) { g_forceMsxml40 = force; }
