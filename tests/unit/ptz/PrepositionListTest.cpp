// A channel's preset list: adding into the lowest free camera slot, renaming at the current preset,
// going to and removing presets, name checks, the slot limit, and what reaches the file.
#include <gtest/gtest.h>

#include <cstdarg>

#include <vector>

#include "platform/XmlDocument.h"
#include "ptz/CPrepositionList.h"
#include "runtime/StringUtils.h"
#include "PtzTestFiles.h"
#include "support/FakeDriver.h"

namespace norvale {
namespace {

using test::ReadAll;
using test::ScratchDir;
using test::WriteAll;

// The camera side: records every request and answers as told.
class FakeCamera : public IPrepositionComm {
 public:
  explicit FakeCamera(zephrin::test::FakeDriver& log) : log_(log) {}
  std::string GetDeviceName() override { return log_.GetDeviceName(); }
  void Log(uint8_t level, const char* format, ...) override NORVALE_PRINTF(3, 4) {
    va_list args;
    va_start(args, format);
    std::string text;
    FormatStringV(text, format, args);
    va_end(args);
    log_.Log(level, "%s", text.c_str());
  }
  bool StorePreposition(uint32_t slot, const std::string& name) override {
    requests.push_back("store " + std::to_string(slot) + " " + name);
    return storeOk;
  }
  bool GotoPreposition(uint32_t slot, const std::string& name, int32_t) override {
    requests.push_back("goto " + std::to_string(slot) + " " + name);
    return gotoOk;
  }
  bool RemovePreposition(uint32_t slot, const std::string& name) override {
    requests.push_back("remove " + std::to_string(slot) + " " + name);
    return removeOk;
  }
  std::vector<std::string> requests;
  bool storeOk = true, gotoOk = true, removeOk = true;

 private:
  zephrin::test::FakeDriver& log_;
};

std::string Text(const std::string& file, const std::string& xpath) {
  platform::XmlDocument doc;
  if (!doc.LoadFile(file)) return "<unreadable>";
  const platform::XmlNode node = doc.SelectNode(xpath);
  return node ? node.Text() : "<absent>";
}

class PrepositionListTest : public ::testing::Test {
 protected:
  void SetUp() override { Open(8); }
  void Open(uint32_t slots, int32_t channel = 0) {
    reader = TSmartPtr<CXMLPrepositionReader>(new CXMLPrepositionReader("eVision"));
    ASSERT_TRUE(reader->Init(File()));
    list = std::make_unique<CPrepositionList>(channel);
    list->SetCommunicator(&camera, slots);
    ASSERT_TRUE(list->SetStorage(reader));
  }
  std::string File() const { return dir.File("cam.preset"); }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (int32_t i = 0; i < list->GetCount(); ++i) {
      std::string name;
      EXPECT_TRUE(list->GetName(i, name));
      names.push_back(name);
    }
    return names;
  }

  ScratchDir dir;
  zephrin::test::FakeDriver log;
  FakeCamera camera{log};
  TSmartPtr<CXMLPrepositionReader> reader;
  std::unique_ptr<CPrepositionList> list;
};

TEST_F(PrepositionListTest, AddStoresOnTheCameraAndInTheFile) {
  EXPECT_EQ(1, list->Add("Gate"));
  EXPECT_EQ(std::vector<std::string>{"store 0 Gate"}, camera.requests);
  std::string current;
  ASSERT_TRUE(list->GetCurrentName(current));
  EXPECT_EQ("Gate", current);
  EXPECT_EQ("Gate", Text(File(), "/eVision/PtzChannel01/Preposition000/Name"));
  EXPECT_EQ("0", Text(File(), "/eVision/PtzChannel01/Preposition000/Slot"));
}

TEST_F(PrepositionListTest, AddTakesTheLowestFreeSlotAndComesLast) {
  WriteAll(File(),
           "<?xml version=\"1.0\"?><eVision><PtzChannel01>"
           "<Preposition000><Name>Two</Name><Slot>2</Slot></Preposition000>"
           "<Preposition001><Name>Zero</Name><Slot>0</Slot></Preposition001>"
           "</PtzChannel01></eVision>");
  Open(8);
  ASSERT_EQ((std::vector<std::string>{"Two", "Zero"}), Names());
  EXPECT_EQ(1, list->Add("One"));
  EXPECT_EQ(std::vector<std::string>{"store 1 One"}, camera.requests);
  EXPECT_EQ((std::vector<std::string>{"Two", "Zero", "One"}), Names());
  EXPECT_EQ(2, list->CurrentPosition());
  EXPECT_EQ("1", Text(File(), "/eVision/PtzChannel01/Preposition002/Slot"));
}

TEST_F(PrepositionListTest, AddingAtTheCurrentPresetRenamesItWithoutTheCamera) {
  ASSERT_EQ(1, list->Add("Gate"));
  camera.requests.clear();
  EXPECT_EQ(1, list->Add("Front gate"));
  EXPECT_TRUE(camera.requests.empty());
  EXPECT_EQ(std::vector<std::string>{"Front gate"}, Names());
  EXPECT_EQ("Front gate", Text(File(), "/eVision/PtzChannel01/Preposition000/Name"));
  EXPECT_TRUE(
      log.Contains("norvale::CPrepositionList::RenameCurrentPreposition: A preposition with index 0 was "
                   "renamed from \"Gate\" to \"Front gate\"."));
  // After a movement the same call adds a new preset.
  list->ClearCurrent();
  EXPECT_EQ(1, list->Add("Dock"));
  EXPECT_EQ(std::vector<std::string>{"store 1 Dock"}, camera.requests);
}

TEST_F(PrepositionListTest, GotoTheCurrentPresetSendsNothing) {
  ASSERT_EQ(1, list->Add("Gate"));
  ASSERT_EQ(1, list->Add("Gate"));  // renames to the same name
  list->ClearCurrent();
  ASSERT_EQ(1, list->Add("Dock"));
  camera.requests.clear();
  EXPECT_TRUE(list->Goto("Dock", 0));
  EXPECT_TRUE(camera.requests.empty());
  EXPECT_TRUE(list->Goto("Gate", 0));
  EXPECT_EQ(std::vector<std::string>{"goto 0 Gate"}, camera.requests);
  EXPECT_TRUE(list->Goto("Gate", 0));
  EXPECT_EQ(1u, camera.requests.size());
  list->ClearCurrent();
  EXPECT_TRUE(list->Goto("Gate", 0));
  EXPECT_EQ(2u, camera.requests.size());

  EXPECT_FALSE(list->Goto("Nowhere", 0));
  EXPECT_FALSE(list->Goto("", 0));
  list->ClearCurrent();
  camera.gotoOk = false;
  EXPECT_FALSE(list->Goto("Dock", 0));
  EXPECT_EQ(-1, list->CurrentPosition()) << "a failed go-to does not make the preset current";
}

TEST_F(PrepositionListTest, RemoveRenumbersTheChannelInTheFile) {
  for (const char* name : {"A", "B", "C"}) {
    list->ClearCurrent();
    ASSERT_EQ(1, list->Add(name));
  }
  EXPECT_TRUE(list->Remove("A"));
  EXPECT_EQ("remove 0 A", camera.requests.back());
  EXPECT_EQ((std::vector<std::string>{"B", "C"}), Names());
  EXPECT_EQ(-1, list->CurrentPosition());
  EXPECT_EQ("B", Text(File(), "/eVision/PtzChannel01/Preposition000/Name"));
  EXPECT_EQ("1", Text(File(), "/eVision/PtzChannel01/Preposition000/Slot"));
  EXPECT_EQ("C", Text(File(), "/eVision/PtzChannel01/Preposition001/Name"));
  EXPECT_EQ("2", Text(File(), "/eVision/PtzChannel01/Preposition001/Slot"));
  EXPECT_EQ("<absent>", Text(File(), "/eVision/PtzChannel01/Preposition002"));
  // The freed slot is taken again.
  EXPECT_EQ(1, list->Add("D"));
  EXPECT_EQ("store 0 D", camera.requests.back());

  EXPECT_FALSE(list->Remove("Nowhere"));
  EXPECT_FALSE(list->Remove(""));
  camera.removeOk = false;
  EXPECT_TRUE(list->Remove("B")) << "the file is still saved";
  EXPECT_EQ((std::vector<std::string>{"B", "C", "D"}), Names()) << "the camera kept it, so does the list";
}

TEST_F(PrepositionListTest, InvalidNamesAreRefusedWithTheirReason) {
  const std::string refused[] = {"",      "Tom's",     "A&B",        "<gate>",    "say \"hi\"",
                                 "Stop!", "tab\there", "line\nfeed", "\xE9t\xE9", std::string(256, 'x')};
  for (const std::string& name : refused) {
    EXPECT_EQ(-3, list->Add(name)) << name;
  }
  EXPECT_TRUE(camera.requests.empty());
  EXPECT_EQ(0, list->GetCount());
  EXPECT_TRUE(
      log.Contains("norvale::CPrepositionList::AddPreposition: A preposition \"Tom's\" cannot be added - "
                   "the name is invalid."));
  EXPECT_EQ(1, list->Add(std::string(255, 'x')));
}

TEST_F(PrepositionListTest, TheCameraSlotLimitGivesItsOwnCode) {
  Open(2);
  ASSERT_EQ(1, list->Add("A"));
  list->ClearCurrent();
  ASSERT_EQ(1, list->Add("B"));
  list->ClearCurrent();
  EXPECT_EQ(-26, list->Add("C"));
  EXPECT_TRUE(
      log.Contains("norvale::CPrepositionList::AddPreposition: A preposition \"C\" cannot be added. Camera "
                   "supports saving not more than 2 prepositions."));
  EXPECT_EQ(2u, camera.requests.size());
}

TEST_F(PrepositionListTest, CameraFailureAddsNothing) {
  camera.storeOk = false;
  EXPECT_EQ(-18, list->Add("Gate"));
  EXPECT_EQ(0, list->GetCount());
  EXPECT_EQ(-1, list->CurrentPosition());
}

TEST_F(PrepositionListTest, AFileWriteFailureLosesNoPreset) {
  ASSERT_EQ(1, list->Add("Gate"));
  list->ClearCurrent();
  std::filesystem::create_directory(File() + ".tmp");  // saving cannot write its temporary file
  EXPECT_EQ(-18, list->Add("Dock"));
  EXPECT_EQ((std::vector<std::string>{"Gate", "Dock"}), Names());
  EXPECT_EQ("<absent>", Text(File(), "/eVision/PtzChannel01/Preposition001/Name"));
  std::filesystem::remove(File() + ".tmp");
  EXPECT_TRUE(list->SaveAll());
  EXPECT_EQ("Dock", Text(File(), "/eVision/PtzChannel01/Preposition001/Name"));
}

TEST_F(PrepositionListTest, PresetsSurviveARestartWithTheirOrderAndUtf8Names) {
  for (const char* name : {"Süd", "入口", "🎥 Tor"}) {
    list->ClearCurrent();
    ASSERT_EQ(1, list->Add(name));
  }
  ASSERT_TRUE(list->Remove("Süd"));
  list->ClearCurrent();
  ASSERT_EQ(1, list->Add("Nord"));  // slot 0 again, listed last
  list.reset();
  reader.Release();
  Open(8);
  EXPECT_EQ((std::vector<std::string>{"入口", "🎥 Tor", "Nord"}), Names());
  EXPECT_EQ(-1, list->CurrentPosition());
  camera.requests.clear();
  EXPECT_TRUE(list->Goto("Nord", 0));
  EXPECT_EQ(std::vector<std::string>{"goto 0 Nord"}, camera.requests);
}

TEST_F(PrepositionListTest, ChannelsShareTheFileButNotTheirPresets) {
  CPrepositionList second(1);
  second.SetCommunicator(&camera, 8);
  ASSERT_TRUE(second.SetStorage(reader));
  ASSERT_EQ(1, list->Add("Zero"));
  ASSERT_EQ(1, second.Add("One"));
  EXPECT_TRUE(second.Remove("One"));
  EXPECT_EQ("Zero", Text(File(), "/eVision/PtzChannel01/Preposition000/Name"));
  EXPECT_EQ("<absent>", Text(File(), "/eVision/PtzChannel02/Preposition000"));
  EXPECT_EQ(1, list->GetCount());
}

TEST_F(PrepositionListTest, WithoutCameraNothingChanges) {
  list->SetCommunicator(nullptr, 8);
  EXPECT_EQ(-18, list->Add("Gate"));
  EXPECT_FALSE(list->Remove("Gate"));
  EXPECT_FALSE(list->Goto("Gate", 0));
}

TEST_F(PrepositionListTest, RenameWithoutCurrentOrWithoutFile) {
  EXPECT_EQ(-18, list->RenameCurrentPreposition("X"));
  CPrepositionList noFile(0);
  noFile.SetCommunicator(&camera, 8);
  EXPECT_FALSE(noFile.SetStorage(TSmartPtr<CXMLPrepositionReader>()));
  EXPECT_EQ(-18, noFile.Add("Gate")) << "stored on the camera, not in a file";
  EXPECT_EQ(1, noFile.GetCount());
  EXPECT_EQ(-18, noFile.Add("Renamed")) << "a rename that cannot be stored keeps the old name";
  std::string name;
  ASSERT_TRUE(noFile.GetName(0, name));
  EXPECT_EQ("Gate", name);
  EXPECT_FALSE(noFile.SaveAll());
}

TEST_F(PrepositionListTest, LoadSkipsDuplicateSlotsAndBadEntries) {
  WriteAll(File(),
           "<?xml version=\"1.0\"?><eVision><PtzChannel01>"
           "<Preposition000><Name>A</Name><Slot>3</Slot></Preposition000>"
           "<Preposition001><Name>B</Name><Slot>3</Slot></Preposition001>"
           "<Preposition002><Name></Name><Slot>4</Slot></Preposition002>"
           "<Preposition003><Name>C</Name><Slot>five</Slot></Preposition003>"
           "<Preposition004><Name>D</Name><Slot>1</Slot></Preposition004>"
           "</PtzChannel01></eVision>");
  Open(8);
  EXPECT_EQ((std::vector<std::string>{"A", "D"}), Names());
  std::string name;
  EXPECT_FALSE(list->GetName(2, name));
  EXPECT_FALSE(list->GetName(-1, name));
}

}  // namespace
}  // namespace norvale
