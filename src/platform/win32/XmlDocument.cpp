// The XML seam on MSXML 3 ("Msxml2.DOMDocument.3.0"), reading and writing the same trees and bytes as the
// pugixml backend: files are handed to the parser as bytes (so their declared encoding counts), the tree
// is trimmed after loading as pugixml trims it while parsing, and the document is written by our own
// writer in pugixml's layout rather than by MSXML's save.
#include "platform/XmlDocument.h"

#include <windows.h>

#include <msxml2.h>
#include <objbase.h>
#include <oleauto.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <system_error>
#include <utility>

namespace norvale::platform {

namespace {

// {F5078F32-C551-11D3-89B9-0000F81FE221}, the class of "Msxml2.DOMDocument.3.0".
constexpr CLSID kDomDocument30 = {0xf5078f32, 0xc551, 0x11d3, {0x89, 0xb9, 0x00, 0x00, 0xf8, 0x1f, 0xe2, 0x21}};
// {2933BF95-7B36-11D2-B20E-00C04F983E60}, IXMLDOMDocument2 (setProperty, for XPath).
constexpr IID kIXMLDOMDocument2 = {0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

// COM on the calling thread for the length of one call, balanced at its end. A thread the host already
// set up keeps its apartment: RPC_E_CHANGED_MODE only says it is a single-threaded one, where MSXML
// works as well.
class ComScope {
 public:
  ComScope() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
  bool Usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

 private:
  HRESULT result_;
};

// A counted COM reference.
template <typename T>
class Ref {
 public:
  Ref() = default;
  Ref(const Ref& other) : p_(other.p_) {
    if (p_) p_->AddRef();
  }
  Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  Ref& operator=(Ref other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~Ref() {
    if (p_) p_->Release();
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For an out parameter: drops what is held first.
  T** Put() {
    *this = Ref();
    return &p_;
  }

 private:
  T* p_ = nullptr;
};

class Bstr {
 public:
  explicit Bstr(const std::string& utf8) {
    // Up to the first NUL, as the text would be read from a C string.
    const int bytes = static_cast<int>(std::char_traits<char>::length(utf8.c_str()));
    const int chars = bytes ? MultiByteToWideChar(CP_UTF8, 0, utf8.data(), bytes, nullptr, 0) : 0;
    text_ = SysAllocStringLen(nullptr, static_cast<UINT>(chars));
    if (text_ && chars) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), bytes, text_, chars);
  }
  Bstr() = default;
  ~Bstr() { SysFreeString(text_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return text_; }
  BSTR* Put() {
    SysFreeString(text_);
    text_ = nullptr;
    return &text_;
  }

 private:
  BSTR text_ = nullptr;
};

std::string Narrow(const wchar_t* text, UINT length) {
  if (!text || length == 0) return {};
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
  if (bytes > 0) WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), utf8.data(), bytes, nullptr, nullptr);
  return utf8;
}

std::string Narrow(BSTR text) { return Narrow(text, SysStringLen(text)); }

// COM may unload the in-process servers it loaded once the last apartment of the process closes, which a
// ComScope can do while documents live on; msxml3.dll therefore stays loaded for good once used.
void KeepMsxmlLoaded() {
  static std::once_flag once;
  std::call_once(once, [] {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN, L"msxml3.dll", &module);
  });
}

DOMNodeType TypeOf(IXMLDOMNode* node) {
  DOMNodeType type = NODE_INVALID;
  if (!node || FAILED(node->get_nodeType(&type))) return NODE_INVALID;
  return type;
}

bool IsCharacterData(DOMNodeType type) { return type == NODE_TEXT || type == NODE_CDATA_SECTION; }

std::string NameOf(IXMLDOMNode* node) {
  Bstr name;
  if (!node || FAILED(node->get_nodeName(name.Put()))) return {};
  return Narrow(name.get());
}

std::string ValueOf(IXMLDOMNode* node) {
  VARIANT value;
  VariantInit(&value);
  std::string text;
  if (node && SUCCEEDED(node->get_nodeValue(&value)) && V_VT(&value) == VT_BSTR) text = Narrow(V_BSTR(&value));
  VariantClear(&value);
  return text;
}

Ref<IXMLDOMNode> FirstChild(IXMLDOMNode* node) {
  Ref<IXMLDOMNode> child;
  if (node && node->get_firstChild(child.Put()) != S_OK) return {};
  return child;
}

Ref<IXMLDOMNode> NextSibling(IXMLDOMNode* node) {
  Ref<IXMLDOMNode> next;
  if (node && node->get_nextSibling(next.Put()) != S_OK) return {};
  return next;
}

Ref<IXMLDOMNode> PreviousSibling(IXMLDOMNode* node) {
  Ref<IXMLDOMNode> previous;
  if (node && node->get_previousSibling(previous.Put()) != S_OK) return {};
  return previous;
}

Ref<IXMLDOMNode> Parent(IXMLDOMNode* node) {
  Ref<IXMLDOMNode> parent;
  if (node && node->get_parentNode(parent.Put()) != S_OK) return {};
  return parent;
}

bool Remove(IXMLDOMNode* parent, IXMLDOMNode* child) {
  Ref<IXMLDOMNode> removed;
  return parent && SUCCEEDED(parent->removeChild(child, removed.Put()));
}

bool IsWhiteSpace(const std::string& text) { return text.find_first_not_of(" \t\r\n") == std::string::npos; }

// The next node of a depth-first walk below a node `depth` levels up; `depth` follows the walk and the
// result is empty when the walk is back at its start.
Ref<IXMLDOMNode> NextInWalk(Ref<IXMLDOMNode> node, int& depth, bool descend) {
  if (descend) {
    if (Ref<IXMLDOMNode> child = FirstChild(node.get())) {
      ++depth;
      return child;
    }
  }
  while (depth > 0) {
    if (Ref<IXMLDOMNode> next = NextSibling(node.get())) return next;
    node = Parent(node.get());
    --depth;
  }
  return {};
}

// The tree as pugixml keeps it: no comments or processing instructions, and white-space text only where
// it is all an element holds (it ends at the closing tag and nothing kept comes before it). Walks without
// recursion, so a deeply nested file cannot exhaust the stack.
void Trim(IXMLDOMDocument2* document) {
  int depth = 1;
  Ref<IXMLDOMNode> node = FirstChild(document);
  while (node) {
    const DOMNodeType type = TypeOf(node.get());
    Ref<IXMLDOMNode> next = NextSibling(node.get());
    const bool drop = type == NODE_COMMENT || type == NODE_PROCESSING_INSTRUCTION ||
                      (type == NODE_TEXT && (next || PreviousSibling(node.get())) && IsWhiteSpace(ValueOf(node.get())));
    if (!drop) {
      node = NextInWalk(node, depth, true);
      continue;
    }
    Ref<IXMLDOMNode> parent = Parent(node.get());
    Remove(parent.get(), node.get());
    if (next) {
      node = next;
    } else {
      --depth;
      node = NextInWalk(parent, depth, false);
    }
  }
}

// Escapes as pugixml writes: &, < and > in text (and " in attribute values); control characters as
// two-digit character references, in attribute values also tab, line feed and carriage return.
void AppendEscaped(std::string& out, const std::string& text, bool attribute) {
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>' && !attribute)
      out += "&gt;";
    else if (c == '"' && attribute)
      out += "&quot;";
    else if (u < 32 && (attribute || (c != '\t' && c != '\n' && c != '\r')))
      out += {'&', '#', static_cast<char>('0' + u / 10), static_cast<char>('0' + u % 10), ';'};
    else
      out += c;
  }
}

void AppendCData(std::string& out, const std::string& text) {
  out += "<![CDATA[";
  size_t start = 0;
  for (size_t end; (end = text.find("]]>", start)) != std::string::npos; start = end + 2) {
    out.append(text, start, end + 2 - start);
    out += "]]><![CDATA[";
  }
  out.append(text, start, std::string::npos);
  out += "]]>";
}

void AppendStartTag(std::string& out, IXMLDOMNode* element) {
  out += '<';
  out += NameOf(element);
  Ref<IXMLDOMNamedNodeMap> attributes;
  long count = 0;
  if (element->get_attributes(attributes.Put()) == S_OK && attributes && SUCCEEDED(attributes->get_length(&count))) {
    for (long i = 0; i < count; ++i) {
      Ref<IXMLDOMNode> attribute;
      if (attributes->get_item(i, attribute.Put()) != S_OK) continue;
      out += ' ';
      out += NameOf(attribute.get());
      out += "=\"";
      AppendEscaped(out, ValueOf(attribute.get()), true);
      out += '"';
    }
  }
}

// pugixml's layout: a child element starts a new line indented by two spaces per level unless text came
// right before it; an element without children is written <name />.
void AppendElement(std::string& out, Ref<IXMLDOMNode> node) {
  constexpr unsigned kNewLine = 1, kIndent = 2;
  unsigned layout = kIndent;
  int depth = 0;
  do {
    const DOMNodeType type = TypeOf(node.get());
    bool descend = false;
    if (IsCharacterData(type)) {
      if (type == NODE_TEXT)
        AppendEscaped(out, ValueOf(node.get()), false);
      else
        AppendCData(out, ValueOf(node.get()));
      layout = 0;
    } else if (type == NODE_ELEMENT) {
      if (layout & kNewLine) out += '\n';
      if (layout & kIndent) out.append(static_cast<size_t>(depth) * 2, ' ');
      layout = kNewLine | kIndent;
      AppendStartTag(out, node.get());
      if (FirstChild(node.get())) {
        out += '>';
        descend = true;
      } else {
        out += " />";
      }
    }
    if (descend) {
      node = FirstChild(node.get());
      ++depth;
      continue;
    }
    // On to the next sibling, closing each element left on the way up.
    while (depth > 0) {
      if (Ref<IXMLDOMNode> next = NextSibling(node.get())) {
        node = next;
        break;
      }
      node = Parent(node.get());
      --depth;
      if (layout & kNewLine) out += '\n';
      if (layout & kIndent) out.append(static_cast<size_t>(depth) * 2, ' ');
      out += "</" + NameOf(node.get()) + ">";
      layout = kNewLine | kIndent;
    }
  } while (depth > 0);
  if (layout & kNewLine) out += '\n';
}

}  // namespace

struct XmlNode::Handle {
  Ref<IXMLDOMNode> node;
};

struct XmlDocument::Impl {
  Ref<IXMLDOMDocument2> document;
};

namespace {

XmlNode::Handle* NewHandle(Ref<IXMLDOMNode> node) { return node ? new XmlNode::Handle{std::move(node)} : nullptr; }

Ref<IXMLDOMDocument2> NewDocument() {
  Ref<IXMLDOMDocument2> document;
  if (FAILED(CoCreateInstance(kDomDocument30, nullptr, CLSCTX_INPROC_SERVER, kIXMLDOMDocument2,
                              reinterpret_cast<void**>(document.Put()))) ||
      !document)
    return {};
  KeepMsxmlLoaded();
  // Version 3 selects with XSL patterns unless told otherwise. Nothing is fetched or validated:
  // the files are our own and outside references are not followed.
  Bstr language("SelectionLanguage");
  VARIANT xpath;
  VariantInit(&xpath);
  V_VT(&xpath) = VT_BSTR;
  V_BSTR(&xpath) = SysAllocString(L"XPath");
  const HRESULT selection = document->setProperty(language.get(), xpath);
  VariantClear(&xpath);
  if (FAILED(selection)) return {};
  document->put_async(VARIANT_FALSE);
  document->put_validateOnParse(VARIANT_FALSE);
  document->put_resolveExternals(VARIANT_FALSE);
  document->put_preserveWhiteSpace(VARIANT_TRUE);  // trimmed after loading, as pugixml trims
  return document;
}

Ref<IXMLDOMNode> AsNode(IUnknown* object) {
  Ref<IXMLDOMNode> node;
  if (!object || FAILED(object->QueryInterface(IID_IXMLDOMNode, reinterpret_cast<void**>(node.Put())))) return {};
  return node;
}

Ref<IXMLDOMDocument> OwnerOf(IXMLDOMNode* node) {
  Ref<IXMLDOMDocument> owner;
  if (!node || node->get_ownerDocument(owner.Put()) != S_OK) return {};
  return owner;
}

Ref<IXMLDOMNode> Root(IXMLDOMDocument2* document) {
  Ref<IXMLDOMElement> root;
  if (!document || document->get_documentElement(root.Put()) != S_OK) return {};
  return AsNode(root.get());
}

}  // namespace

XmlNode::XmlNode() = default;
XmlNode::XmlNode(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
XmlNode::XmlNode(const XmlNode& other) : handle_(other.handle_ ? std::make_unique<Handle>(*other.handle_) : nullptr) {}
XmlNode& XmlNode::operator=(const XmlNode& other) {
  if (this != &other) handle_ = other.handle_ ? std::make_unique<Handle>(*other.handle_) : nullptr;
  return *this;
}
XmlNode::~XmlNode() = default;

XmlNode::operator bool() const { return handle_ != nullptr; }

std::string XmlNode::Name() const {
  if (!handle_) return {};
  ComScope com;
  return NameOf(handle_->node.get());
}

std::string XmlNode::Text() const {
  if (!handle_) return {};
  ComScope com;
  IXMLDOMNode* const start = handle_->node.get();
  const DOMNodeType type = TypeOf(start);
  if (type == NODE_ATTRIBUTE || IsCharacterData(type)) return ValueOf(start);
  std::string text;
  int depth = 0;
  for (Ref<IXMLDOMNode> node = NextInWalk(handle_->node, depth, true); node;) {
    const DOMNodeType t = TypeOf(node.get());
    if (IsCharacterData(t)) text += ValueOf(node.get());
    node = NextInWalk(node, depth, true);
  }
  return text;
}

std::string XmlNode::OwnText() const {
  if (!handle_) return {};
  ComScope com;
  if (TypeOf(handle_->node.get()) != NODE_ELEMENT) return {};
  for (Ref<IXMLDOMNode> child = FirstChild(handle_->node.get()); child; child = NextSibling(child.get()))
    if (IsCharacterData(TypeOf(child.get()))) return ValueOf(child.get());
  return {};
}

bool XmlNode::SetOwnText(const std::string& utf8) {
  if (!handle_) return false;
  ComScope com;
  IXMLDOMNode* const element = handle_->node.get();
  if (!com.Usable() || TypeOf(element) != NODE_ELEMENT) return false;
  Bstr text(utf8);
  if (!text.get()) return false;
  for (Ref<IXMLDOMNode> child = FirstChild(element); child; child = NextSibling(child.get())) {
    if (!IsCharacterData(TypeOf(child.get()))) continue;
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = text.get();  // still owned by text
    return SUCCEEDED(child->put_nodeValue(value));
  }
  Ref<IXMLDOMDocument> owner = OwnerOf(element);
  Ref<IXMLDOMText> created;
  Ref<IXMLDOMNode> appended;
  return owner && owner->createTextNode(text.get(), created.Put()) == S_OK && created &&
         SUCCEEDED(element->appendChild(AsNode(created.get()).get(), appended.Put()));
}

XmlNode XmlNode::Child(const std::string& name) const {
  if (!handle_) return {};
  ComScope com;
  for (Ref<IXMLDOMNode> child = FirstChild(handle_->node.get()); child; child = NextSibling(child.get()))
    if (TypeOf(child.get()) == NODE_ELEMENT && NameOf(child.get()) == name)
      return XmlNode(std::unique_ptr<Handle>(NewHandle(child)));
  return {};
}

XmlNode XmlNode::AppendChild(const std::string& name) {
  if (!handle_ || name.empty()) return {};
  ComScope com;
  IXMLDOMNode* const element = handle_->node.get();
  if (!com.Usable() || TypeOf(element) != NODE_ELEMENT) return {};
  Ref<IXMLDOMDocument> owner = OwnerOf(element);
  Bstr tag(name);
  Ref<IXMLDOMElement> created;
  Ref<IXMLDOMNode> appended;
  if (!owner || !tag.get() || owner->createElement(tag.get(), created.Put()) != S_OK || !created ||
      FAILED(element->appendChild(AsNode(created.get()).get(), appended.Put())) || !appended)
    return {};
  return XmlNode(std::unique_ptr<Handle>(NewHandle(appended)));
}

bool XmlNode::RemoveChild(const XmlNode& child) {
  if (!handle_ || !child.handle_) return false;
  ComScope com;
  if (TypeOf(handle_->node.get()) != NODE_ELEMENT) return false;
  return Remove(handle_->node.get(), child.handle_->node.get());
}

XmlDocument::XmlDocument() : impl_(std::make_unique<Impl>()) {}

XmlDocument::~XmlDocument() { Clear(); }

namespace {

bool Load(XmlDocument::Impl& impl, const std::string& bytes) {
  if (bytes.empty() || bytes.size() > XmlDocument::kMaxFileBytes) return false;
  Ref<IXMLDOMDocument2> document = NewDocument();
  if (!document) return false;
  // Handed over as bytes, so that the parser reads the encoding the document declares.
  Ref<IStream> stream;
  ULONG written = 0;
  LARGE_INTEGER start{};
  if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put())) || !stream ||
      FAILED(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written)) || written != bytes.size() ||
      FAILED(stream->Seek(start, STREAM_SEEK_SET, nullptr)))
    return false;
  VARIANT source;
  VariantInit(&source);
  V_VT(&source) = VT_UNKNOWN;
  V_UNKNOWN(&source) = stream.get();  // still owned by stream
  VARIANT_BOOL loaded = VARIANT_FALSE;
  if (FAILED(document->load(source, &loaded)) || loaded != VARIANT_TRUE || !Root(document.get())) return false;
  Trim(document.get());
  impl.document = std::move(document);
  return true;
}

}  // namespace

bool XmlDocument::LoadFile(const std::string& path) {
  Clear();
  std::error_code ec;
  if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return false;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec || size == 0 || size > kMaxFileBytes) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string bytes(static_cast<size_t>(size), '\0');
  if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size())) ||
      in.peek() != std::ifstream::traits_type::eof())
    return false;  // changed while being read
  ComScope com;
  return com.Usable() && Load(*impl_, bytes);
}

bool XmlDocument::LoadText(const std::string& text) {
  Clear();
  ComScope com;
  return com.Usable() && Load(*impl_, text);
}

bool XmlDocument::CreateRoot(const std::string& name) {
  Clear();
  if (name.empty()) return false;
  ComScope com;
  if (!com.Usable()) return false;
  Ref<IXMLDOMDocument2> document = NewDocument();
  Bstr tag(name);
  Ref<IXMLDOMElement> root;
  Ref<IXMLDOMNode> appended;
  if (!document || !tag.get() || document->createElement(tag.get(), root.Put()) != S_OK || !root ||
      FAILED(document->appendChild(AsNode(root.get()).get(), appended.Put())))
    return false;
  impl_->document = std::move(document);
  return true;
}

void XmlDocument::Clear() {
  if (!impl_->document) return;
  ComScope com;
  impl_->document = Ref<IXMLDOMDocument2>();
}

bool XmlDocument::IsEmpty() const { return !impl_->document; }

XmlNode XmlDocument::Root() const {
  ComScope com;
  return XmlNode(std::unique_ptr<XmlNode::Handle>(NewHandle(norvale::platform::Root(impl_->document.get()))));
}

std::vector<XmlNode> XmlDocument::SelectNodes(const std::string& xpath) const {
  std::vector<XmlNode> nodes;
  if (!impl_->document) return nodes;
  ComScope com;
  Bstr query(xpath);
  Ref<IXMLDOMNodeList> list;
  long count = 0;
  if (!com.Usable() || !query.get() || impl_->document->selectNodes(query.get(), list.Put()) != S_OK || !list ||
      FAILED(list->get_length(&count)))
    return nodes;
  nodes.reserve(static_cast<size_t>(count));
  for (long i = 0; i < count; ++i) {
    Ref<IXMLDOMNode> node;
    if (list->get_item(i, node.Put()) == S_OK && node)
      nodes.push_back(XmlNode(std::unique_ptr<XmlNode::Handle>(NewHandle(node))));
  }
  return nodes;
}

XmlNode XmlDocument::SelectNode(const std::string& xpath) const {
  if (!impl_->document) return {};
  ComScope com;
  Bstr query(xpath);
  Ref<IXMLDOMNode> node;
  if (!com.Usable() || !query.get() || impl_->document->selectSingleNode(query.get(), node.Put()) != S_OK) return {};
  return XmlNode(std::unique_ptr<XmlNode::Handle>(NewHandle(node)));
}

std::string XmlDocument::SaveText() const {
  if (!impl_->document) return {};
  ComScope com;
  Ref<IXMLDOMNode> root = norvale::platform::Root(impl_->document.get());
  if (!root) return {};
  std::string out = "<?xml version='1.0' encoding='utf-8'?>\n";
  AppendElement(out, std::move(root));
  return out;
}

}  // namespace norvale::platform
