// Read-only XPath access to the device configuration and the resolution database.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "runtime/CXMLParser.h"
#include "support/TempDir.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

class CXMLParserTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& content) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
  }

  zephrin::test::TempDir temp_{"zephrin-xmlparser"};
  const fs::path dir_ = temp_.Path();
};

const char kConfiguration[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<Configuration>\n"
    "  <Device address=\"1.2.3.4\" port=\"80\"><RTPMode>1</RTPMode><Name>front</Name></Device>\n"
    "  <Device address=\"1.2.3.4\" port=\"8080\"><RTPMode>2</RTPMode><Name>back</Name></Device>\n"
    "  <Device address=\"5.6.7.8\"><RTPMode>0</RTPMode><Name> spaced &amp; &lt;odd&gt; </Name></Device>\n"
    "  <Default><RTPMode>0</RTPMode></Default>\n"
    "  <Mixed>one<b>two</b>three</Mixed>\n"
    "  <Unicode>Gr\xC3\xBC\xC3\x9F"
    "e</Unicode>\n"
    "</Configuration>\n";

TEST_F(CXMLParserTest, AttributePredicatesSelectTheRightDevice) {
  CXMLParser parser;
  ASSERT_TRUE(parser.Open(Write("Zephrin.xml", kConfiguration)));
  EXPECT_EQ("1", parser.Text("Configuration/Device[@address=\"1.2.3.4\"][@port=\"80\"]/RTPMode"));
  EXPECT_EQ("2", parser.Text("Configuration/Device[@address=\"1.2.3.4\"][@port=\"8080\"]/RTPMode"));
  EXPECT_EQ("0", parser.Text("/Configuration/Device[@address='5.6.7.8']/RTPMode"));
  EXPECT_TRUE(parser.NodeExists("Configuration/Device[@address=\"1.2.3.4\"][@port=\"8080\"]"));
  EXPECT_FALSE(parser.NodeExists("Configuration/Device[@address=\"1.2.3.4\"][@port=\"81\"]"));
  EXPECT_EQ("", parser.Text("Configuration/Device[@address=\"9.9.9.9\"]/RTPMode"));
  EXPECT_EQ("8080", parser.Text("Configuration/Device[Name='back']/@port"));
}

TEST_F(CXMLParserTest, TextIsTheFirstMatchAndTextsFollowDocumentOrder) {
  CXMLParser parser;
  ASSERT_TRUE(parser.Open(Write("Zephrin.xml", kConfiguration)));
  EXPECT_EQ("1", parser.Text("Configuration/Device/RTPMode"));
  EXPECT_EQ((Strings{"1", "2", "0"}), parser.Texts("Configuration/Device/RTPMode"));
  // A union answers in document order whatever order its terms are written in.
  EXPECT_EQ((Strings{"front", "0"}), parser.Texts("Configuration/Default/RTPMode | Configuration/Device[1]/Name"));
  EXPECT_EQ("front", parser.Text("Configuration/Default/RTPMode | Configuration/Device[1]/Name"));
  EXPECT_TRUE(parser.Texts("Configuration/Nothing").empty());
}

TEST_F(CXMLParserTest, TextsKeepWhitespaceEntitiesNestedTextAndUtf8) {
  CXMLParser parser;
  ASSERT_TRUE(parser.Open(Write("Zephrin.xml", kConfiguration)));
  EXPECT_EQ(" spaced & <odd> ", parser.Text("Configuration/Device[@address='5.6.7.8']/Name"));
  EXPECT_EQ("onetwothree", parser.Text("Configuration/Mixed"));
  EXPECT_EQ(
      "Gr\xC3\xBC\xC3\x9F"
      "e",
      parser.Text("Configuration/Unicode"));
}

TEST_F(CXMLParserTest, MalformedQueriesAnswerEmpty) {
  CXMLParser parser;
  ASSERT_TRUE(parser.Open(Write("Zephrin.xml", kConfiguration)));
  EXPECT_FALSE(parser.NodeExists("Configuration/Device[@address="));
  EXPECT_EQ("", parser.Text("Configuration/Device[@address="));
  EXPECT_TRUE(parser.Texts("count(//Device)").empty());
  EXPECT_EQ("", parser.Text(""));
}

TEST_F(CXMLParserTest, MissingEmptyOrMalformedFilesDoNotOpen) {
  CXMLParser parser;
  EXPECT_FALSE(parser.Open(""));
  EXPECT_FALSE(parser.Open((dir_ / "absent.xml").string()));
  EXPECT_FALSE(parser.Open(dir_.string()));
  EXPECT_FALSE(parser.Open(Write("empty.xml", "")));
  EXPECT_FALSE(parser.Open(Write("broken.xml", "<Configuration><Device></Configuration>")));
  EXPECT_FALSE(parser.Open(Write("text.xml", "just some text")));
  EXPECT_FALSE(parser.IsOpen());
  EXPECT_FALSE(parser.NodeExists("Configuration"));
}

TEST_F(CXMLParserTest, ClosedParserAnswersEmptyAndCanOpenAgain) {
  CXMLParser parser;
  EXPECT_FALSE(parser.NodeExists("Configuration"));
  EXPECT_EQ("", parser.Text("Configuration/Default/RTPMode"));
  EXPECT_TRUE(parser.Texts("Configuration/Device/RTPMode").empty());

  const std::string path = Write("Zephrin.xml", kConfiguration);
  ASSERT_TRUE(parser.Open(path));
  EXPECT_TRUE(parser.Open((dir_ / "absent.xml").string())) << "already open: reports the open state";
  EXPECT_EQ("0", parser.Text("Configuration/Default/RTPMode"));
  parser.Close();
  EXPECT_FALSE(parser.IsOpen());
  EXPECT_EQ("", parser.Text("Configuration/Default/RTPMode"));
  EXPECT_TRUE(parser.Texts("Configuration/Device/RTPMode").empty());
  parser.Close();
  ASSERT_TRUE(parser.Open(path));
  EXPECT_EQ("0", parser.Text("Configuration/Default/RTPMode"));
}

}  // namespace
}  // namespace norvale
