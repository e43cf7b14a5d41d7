#include "runtime/CXMLSettingsAPI.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/Platform.h"
#include "runtime/StringUtils.h"

namespace norvale {

namespace {
// The element a slash-separated path names, starting with the root element's name. Missing elements
// below the root are created on request; a path naming another root finds nothing, as a document
// holds one root element. *parent receives the element above the one found.
platform::XmlNode FindElement(const platform::XmlDocument& document, const std::string& elementPath, bool create,
                              platform::XmlNode* parent = nullptr) {
  platform::XmlNode node;
  for (const std::string& name : Split(elementPath, "/")) {
    if (name.empty()) continue;
    if (!node) {
      node = document.Root();
      if (!node || node.Name() != name) return {};
      continue;
    }
    if (parent) *parent = node;
    platform::XmlNode child = node.Child(name);
    if (!child) {
      if (!create) return {};
      child = node.AppendChild(name);
      if (!child) return {};
    }
    node = child;
  }
  return node;
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
  if (!document_.LoadFile(path)) return false;
  path_ = path;
  openCount_ = 1;
  return true;
}

int CXMLSettingsAPI::Close() {
  RecursiveLockGuard guard(lock_);
  if (openCount_ > 0 && --openCount_ == 0) {
    document_.Clear();
    path_.clear();
  }
  return openCount_;
}

bool CXMLSettingsAPI::IsOpen() {
  RecursiveLockGuard guard(lock_);
  return openCount_ > 0;
}

bool CXMLSettingsAPI::SaveTo(const platform::XmlDocument& document, const std::string& path) {
  const std::string bytes = document.SaveText();
  if (bytes.empty()) return false;
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
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
  if (openCount_ == 0) return false;
  return SaveTo(document_, path_);
}

bool CXMLSettingsAPI::Create(const std::string& rootName, const std::string& fileName) {
  RecursiveLockGuard guard(lock_);
  if (rootName.empty() || fileName.empty()) return false;
  platform::XmlDocument document;
  if (!document.CreateRoot(rootName)) return false;
  return SaveTo(document, FullPath(fileName));
}

std::string CXMLSettingsAPI::RootName() {
  RecursiveLockGuard guard(lock_);
  return openCount_ > 0 ? document_.Root().Name() : std::string();
}

std::u16string CXMLSettingsAPI::ReadText(const std::string& elementPath) {
  RecursiveLockGuard guard(lock_);
  if (openCount_ == 0) return {};
  return Widen(FindElement(document_, elementPath, false).OwnText());
}

bool CXMLSettingsAPI::WriteText(const std::string& elementPath, const std::u16string& text) {
  RecursiveLockGuard guard(lock_);
  if (openCount_ == 0) return false;
  platform::XmlNode node = FindElement(document_, elementPath, true);
  return node && node.SetOwnText(Narrow(text));
}

bool CXMLSettingsAPI::Remove(const std::string& elementPath) {
  RecursiveLockGuard guard(lock_);
  if (openCount_ == 0) return false;
  platform::XmlNode parent;
  const platform::XmlNode node = FindElement(document_, elementPath, false, &parent);
  // The root element stays: a document without one could not be saved.
  return node && parent && parent.RemoveChild(node);
}

}  // namespace norvale
