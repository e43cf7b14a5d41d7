// The device's preset file: its layout, UTF-8 text, replacement of missing, empty or unreadable files
// (keeping unreadable ones aside), and saves that never leave a truncated file.
#include <gtest/gtest.h>

#include "platform/XmlDocument.h"
#include "ptz/CXMLPrepositionReader.h"
#include "PtzTestFiles.h"
#include "support/FakeDriver.h"

namespace norvale {
namespace {

using test::ReadAll;
using test::ScratchDir;
using test::WriteAll;

TEST(XMLPrepositionReader, MissingFileIsCreatedWithTheRootAndDeclaration) {
  ScratchDir dir;
  CXMLPrepositionReader reader("eVision");
  ASSERT_TRUE(reader.Init(dir.File("cam.preset")));
  EXPECT_TRUE(reader.AutoSave());
  EXPECT_EQ(dir.File("cam.preset"), reader.Path());
  const std::string bytes = ReadAll(dir.File("cam.preset"));
  EXPECT_EQ(0u, bytes.rfind("<?xml version='1.0' encoding='utf-8'?>\n", 0)) << bytes;
  platform::XmlDocument doc;
  ASSERT_TRUE(doc.LoadFile(dir.File("cam.preset")));
  EXPECT_EQ("eVision", doc.Root().Name());
}

TEST(XMLPrepositionReader, EntriesUseTheChannelAndPositionLayout) {
  ScratchDir dir;
  CXMLPrepositionReader reader("eVision");
  ASSERT_TRUE(reader.Init(dir.File("cam.preset")));
  ASSERT_TRUE(reader.WriteEntry(0, 0, "Gate", 4));
  ASSERT_TRUE(reader.WriteEntry(11, 7, "Dock", 0));

  platform::XmlDocument doc;
  ASSERT_TRUE(doc.LoadFile(dir.File("cam.preset")));
  EXPECT_EQ("Gate", doc.SelectNode("/eVision/PtzChannel01/Preposition000/Name").Text());
  EXPECT_EQ("4", doc.SelectNode("/eVision/PtzChannel01/Preposition000/Slot").Text());
  EXPECT_EQ("Dock", doc.SelectNode("/eVision/PtzChannel12/Preposition007/Name").Text());
  EXPECT_EQ("0", doc.SelectNode("/eVision/PtzChannel12/Preposition007/Slot").Text());

  // A second reader (a restarted driver) reads them back.
  CXMLPrepositionReader again("eVision");
  ASSERT_TRUE(again.Init(dir.File("cam.preset")));
  std::string name;
  uint32_t slot = 99;
  ASSERT_TRUE(again.ReadEntry(11, 7, name, slot));
  EXPECT_EQ("Dock", name);
  EXPECT_EQ(0u, slot);
  EXPECT_FALSE(again.ReadEntry(0, 1, name, slot));
}

TEST(XMLPrepositionReader, NonAsciiNamesAreStoredAsUtf8AndReadBackIntact) {
  ScratchDir dir;
  const std::string names[] = {"Eingang Süd", "入口カメラ", "🎥 Tor 2", "50% %s %n"};
  {
    CXMLPrepositionReader reader("eVision");
    ASSERT_TRUE(reader.Init(dir.File("cam.preset")));
    for (uint32_t i = 0; i < std::size(names); ++i) ASSERT_TRUE(reader.WriteEntry(0, i, names[i], i));
  }
  const std::string bytes = ReadAll(dir.File("cam.preset"));
  EXPECT_NE(std::string::npos, bytes.find("<Name>Eingang Süd</Name>")) << bytes;
  EXPECT_NE(std::string::npos, bytes.find("入口カメラ"));
  CXMLPrepositionReader reader("eVision");
  ASSERT_TRUE(reader.Init(dir.File("cam.preset")));
  for (uint32_t i = 0; i < std::size(names); ++i) {
    std::string name;
    uint32_t slot = 0;
    ASSERT_TRUE(reader.ReadEntry(0, i, name, slot));
    EXPECT_EQ(names[i], name);
    EXPECT_EQ(i, slot);
  }
}

TEST(XMLPrepositionReader, EntriesWithoutNameOrNumericSlotAreNotRead) {
  ScratchDir dir;
  WriteAll(dir.File("cam.preset"),
           "<?xml version=\"1.0\" encoding=\"utf-8\"?><eVision><PtzChannel01>"
           "<Preposition000><Name></Name><Slot>1</Slot></Preposition000>"
           "<Preposition001><Name>A</Name><Slot>x1</Slot></Preposition001>"
           "<Preposition002><Name>B</Name><Slot>-1</Slot></Preposition002>"
           "<Preposition003><Name>C</Name></Preposition003>"
           "<Preposition004><Name>D</Name><Slot>99999999999</Slot></Preposition004>"
           "<Preposition005><Name>E</Name><Slot> 3 </Slot></Preposition005>"
           "</PtzChannel01></eVision>");
  CXMLPrepositionReader reader("eVision");
  ASSERT_TRUE(reader.Init(dir.File("cam.preset")));
  std::string name;
  uint32_t slot = 0;
  for (uint32_t position = 0; position < 5; ++position)
    EXPECT_FALSE(reader.ReadEntry(0, position, name, slot)) << position;
  ASSERT_TRUE(reader.ReadEntry(0, 5, name, slot));
  EXPECT_EQ("E", name);
  EXPECT_EQ(3u, slot);
}

TEST(XMLPrepositionReader, EmptyFileIsReplaced) {
  ScratchDir dir;
  WriteAll(dir.File("cam.preset"), "");
  CXMLPrepositionReader reader("eVision");
  ASSERT_TRUE(reader.Init(dir.File("cam.preset")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("cam.preset.bad")));
  ASSERT_TRUE(reader.WriteEntry(0, 0, "A", 0));
  EXPECT_NE(std::string::npos, ReadAll(dir.File("cam.preset")).find("<eVision>"));
}

TEST(XMLPrepositionReader, UnreadableFileIsKeptAsideBeforeItIsReplaced) {
  ScratchDir dir;
  zephrin::test::FakeDriver log;
  const std::string broken = "<eVision><PtzChannel01><Preposition000><Name>Gate</Name>";  // cut short
  WriteAll(dir.File("cam.preset"), broken);
  WriteAll(dir.File("cam.preset.bad"), "an older one");
  CXMLPrepositionReader reader("eVision", &log);
  ASSERT_TRUE(reader.Init(dir.File("cam.preset")));
  EXPECT_EQ("an older one", ReadAll(dir.File("cam.preset.bad"))) << "an earlier kept file is not overwritten";
  EXPECT_EQ(broken, ReadAll(dir.File("cam.preset.bad1")));
  EXPECT_TRUE(log.Contains("norvale::CXMLPrepositionReader::Init: preset file \"" + dir.File("cam.preset") +
                           "\" cannot be read; it was kept as \"" + dir.File("cam.preset.bad1") + "\""));
  ASSERT_TRUE(reader.WriteEntry(0, 0, "New", 0));
  platform::XmlDocument doc;
  EXPECT_TRUE(doc.LoadFile(dir.File("cam.preset")));
}

TEST(XMLPrepositionReader, AFileOfAnotherKindIsKeptAsideAndNeverGetsASecondRoot) {
  ScratchDir dir;
  const std::string other = "<?xml version=\"1.0\"?><Settings><Keep>me</Keep></Settings>";
  WriteAll(dir.File("cam.preset"), other);
  CXMLPrepositionReader reader("eVision");
  ASSERT_TRUE(reader.Init(dir.File("cam.preset")));
  EXPECT_EQ(other, ReadAll(dir.File("cam.preset.bad")));
  ASSERT_TRUE(reader.WriteEntry(0, 0, "A", 0));
  platform::XmlDocument doc;
  ASSERT_TRUE(doc.LoadFile(dir.File("cam.preset")));
  EXPECT_EQ("eVision", doc.Root().Name());
  EXPECT_EQ(1u, doc.SelectNodes("/*").size());
}

TEST(XMLPrepositionReader, OnlyPresetFilesAreEverKeptAsideOrReplaced) {
  // A name handed over by the host may name one of its own files (a camera brand cut at a NUL byte
  // once gave "Zephrin.xml"): such a file is left exactly as it is.
  ScratchDir dir;
  zephrin::test::FakeDriver log;
  const std::string configuration = "<Configuration><Default><RTPMode>RTPoverTCP</RTPMode></Default></Configuration>\n";
  for (const char* name : {"Zephrin.xml", "Zephrin.dat", "preset", "cam.preset.bak"}) {
    WriteAll(dir.File(name), configuration);
    CXMLPrepositionReader reader("eVision", &log);
    reader.SetBaseDirectory(dir.Path().string());
    EXPECT_FALSE(reader.Init(name)) << name;
    EXPECT_EQ(configuration, ReadAll(dir.File(name))) << name;
    EXPECT_FALSE(std::filesystem::exists(dir.File(std::string(name) + ".bad"))) << name;
    EXPECT_FALSE(reader.WriteEntry(0, 0, "A", 0)) << name;
    EXPECT_EQ(configuration, ReadAll(dir.File(name))) << name;
  }
  EXPECT_TRUE(log.Contains("\"" + dir.File("Zephrin.xml") + "\" is not a preset file"));
  // A preset file proper is still replaced when it cannot be read.
  WriteAll(dir.File("cam.preset"), configuration);
  CXMLPrepositionReader reader("eVision");
  reader.SetBaseDirectory(dir.Path().string());
  EXPECT_TRUE(reader.Init("cam.preset"));
  EXPECT_EQ(configuration, ReadAll(dir.File("cam.preset.bad")));
}

TEST(XMLPrepositionReader, AFailedSaveLeavesTheOldFileWhole) {
  ScratchDir dir;
  CXMLPrepositionReader reader("eVision");
  ASSERT_TRUE(reader.Init(dir.File("cam.preset")));
  ASSERT_TRUE(reader.WriteEntry(0, 0, "Gate", 1));
  const std::string before = ReadAll(dir.File("cam.preset"));
  // The temporary file beside it cannot be written.
  std::filesystem::create_directory(dir.File("cam.preset.tmp"));
  EXPECT_FALSE(reader.WriteEntry(0, 1, "Dock", 2));
  EXPECT_EQ(before, ReadAll(dir.File("cam.preset")));
  std::filesystem::remove(dir.File("cam.preset.tmp"));
  EXPECT_TRUE(reader.WriteEntry(0, 1, "Dock", 2));
  EXPECT_NE(std::string::npos, ReadAll(dir.File("cam.preset")).find("Dock"));
  EXPECT_FALSE(std::filesystem::exists(dir.File("cam.preset.tmp")));
}

TEST(XMLPrepositionReader, AutoSaveOffDefersSavingUntilItIsTurnedOn) {
  ScratchDir dir;
  CXMLPrepositionReader reader("eVision");
  ASSERT_TRUE(reader.Init(dir.File("cam.preset")));
  ASSERT_TRUE(reader.WriteEntry(0, 0, "Gate", 1));
  ASSERT_TRUE(reader.SetAutoSave(false));
  ASSERT_TRUE(reader.ClearChannel(0));
  ASSERT_TRUE(reader.WriteEntry(0, 0, "Dock", 2));
  EXPECT_NE(std::string::npos, ReadAll(dir.File("cam.preset")).find("Gate"));
  ASSERT_TRUE(reader.SetAutoSave(true));
  const std::string after = ReadAll(dir.File("cam.preset"));
  EXPECT_EQ(std::string::npos, after.find("Gate"));
  EXPECT_NE(std::string::npos, after.find("Dock"));
}

TEST(XMLPrepositionReader, ABareFileNameGoesIntoTheBaseDirectory) {
  ScratchDir dir;
  CXMLPrepositionReader reader("eVision");
  reader.SetBaseDirectory(dir.Path().string());
  ASSERT_TRUE(reader.Init("ELMO_0011223344.preset"));
  EXPECT_TRUE(std::filesystem::exists(dir.File("ELMO_0011223344.preset")));
}

TEST(XMLPrepositionReader, InitFailsWhereNoFileCanBeWritten) {
  ScratchDir dir;
  CXMLPrepositionReader reader("eVision");
  EXPECT_FALSE(reader.Init(dir.File("no/such/dir/cam.preset")));
  EXPECT_FALSE(reader.Init(""));
  EXPECT_FALSE(reader.AutoSave());
  std::string name;
  uint32_t slot;
  EXPECT_FALSE(reader.WriteEntry(0, 0, "A", 0));
  EXPECT_FALSE(reader.ReadEntry(0, 0, name, slot));
}

TEST(XMLPrepositionReader, StorableText) {
  EXPECT_TRUE(CXMLPrepositionReader::IsStorableText("Süd 入口 🎥"));
  EXPECT_FALSE(CXMLPrepositionReader::IsStorableText("a\tb"));
  EXPECT_FALSE(CXMLPrepositionReader::IsStorableText("a\nb"));
  EXPECT_FALSE(CXMLPrepositionReader::IsStorableText("\xE9t\xE9"));     // Latin-1, not UTF-8
  EXPECT_FALSE(CXMLPrepositionReader::IsStorableText("ab\xE5\x85"));    // cut short
  EXPECT_FALSE(CXMLPrepositionReader::IsStorableText("\xC0\xAF"));      // overlong
  EXPECT_FALSE(CXMLPrepositionReader::IsStorableText("\xED\xA0\x80"));  // surrogate
  EXPECT_FALSE(CXMLPrepositionReader::IsStorableText("\xEF\xBF\xBF"));  // U+FFFF
}

}  // namespace
}  // namespace norvale
