// The XML seam on pugixml.
#include "platform/XmlDocument.h"

#include <pugixml.hpp>

#include <exception>
#include <filesystem>
#include <sstream>
#include <system_error>

namespace norvale::platform {

struct XmlNode::Handle {
  pugi::xml_node node;
  pugi::xml_attribute attribute;
};

struct XmlDocument::Impl {
  pugi::xml_document document;
};

namespace {

constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_ws_pcdata_single;

bool IsCharacterData(const pugi::xml_node& node) {
  return node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata;
}

// A well-formed document has exactly one element at the top (the parser itself accepts several).
bool HasOneRoot(const pugi::xml_document& document) {
  int elements = 0;
  for (pugi::xml_node n = document.first_child(); n; n = n.next_sibling())
    if (n.type() == pugi::node_element) ++elements;
  return elements == 1;
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
  return handle_->attribute ? handle_->attribute.name() : handle_->node.name();
}

std::string XmlNode::Text() const {
  if (!handle_) return {};
  if (handle_->attribute) return handle_->attribute.value();
  const pugi::xml_node n = handle_->node;
  if (IsCharacterData(n)) return n.value();
  std::string text;
  for (pugi::xml_node d = n.first_child(); d;) {
    if (IsCharacterData(d)) text += d.value();
    if (d.first_child()) {
      d = d.first_child();
      continue;
    }
    while (d && d != n && !d.next_sibling()) d = d.parent();
    if (!d || d == n) break;
    d = d.next_sibling();
  }
  return text;
}

std::string XmlNode::OwnText() const {
  if (!handle_ || handle_->attribute || handle_->node.type() != pugi::node_element) return {};
  return handle_->node.text().get();
}

bool XmlNode::SetOwnText(const std::string& utf8) {
  if (!handle_ || handle_->attribute || handle_->node.type() != pugi::node_element) return false;
  return handle_->node.text().set(utf8.c_str());
}

XmlNode XmlNode::Child(const std::string& name) const {
  if (!handle_ || handle_->attribute) return {};
  for (pugi::xml_node c = handle_->node.first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_element && name == c.name()) return XmlNode(std::make_unique<Handle>(Handle{c, {}}));
  return {};
}

XmlNode XmlNode::AppendChild(const std::string& name) {
  if (!handle_ || handle_->attribute || handle_->node.type() != pugi::node_element || name.empty()) return {};
  const pugi::xml_node child = handle_->node.append_child(name.c_str());
  return child ? XmlNode(std::make_unique<Handle>(Handle{child, {}})) : XmlNode();
}

bool XmlNode::RemoveChild(const XmlNode& child) {
  if (!handle_ || handle_->attribute || !child.handle_ || child.handle_->attribute) return false;
  if (child.handle_->node.parent() != handle_->node) return false;
  return handle_->node.remove_child(child.handle_->node);
}

XmlDocument::XmlDocument() : impl_(std::make_unique<Impl>()) {}
XmlDocument::~XmlDocument() = default;

bool XmlDocument::LoadFile(const std::string& path) {
  impl_->document.reset();
  // Only regular files of a sane size: the loader would size a directory as a huge file.
  std::error_code ec;
  if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return false;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec || size > kMaxFileBytes) return false;
  try {
    if (impl_->document.load_file(path.c_str(), kParseOptions) && HasOneRoot(impl_->document)) return true;
  } catch (const std::exception&) {
  }
  impl_->document.reset();
  return false;
}

bool XmlDocument::LoadText(const std::string& text) {
  impl_->document.reset();
  try {
    if (text.size() <= kMaxFileBytes &&
        impl_->document.load_buffer(text.data(), text.size(), kParseOptions, pugi::encoding_auto) &&
        HasOneRoot(impl_->document))
      return true;
  } catch (const std::exception&) {
  }
  impl_->document.reset();
  return false;
}

bool XmlDocument::CreateRoot(const std::string& name) {
  impl_->document.reset();
  if (!name.empty() && impl_->document.append_child(name.c_str())) return true;
  impl_->document.reset();
  return false;
}

void XmlDocument::Clear() { impl_->document.reset(); }

bool XmlDocument::IsEmpty() const { return !impl_->document.document_element(); }

XmlNode XmlDocument::Root() const {
  const pugi::xml_node root = impl_->document.document_element();
  return root ? XmlNode(std::make_unique<XmlNode::Handle>(XmlNode::Handle{root, {}})) : XmlNode();
}

std::vector<XmlNode> XmlDocument::SelectNodes(const std::string& xpath) const {
  std::vector<XmlNode> nodes;
  try {
    pugi::xpath_node_set selected = impl_->document.select_nodes(xpath.c_str());
    // A union is not in document order until sorted.
    selected.sort();
    nodes.reserve(selected.size());
    for (const pugi::xpath_node& n : selected)
      nodes.push_back(XmlNode(std::make_unique<XmlNode::Handle>(XmlNode::Handle{n.node(), n.attribute()})));
  } catch (const std::exception&) {
    nodes.clear();
  }
  return nodes;
}

XmlNode XmlDocument::SelectNode(const std::string& xpath) const {
  try {
    const pugi::xpath_node n = impl_->document.select_node(xpath.c_str());
    if (n) return XmlNode(std::make_unique<XmlNode::Handle>(XmlNode::Handle{n.node(), n.attribute()}));
  } catch (const std::exception&) {
  }
  return {};
}

std::string XmlDocument::SaveText() const {
  if (IsEmpty()) return {};
  std::ostringstream out;
  out << "<?xml version='1.0' encoding='utf-8'?>\n";
  for (pugi::xml_node node = impl_->document.first_child(); node; node = node.next_sibling())
    if (node.type() != pugi::node_declaration) node.print(out, "  ", pugi::format_default, pugi::encoding_utf8);
  return out.str();
}

}  // namespace norvale::platform
