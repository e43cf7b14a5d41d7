#pragma once
#include <string>

#include "platform/XmlDocument.h"
#include "runtime/RecursiveLock.h"

namespace norvale {

// A settings file shared by its users through an open count: read, change and remove element text
// by slash-separated element paths relative to the document, and save as UTF-8.
class CXMLSettingsAPI {
 public:
  CXMLSettingsAPI();
  virtual ~CXMLSettingsAPI();

  // Directory the file name is placed in; empty means the host executable's directory.
  void SetBaseDirectory(const std::string& directory);
  // Opens fileName (or counts one more user of the open file). The file must exist, be non-empty
  // and parse.
  bool Open(const std::string& fileName);
  // Remaining open count; the document is released at zero.
  int Close();
  bool IsOpen();
  // Writes the document with the xml declaration (version 1.0, utf-8) to a temporary file beside it,
  // then renames it over the file, so a failed save never leaves a truncated file.
  bool Save();
  // A new document with the declaration and an empty root element, saved under fileName.
  bool Create(const std::string& rootName, const std::string& fileName);

  // Name of the document's root element; empty when closed.
  std::string RootName();

  std::u16string ReadText(const std::string& elementPath);
  // Creates missing elements below the root; never a second root element.
  bool WriteText(const std::string& elementPath, const std::u16string& text);
  bool Remove(const std::string& elementPath);

  std::string FullPath(const std::string& fileName);
  const std::string& Path() const { return path_; }

 private:
  static bool SaveTo(const platform::XmlDocument& document, const std::string& path);

  int openCount_ = 0;
  RecursiveLock lock_;
  platform::XmlDocument document_;
  std::string baseDirectory_;
  std::string path_;
};

}  // namespace norvale
