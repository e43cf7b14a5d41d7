#include "runtime/CXMLParser.h"

#include <pugixml.hpp>

#include <exception>
#include <filesystem>
#include <system_error>

namespace norvale {

namespace {
// The text of a node as the DOM reports it: the concatenated character data of all its descendants.
std::string NodeText(const pugi::xpath_node& node) {
  if (node.attribute()) return node.attribute().value();
  const pugi::xml_node n = node.node();
  if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) return n.value();
  std::string text;
  for (pugi::xml_node d = n.first_child(); d;) {
    if (d.type() == pugi::node_pcdata || d.type() == pugi::node_cdata) text += d.value();
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
}  // namespace

CXMLParser::CXMLParser() = default;
CXMLParser::~CXMLParser() { Close(); }

bool CXMLParser::Open(const std::string& path) {
  RecursiveLockGuard guard(lock_);
  if (open_) return true;
  // Only regular files: the loader would size a directory as a huge file.
  std::error_code ec;
  if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return false;
  try {
    auto document = std::make_unique<pugi::xml_document>();
    if (!document->load_file(path.c_str(), pugi::parse_default | pugi::parse_ws_pcdata_single)) return false;
    document_ = std::move(document);
  } catch (const std::exception&) {
    return false;
  }
  path_ = path;
  open_ = true;
  return true;
}

bool CXMLParser::IsOpen() {
  RecursiveLockGuard guard(lock_);
  return open_;
}

bool CXMLParser::NodeExists(const std::string& xpath) {
  RecursiveLockGuard guard(lock_);
  if (!open_) return false;
  try {
    return static_cast<bool>(document_->select_node(xpath.c_str()));
  } catch (const std::exception&) {
    return false;
  }
}

std::string CXMLParser::Text(const std::string& xpath) {
  RecursiveLockGuard guard(lock_);
  if (!open_) return {};
  try {
    const pugi::xpath_node node = document_->select_node(xpath.c_str());
    return node ? NodeText(node) : std::string();
  } catch (const std::exception&) {
    return {};
  }
}

std::vector<std::string> CXMLParser::Texts(const std::string& xpath) {
  RecursiveLockGuard guard(lock_);
  std::vector<std::string> texts;
  if (!open_) return texts;
  try {
    // A union is not necessarily in document order until sorted.
    pugi::xpath_node_set nodes = document_->select_nodes(xpath.c_str());
    nodes.sort();
    for (const pugi::xpath_node& node : nodes) texts.push_back(NodeText(node));
  } catch (const std::exception&) {
    texts.clear();
  }
  return texts;
}

void CXMLParser::Close() {
  RecursiveLockGuard guard(lock_);
  document_.reset();
  open_ = false;
  path_.clear();
}

}  // namespace norvale
