// The XML document behind the settings and database readers: the same tree and the same bytes on every
// system, XPath 1.0 selection, refusal of malformed input, and use from threads of any kind.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/XmlDocument.h"
#include "support/TempDir.h"

namespace norvale::platform {
namespace {

namespace fs = std::filesystem;

const char kStored[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
    "<!-- written by hand -->\r\n"
    "<?editor keep?>\r\n"
    "<Root a=\"x &amp; &lt;y&gt; &quot;q&quot; 'a'\">\r\n"
    "  <Empty/>\r\n"
    "  <Space>  </Space>\r\n"
    "  <Mixed>one<b>two</b>three<!-- note --></Mixed>\r\n"
    "  <Data><![CDATA[a <c>]]>z</Data>\r\n"
    "  <Text>old</Text>\r\n"
    "</Root>\r\n";

std::vector<std::string> Names(const std::vector<XmlNode>& nodes) {
  std::vector<std::string> names;
  for (const XmlNode& node : nodes) names.push_back(node.Name());
  return names;
}

TEST(XmlDocument, ChangesAreSavedInOneLayoutWithTheDeclarationReplaced) {
  XmlDocument document;
  ASSERT_TRUE(document.LoadText(kStored));
  XmlNode root = document.Root();
  ASSERT_TRUE(root.RemoveChild(root.Child("Empty")));
  ASSERT_TRUE(root.Child("Text").SetOwnText("new & <x> \"q\""));
  ASSERT_TRUE(root.Child("Data").SetOwnText("x]]>y"));
  ASSERT_TRUE(root.AppendChild("Added").AppendChild("Deep").SetOwnText("d"));
  ASSERT_TRUE(root.AppendChild("Blank").SetOwnText(""));
  EXPECT_EQ(
      "<?xml version='1.0' encoding='utf-8'?>\n"
      "<Root a=\"x &amp; &lt;y> &quot;q&quot; 'a'\">\n"
      "  <Space>  </Space>\n"
      "  <Mixed>one<b>two</b>three</Mixed>\n"
      "  <Data><![CDATA[x]]]]><![CDATA[>y]]>z</Data>\n"
      "  <Text>new &amp; &lt;x&gt; \"q\"</Text>\n"
      "  <Added>\n"
      "    <Deep>d</Deep>\n"
      "  </Added>\n"
      "  <Blank></Blank>\n"
      "</Root>\n",
      document.SaveText());

  XmlDocument created;
  ASSERT_TRUE(created.CreateRoot("eVision"));
  EXPECT_EQ("<?xml version='1.0' encoding='utf-8'?>\n<eVision />\n", created.SaveText());
}

TEST(XmlDocument, ReadsTheTreeWithoutCommentsOrLayoutSpace) {
  XmlDocument document;
  ASSERT_TRUE(document.LoadText(kStored));
  const XmlNode root = document.Root();
  EXPECT_EQ("Root", root.Name());
  EXPECT_EQ((std::vector<std::string>{"Empty", "Space", "Mixed", "Data", "Text"}),
            Names(document.SelectNodes("/Root/*")));
  EXPECT_TRUE(document.SelectNodes("//comment() | //processing-instruction()").empty());
  EXPECT_EQ("  ", root.Child("Space").Text()) << "white space an element holds alone is its value";
  EXPECT_EQ("onetwothree", root.Child("Mixed").Text());
  EXPECT_EQ("one", root.Child("Mixed").OwnText());
  EXPECT_EQ("a <c>z", root.Child("Data").Text());
  EXPECT_EQ("x & <y> \"q\" 'a'", document.SelectNode("/Root/@a").Text());
  EXPECT_EQ("", root.Child("Empty").Text());
  EXPECT_FALSE(root.Child("Nothing"));
}

TEST(XmlDocument, SelectsWithXPathInDocumentOrder) {
  XmlDocument document;
  ASSERT_TRUE(document.LoadText(
      "<C><D n='1' p='80'><M>1</M></D><D n='2'><M>2</M></D><D n='3' p='81'><M>3</M></D><X><M>x</M></X></C>"));
  EXPECT_EQ("3", document.SelectNode("C/D[last()]/M").Text());
  EXPECT_EQ("2", document.SelectNode("C/D[not(@p)]/M").Text());
  EXPECT_EQ("3", document.SelectNode("C/D[@n='3'][@p=\"81\"]/M").Text());
  const std::vector<XmlNode> union_ = document.SelectNodes("C/X/M | C/D[2]/@n | C/D[1]/M");
  ASSERT_EQ(3u, union_.size());
  EXPECT_EQ("1", union_[0].Text());
  EXPECT_EQ("2", union_[1].Text());
  EXPECT_EQ("x", union_[2].Text());
  EXPECT_EQ("1", document.SelectNode("C/X/M | C/D/M").Text()) << "the first in document order";
  EXPECT_TRUE(document.SelectNodes("count(//D)").empty());
  EXPECT_TRUE(document.SelectNodes("C/D[").empty());
  EXPECT_FALSE(document.SelectNode(""));
}

TEST(XmlDocument, MalformedInputIsRefusedAndLeavesNoDocument) {
  for (const char* text : {"", "   ", "just text", "<a>", "<a></b>", "<a/><b/>",
                           "<!DOCTYPE r [<!ENTITY e 'x'>]><r>&e;</r>", "<!DOCTYPE r><r/>"}) {
    XmlDocument document;
    ASSERT_TRUE(document.LoadText("<r><k>v</k></r>"));
    EXPECT_FALSE(document.LoadText(text)) << text;
    EXPECT_TRUE(document.IsEmpty()) << text;
    EXPECT_TRUE(document.SelectNodes("//*").empty()) << text;
    EXPECT_EQ("", document.SaveText()) << text;
  }
  const zephrin::test::TempDir temp("zephrin-xmldocument");
  const fs::path& dir = temp.Path();
  XmlDocument document;
  EXPECT_FALSE(document.LoadFile((dir / "absent.xml").string()));
  EXPECT_FALSE(document.LoadFile(dir.string()));
  EXPECT_FALSE(document.LoadFile(""));
  // The encoding a file declares is the one it is read in.
  std::ofstream(dir / "latin1.xml", std::ios::binary)
      << "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r>caf\xE9</r>";
  ASSERT_TRUE(document.LoadFile((dir / "latin1.xml").string()));
  EXPECT_EQ("caf\xC3\xA9", document.Root().Text());
  EXPECT_NE(std::string::npos, document.SaveText().find("<r>caf\xC3\xA9</r>"));
}

TEST(XmlDocument, ThreadsOfAnyKindShareOneDocumentInTurn) {
  // Each step on a new thread that has set nothing up for itself, as a host's threads may be.
  XmlDocument document;
  auto onThread = [](auto step) { std::thread(step).join(); };
  bool loaded = false;
  onThread([&] { loaded = document.LoadText("<r><a>1</a></r>"); });
  ASSERT_TRUE(loaded);
  std::string text;
  onThread([&] { text = document.SelectNode("r/a").Text(); });
  EXPECT_EQ("1", text);
  onThread([&] { document.Root().AppendChild("b").SetOwnText("2"); });
  onThread([&] { text = document.SaveText(); });
  EXPECT_EQ("<?xml version='1.0' encoding='utf-8'?>\n<r>\n  <a>1</a>\n  <b>2</b>\n</r>\n", text);
  onThread([&] { document.Clear(); });
  EXPECT_TRUE(document.IsEmpty());
}

}  // namespace
}  // namespace norvale::platform
