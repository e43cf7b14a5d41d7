#include "runtime/CXMLParser.h"

namespace norvale {

CXMLParser::CXMLParser() = default;
CXMLParser::~CXMLParser() { Close(); }

bool CXMLParser::Open(const std::string& path) {
  RecursiveLockGuard guard(lock_);
  if (open_) return true;
  if (!document_.LoadFile(path)) return false;
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
  return open_ && static_cast<bool>(document_.SelectNode(xpath));
}

std::string CXMLParser::Text(const std::string& xpath) {
  RecursiveLockGuard guard(lock_);
  if (!open_) return {};
  return document_.SelectNode(xpath).Text();
}

std::vector<std::string> CXMLParser::Texts(const std::string& xpath) {
  RecursiveLockGuard guard(lock_);
  std::vector<std::string> texts;
  if (!open_) return texts;
  for (const platform::XmlNode& node : document_.SelectNodes(xpath)) texts.push_back(node.Text());
  return texts;
}

void CXMLParser::Close() {
  RecursiveLockGuard guard(lock_);
  document_.Clear();
  open_ = false;
  path_.clear();
}

}  // namespace norvale
