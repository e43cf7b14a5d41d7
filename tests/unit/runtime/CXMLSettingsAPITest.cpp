// The settings file behind the PTZ preset names: shared opening, element text, UTF-8 saving.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/Platform.h"
#include "runtime/CXMLParser.h"
#include "runtime/CXMLSettingsAPI.h"
#include "support/TempDir.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;

const char kDeclaration[] = "<?xml version='1.0' encoding='utf-8'?>";

class CXMLSettingsAPITest : public ::testing::Test {
 protected:
  void SetUp() override { settings_.SetBaseDirectory(dir_.string()); }

  std::string Read(const std::string& name) {
    std::ifstream in(dir_ / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  void Write(const std::string& name, const std::string& content) {
    std::ofstream(dir_ / name, std::ios::binary) << content;
  }

  zephrin::test::TempDir temp_{"zephrin-settings"};
  const fs::path dir_ = temp_.Path();
  CXMLSettingsAPI settings_;
};

TEST_F(CXMLSettingsAPITest, CreateWritesAUtf8FileWithTheDeclarationAndAnEmptyRoot) {
  ASSERT_TRUE(settings_.Create("eVision", "presets.xml"));
  const std::string bytes = Read("presets.xml");
  EXPECT_EQ(0u, bytes.rfind(kDeclaration, 0)) << bytes;
  EXPECT_NE(std::string::npos, bytes.find("<eVision"));
  EXPECT_EQ(std::string::npos, bytes.find("\xEF\xBB\xBF")) << "no byte-order mark";
  EXPECT_FALSE(settings_.IsOpen()) << "create only writes the file";
  ASSERT_TRUE(settings_.Open("presets.xml"));
  EXPECT_EQ(u"", settings_.ReadText("eVision/PtzChannel01/Preposition000/Name"));
}

TEST_F(CXMLSettingsAPITest, WriteCreatesMissingElementsAndSaveKeepsTextIntact) {
  ASSERT_TRUE(settings_.Create("eVision", "presets.xml"));
  ASSERT_TRUE(settings_.Open("presets.xml"));
  const std::u16string name = u"Gate <north> & \"main\" 'door' \u00C4\u20AC\U0001F4F7";
  ASSERT_TRUE(settings_.WriteText("eVision/PtzChannel01/Preposition000/Name", name));
  ASSERT_TRUE(settings_.WriteText("eVision/PtzChannel01/Preposition000/Slot", u"3"));
  ASSERT_TRUE(settings_.WriteText("/eVision/PtzChannel01/Preposition001/Name", u"second"));
  EXPECT_EQ(name, settings_.ReadText("eVision/PtzChannel01/Preposition000/Name"));
  ASSERT_TRUE(settings_.Save());
  EXPECT_EQ(0, settings_.Close());

  const std::string bytes = Read("presets.xml");
  EXPECT_EQ(0u, bytes.rfind(kDeclaration, 0));
  EXPECT_NE(std::string::npos, bytes.find("\xC3\x84\xE2\x82\xAC\xF0\x9F\x93\xB7")) << "stored as UTF-8";
  EXPECT_FALSE(fs::exists(dir_ / "presets.xml.tmp"));

  CXMLSettingsAPI reopened;
  reopened.SetBaseDirectory(dir_.string());
  ASSERT_TRUE(reopened.Open("presets.xml"));
  EXPECT_EQ(name, reopened.ReadText("eVision/PtzChannel01/Preposition000/Name"));
  EXPECT_EQ(u"3", reopened.ReadText("eVision/PtzChannel01/Preposition000/Slot"));
  EXPECT_EQ(u"second", reopened.ReadText("eVision/PtzChannel01/Preposition001/Name"));

  // Any XML reader sees the same document.
  CXMLParser parser;
  ASSERT_TRUE(parser.Open((dir_ / "presets.xml").string()));
  EXPECT_EQ("3", parser.Text("eVision/PtzChannel01/Preposition000/Slot"));
}

TEST_F(CXMLSettingsAPITest, OverwritingTextReplacesIt) {
  ASSERT_TRUE(settings_.Create("eVision", "presets.xml"));
  ASSERT_TRUE(settings_.Open("presets.xml"));
  ASSERT_TRUE(settings_.WriteText("eVision/A/Name", u"first"));
  ASSERT_TRUE(settings_.WriteText("eVision/A/Name", u"second"));
  ASSERT_TRUE(settings_.WriteText("eVision/A/Name", u""));
  EXPECT_EQ(u"", settings_.ReadText("eVision/A/Name"));
  ASSERT_TRUE(settings_.WriteText("eVision/A/Name", u"third"));
  ASSERT_TRUE(settings_.Save());
  const std::string bytes = Read("presets.xml");
  EXPECT_EQ(std::string::npos, bytes.find("first"));
  EXPECT_EQ(std::string::npos, bytes.find("second"));
  EXPECT_NE(std::string::npos, bytes.find("third"));
}

TEST_F(CXMLSettingsAPITest, WriteOutsideTheRootElementIsRefused) {
  ASSERT_TRUE(settings_.Create("eVision", "presets.xml"));
  ASSERT_TRUE(settings_.Open("presets.xml"));
  EXPECT_FALSE(settings_.WriteText("Other/PtzChannel01/Name", u"x")) << "a document has one root";
  ASSERT_TRUE(settings_.Save());
  settings_.Close();
  ASSERT_TRUE(settings_.Open("presets.xml")) << "the saved file still parses";
}

TEST_F(CXMLSettingsAPITest, RemoveTakesTheElementWithEverythingBelowIt) {
  ASSERT_TRUE(settings_.Create("eVision", "presets.xml"));
  ASSERT_TRUE(settings_.Open("presets.xml"));
  ASSERT_TRUE(settings_.WriteText("eVision/PtzChannel01/Preposition000/Name", u"a"));
  ASSERT_TRUE(settings_.WriteText("eVision/PtzChannel02/Preposition000/Name", u"b"));
  EXPECT_TRUE(settings_.Remove("eVision/PtzChannel01"));
  EXPECT_EQ(u"", settings_.ReadText("eVision/PtzChannel01/Preposition000/Name"));
  EXPECT_EQ(u"b", settings_.ReadText("eVision/PtzChannel02/Preposition000/Name"));
  EXPECT_FALSE(settings_.Remove("eVision/PtzChannel01")) << "already gone";
  EXPECT_FALSE(settings_.Remove("eVision/Nothing/Below"));
  ASSERT_TRUE(settings_.Save());
  EXPECT_EQ(std::string::npos, Read("presets.xml").find("PtzChannel01"));
}

TEST_F(CXMLSettingsAPITest, OpenCountIsSharedByItsUsers) {
  ASSERT_TRUE(settings_.Create("eVision", "presets.xml"));
  ASSERT_TRUE(settings_.Open("presets.xml"));
  ASSERT_TRUE(settings_.Open("presets.xml"));
  ASSERT_TRUE(settings_.WriteText("eVision/X", u"kept"));
  EXPECT_EQ(1, settings_.Close());
  EXPECT_TRUE(settings_.IsOpen());
  EXPECT_EQ(u"kept", settings_.ReadText("eVision/X")) << "the document lives while a user remains";
  EXPECT_EQ(0, settings_.Close());
  EXPECT_FALSE(settings_.IsOpen());
  EXPECT_EQ(u"", settings_.ReadText("eVision/X"));
  EXPECT_FALSE(settings_.WriteText("eVision/X", u"y"));
  EXPECT_FALSE(settings_.Save());
  EXPECT_FALSE(settings_.Remove("eVision/X"));
  EXPECT_EQ(0, settings_.Close());
}

TEST_F(CXMLSettingsAPITest, MissingEmptyOrBrokenFilesDoNotOpen) {
  EXPECT_FALSE(settings_.Open("absent.xml"));
  Write("empty.xml", "");
  EXPECT_FALSE(settings_.Open("empty.xml"));
  Write("broken.xml", "<eVision><a></eVision>");
  EXPECT_FALSE(settings_.Open("broken.xml"));
  Write("noroot.xml", "<?xml version='1.0'?>\n");
  EXPECT_FALSE(settings_.Open("noroot.xml"));
  EXPECT_FALSE(settings_.Open(""));
  EXPECT_FALSE(settings_.IsOpen());
  EXPECT_FALSE(settings_.Create("", "x.xml"));
  EXPECT_FALSE(settings_.Create("eVision", ""));
}

TEST_F(CXMLSettingsAPITest, FailedSaveLeavesThePreviousFileWhole) {
  ASSERT_TRUE(settings_.Create("eVision", "presets.xml"));
  ASSERT_TRUE(settings_.Open("presets.xml"));
  ASSERT_TRUE(settings_.WriteText("eVision/Name", u"stored"));
  ASSERT_TRUE(settings_.Save());
  const std::string before = Read("presets.xml");

  fs::create_directory(dir_ / "presets.xml.tmp");  // the temporary file cannot be written
  ASSERT_TRUE(settings_.WriteText("eVision/Name", u"changed"));
  EXPECT_FALSE(settings_.Save());
  EXPECT_EQ(before, Read("presets.xml"));
  fs::remove(dir_ / "presets.xml.tmp");
  EXPECT_TRUE(settings_.Save());
  EXPECT_NE(std::string::npos, Read("presets.xml").find("changed"));
}

TEST_F(CXMLSettingsAPITest, SavingAForeignFileRewritesItsDeclaration) {
  Write("foreign.xml", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><root><a>x</a></root>");
  ASSERT_TRUE(settings_.Open("foreign.xml"));
  ASSERT_TRUE(settings_.WriteText("root/b", u"\u00E9"));
  ASSERT_TRUE(settings_.Save());
  const std::string bytes = Read("foreign.xml");
  EXPECT_EQ(0u, bytes.rfind(kDeclaration, 0)) << bytes;
  EXPECT_EQ(std::string::npos, bytes.find("ISO-8859-1"));
  EXPECT_NE(std::string::npos, bytes.find("\xC3\xA9"));
}

TEST(CXMLSettingsAPIPlacement, FileNamesLandInTheBaseDirectoryOrBesideTheHost) {
  CXMLSettingsAPI settings;
  const std::string exe = platform::ExecutablePath(499);
  const std::string host = std::string("host") + platform::kPathSeparator;
  EXPECT_EQ(exe.substr(0, exe.find_last_of(platform::kPathSeparator) + 1) + "presets.xml",
            settings.FullPath("presets.xml"));
  settings.SetBaseDirectory("host");
  EXPECT_EQ(host + "presets.xml", settings.FullPath("presets.xml"));
  settings.SetBaseDirectory(host);
  EXPECT_EQ(host + "presets.xml", settings.FullPath("presets.xml"));
}

}  // namespace
}  // namespace norvale
