#pragma once
// The XML seam: a document in memory, selected with XPath 1.0 and written as UTF-8. The POSIX backend
// stands on pugixml, the Win32 one on MSXML 3. Both read the same files into the same tree: white space
// between elements is dropped (an element holding only white space keeps it), comments and processing
// instructions are not kept, and both write the same bytes. Nothing here throws.
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace norvale::platform {

// A node of an XmlDocument: an element, an attribute or character data. Empty when nothing was found.
// Valid while its document holds it; used under the same lock as its document.
class XmlNode {
 public:
  XmlNode();
  XmlNode(const XmlNode& other);
  XmlNode& operator=(const XmlNode& other);
  ~XmlNode();

  explicit operator bool() const;

  std::string Name() const;
  // The character data below the node in document order, as UTF-8; an attribute's value.
  std::string Text() const;
  // An element's first character-data child (where a settings element keeps its value); empty without one.
  std::string OwnText() const;
  // Replaces the first character-data child, adding one when there is none.
  bool SetOwnText(const std::string& utf8);
  // The first child element of that name.
  XmlNode Child(const std::string& name) const;
  XmlNode AppendChild(const std::string& name);
  bool RemoveChild(const XmlNode& child);

  struct Handle;  // the backend's node reference

 private:
  friend class XmlDocument;
  explicit XmlNode(std::unique_ptr<Handle> handle);
  std::unique_ptr<Handle> handle_;
};

class XmlDocument {
 public:
  // Files larger than this are not read.
  static constexpr size_t kMaxFileBytes = 64u << 20;

  XmlDocument();
  ~XmlDocument();
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;

  // Replace the document with the file's or the text's. False, leaving the document empty, for a file
  // that is missing, not a regular file, too large, or not well-formed XML.
  bool LoadFile(const std::string& path);
  bool LoadText(const std::string& text);
  // Replaces the document with one holding only a root element of that name.
  bool CreateRoot(const std::string& name);
  void Clear();
  bool IsEmpty() const;

  // The document element; empty for an empty document.
  XmlNode Root() const;
  // The nodes an XPath 1.0 expression selects from the document, in document order (also for a union).
  // Empty for a malformed expression or one that does not give nodes.
  std::vector<XmlNode> SelectNodes(const std::string& xpath) const;
  // The first of them in document order.
  XmlNode SelectNode(const std::string& xpath) const;

  // The document as UTF-8: the declaration <?xml version='1.0' encoding='utf-8'?> on its own line (any
  // declaration it was read with is replaced), then the elements, each child on its own line indented by
  // two spaces per level, an element holding only text on one line. Empty for an empty document.
  std::string SaveText() const;

  struct Impl;  // the backend's document

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace norvale::platform
