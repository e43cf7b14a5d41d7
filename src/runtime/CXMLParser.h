#pragma once
#include <string>
#include <vector>

#include "platform/XmlDocument.h"
#include "runtime/RecursiveLock.h"

namespace norvale {

// XPath queries on an XML file opened read-only. Queries on a closed parser answer empty or false.
class CXMLParser {
 public:
  CXMLParser();
  virtual ~CXMLParser();

  bool Open(const std::string& path);
  bool IsOpen();
  bool NodeExists(const std::string& xpath);
  // Text of the first matching node, or empty.
  std::string Text(const std::string& xpath);
  // Texts of all matching nodes in document order.
  std::vector<std::string> Texts(const std::string& xpath);
  void Close();

 private:
  RecursiveLock lock_;
  platform::XmlDocument document_;
  bool open_ = false;
  std::string path_;
};

}  // namespace norvale
