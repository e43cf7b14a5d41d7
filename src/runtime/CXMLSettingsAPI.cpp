#include "runtime/CXMLSettingsAPI.h"

#include <pugixml.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/Platform.h"
#include "runtime/StringUtils.h"

namespace norvale {

namespace {
pugi::xml_node FindElement(pugi::xml_node node, const std::string& elementPath, bool create) {
  for (const std::string& name : Split(elementPath, "/")) {
    if (name.empty()) continue;
    pugi::xml_node child = node.child(name.c_str());
    if (!child) {
      // A document holds one root element: a path naming another root cannot be created.
      if (!create || (node.type() == pugi::node_document &&
                      node.find_child([](pugi::xml_node n) { return n.type() == pugi::node_element; })))
        return {};
      child = node.append_child(name.c_str());
      if (!child) return {};
    }
    node = child;
  }
  return node;
}

// The declaration every saved file starts with, byte for byte.
constexpr char kDeclaration[] = "<?xml version='1.0' encoding='utf-8'?>\n";

// The document as UTF-8 under kDeclaration; a declaration the file was loaded with is replaced.
void Write(const pugi::xml_document& document, std::ostream& out) {
  out << kDeclaration;
  for (pugi::xml_node node = document.first_child(); node; node = node.next_sibling())
    if (node.type() != pugi::node_declaration) node.print(out, "  ", pugi::format_default, pugi::encoding_utf8);
}
}  // namespace

CXMLSettingsAPI::CXMLSettingsAPI() = default;
CXMLSettingsAPI::~CXMLSettingsAPI() = default;

void CXMLSettingsAPI::SetBaseDirectory(const std::string& directory) {
  RecursiveLockGuard guard(lock_);
  baseDirectory_ = directory;
}

std::string CXMLSettingsAPI::FullPath(const std::string& fileName) {
  RecursiveLockGuard guard(lock_);
  std::string directory = baseDirectory_;
  if (directory.empty()) {
    const std::string exe = platform::ExecutablePath(499);
    const size_t slash = exe.find_last_of(platform::kPathSeparator);
    directory = slash == std::string::npos ? std::string() : exe.substr(0, slash + 1);
  } else if (directory.back() != platform::kPathSeparator) {
    directory += platform::kPathSeparator;
  }
  return directory + fileName;
}

bool CXMLSettingsAPI::Open(const std::string& fileName) {
  RecursiveLockGuard guard(lock_);
  if (openCount_ > 0) {
    ++openCount_;
    return true;
  }
  const std::string path = FullPath(fileName);
  std::error_code ec;
  if (fileName.empty() || !std::filesystem::is_regular_file(path, ec) || std::filesystem::file_size(path, ec) == 0 ||
      ec)
    return false;
  auto document = std::make_unique<pugi::xml_document>();
  if (!document->load_file(path.c_str(), pugi::parse_default | pugi::parse_declaration | pugi::parse_ws_pcdata_single))
    return false;
  if (!document->document_element()) return false;
  document_ = std::move(document);
  path_ = path;
  openCount_ = 1;
  return true;
}

int CXMLSettingsAPI::Close() {
  RecursiveLockGuard guard(lock_);
  if (openCount_ > 0 && --openCount_ == 0) {
    document_.reset();
    path_.clear();
  }
  return openCount_;
}

bool CXMLSettingsAPI::IsOpen() {
  RecursiveLockGuard guard(lock_);
  return openCount_ > 0;
}

bool CXMLSettingsAPI::SaveTo(pugi::xml_document& document, const std::string& path) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    Write(document, out);
    out.close();
    if (out.fail()) {
      std::remove(temporary.c_str());
      return false;
    }
  }
  std::error_code ec;
  std::filesystem::rename(temporary, path, ec);
  if (ec) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

bool CXMLSettingsAPI::Save() {
  RecursiveLockGuard guard(lock_);
  if (!document_) return false;
  return SaveTo(*document_, path_);
}

bool CXMLSettingsAPI::Create(const std::string& rootName, const std::string& fileName) {
  RecursiveLockGuard guard(lock_);
  if (rootName.empty() || fileName.empty()) return false;
  pugi::xml_document document;
  if (!document.append_child(rootName.c_str())) return false;
  return SaveTo(document, FullPath(fileName));
}

std::string CXMLSettingsAPI::RootName() {
  RecursiveLockGuard guard(lock_);
  return document_ ? std::string(document_->document_element().name()) : std::string();
}

std::u16string CXMLSettingsAPI::ReadText(const std::string& elementPath) {
  RecursiveLockGuard guard(lock_);
  if (!document_) return {};
  const pugi::xml_node node = FindElement(*document_, elementPath, false);
  return node ? Widen(node.text().get()) : std::u16string();
}

bool CXMLSettingsAPI::WriteText(const std::string& elementPath, const std::u16string& text) {
  RecursiveLockGuard guard(lock_);
  if (!document_) return false;
  pugi::xml_node node = FindElement(*document_, elementPath, true);
  return node && node.text().set(Narrow(text).c_str());
}

bool CXMLSettingsAPI::Remove(const std::string& elementPath) {
  RecursiveLockGuard guard(lock_);
  if (!document_) return false;
  const pugi::xml_node node = FindElement(*document_, elementPath, false);
  if (!node || node == document_->document_element()) return false;
  return node.parent().remove_child(node);
}

}  // namespace norvale
