#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/Platform.h"
#include "videosettings/CFramerateHelper.h"
#include "videosettings/CXMLDatabaseReader.h"
#include "support/TempDir.h"

using norvale::CXMLDatabaseReader;
namespace fs = std::filesystem;

namespace {

constexpr int32_t kPal = 0, kNtsc = 1;
using Names = std::set<std::string>;
using Rates = std::set<uint32_t>;

// A small database whose rates and combinations are easy to follow.
constexpr const char* kSmall = R"(<?xml version="1.0"?>
<Database>
  <Resolutions>
    <SingleStream>
      <Recording resolution="1080p" maxfps="25"/>
      <Recording resolution="d1" maxfps="13"/>
    </SingleStream>
    <DualStreaming>
      <Recording resolution="1080p" maxfps="12">
        <Live resolution="d1" maxfps="25"/>
        <Live resolution="cif" maxfps="7"/>
      </Recording>
      <Recording resolution="720p" maxfps="25">
        <Live resolution="d1" maxfps="0"/>
      </Recording>
    </DualStreaming>
    <TripleStreaming>
      <Recording resolution="1080p" maxfps="25">
        <Live resolution="d1" maxfps="25">
          <Remote resolution="cif" maxfps="25"/>
        </Live>
        <Live resolution="d1" maxfps="12">
          <Remote resolution="vga" maxfps="12"/>
        </Live>
      </Recording>
    </TripleStreaming>
  </Resolutions>
  <Resolutions_Panoramic>
    <SingleStream>
      <Recording resolution="5m" maxfps="12"/>
    </SingleStream>
    <DualStreaming>
      <Recording resolution="5m" maxfps="12">
        <Live resolution="vga" maxfps="25"/>
      </Recording>
    </DualStreaming>
  </Resolutions_Panoramic>
</Database>
)";

class DatabaseFiles : public ::testing::Test {
 protected:
  void Write(const std::string& name, const std::string& content) { std::ofstream(directory_ / name) << content; }

  // A reader opened on the small database.
  CXMLDatabaseReader& Small(int32_t standard, const std::string& supported = "1080p,720p,d1,vga,cif") {
    Write("Zephrin.dat", kSmall);
    reader_ = std::make_unique<CXMLDatabaseReader>(standard);
    reader_->SetDirectory(directory_.string());
    EXPECT_TRUE(reader_->Open(supported, "Zephrin"));
    return *reader_;
  }

  zephrin::test::TempDir temp_{"zephrin-db"};
  const fs::path directory_ = temp_.Path();
  std::unique_ptr<CXMLDatabaseReader> reader_;
};

// ---- where the file is and opening it ----------------------------------------------------------

TEST_F(DatabaseFiles, FileLiesBesideTheHostExecutable) {
  const std::string executable = norvale::platform::ExecutablePath(511);
  const std::string directory = executable.substr(0, executable.rfind(norvale::platform::kPathSeparator) + 1);
  CXMLDatabaseReader reader(kPal);
  EXPECT_EQ(reader.DatabasePath("Zephrin"), directory + "Zephrin.dat");

  // Opening really looks there.
  const std::string driver = "ZephrinReaderTest" + std::to_string(getpid());
  std::ofstream(directory + driver + ".dat") << kSmall;
  EXPECT_TRUE(reader.Open("vga", driver));
  EXPECT_EQ(reader.GetStreamResolutions(0), (Names{"1080p", "720p", "d1"}));
  reader.Close();
  fs::remove(directory + driver + ".dat");
}

TEST_F(DatabaseFiles, DirectoryGetsItsSeparator) {
  CXMLDatabaseReader reader(kPal);
  const std::string host = std::string("host") + norvale::platform::kPathSeparator;
  reader.SetDirectory("host");
  EXPECT_EQ(reader.DatabasePath("Zephrin"), host + "Zephrin.dat");
  reader.SetDirectory(host);
  EXPECT_EQ(reader.DatabasePath("Zephrin"), host + "Zephrin.dat");
  reader.SetDirectory("");
  EXPECT_EQ(reader.DatabasePath("Zephrin"), "Zephrin.dat");
}

TEST_F(DatabaseFiles, MissingOrBrokenFileDoesNotOpenAndAnswersNothing) {
  CXMLDatabaseReader reader(kPal);
  reader.SetDirectory(directory_.string());
  EXPECT_FALSE(reader.Open("1080p", "Zephrin"));
  Write("Zephrin.dat", "<Database><Resolutions><SingleStream>");
  EXPECT_FALSE(reader.Open("1080p", "Zephrin"));
  Write("Zephrin.dat", "");
  EXPECT_FALSE(reader.Open("1080p", "Zephrin"));
  EXPECT_FALSE(reader.IsOpen());
  EXPECT_TRUE(reader.GetStreamResolutions(0).empty());
  EXPECT_TRUE(reader.GetStreamFrameRates("1080p", 0).empty());
  EXPECT_TRUE(reader.GetAllowedResolutions(1, {}).empty());
  EXPECT_EQ(reader.GetMaxFrameRate(0, {"1080p"}), 0u);
}

TEST_F(DatabaseFiles, LaterOpensOnlyRefreshThePanoramicSwitch) {
  CXMLDatabaseReader& reader = Small(kPal, "1080p,d1");
  EXPECT_FALSE(reader.IsPanoramic());
  fs::remove(directory_ / "Zephrin.dat");  // the open file stays in use
  EXPECT_TRUE(reader.Open("5m,1080p", "Zephrin"));
  EXPECT_TRUE(reader.IsPanoramic());
  EXPECT_TRUE(reader.GetStreamResolutions(0).count("5m"));
  EXPECT_TRUE(reader.Open("1080p", "Zephrin"));
  EXPECT_FALSE(reader.IsPanoramic());
  reader.Close();
  EXPECT_FALSE(reader.IsOpen());
  EXPECT_TRUE(reader.GetStreamResolutions(0).empty());
  EXPECT_FALSE(reader.Open("1080p", "Zephrin"));
}

TEST_F(DatabaseFiles, PanoramicSectionOnlyForAnExact5m) {
  for (const char* supported : {"1080p", "5M,1080p", " 5m", "5m ", "15m", "5mp"}) {
    CXMLDatabaseReader& reader = Small(kPal, supported);
    EXPECT_FALSE(reader.IsPanoramic()) << supported;
    EXPECT_FALSE(reader.GetStreamResolutions(0).count("5m")) << supported;
  }
  for (const char* supported : {"5m", "3m,5m,1080p", "1080p,5m"}) {
    CXMLDatabaseReader& reader = Small(kPal, supported);
    EXPECT_TRUE(reader.IsPanoramic()) << supported;
    EXPECT_EQ(reader.GetStreamResolutions(0), (Names{"1080p", "5m", "720p", "d1"})) << supported;
    EXPECT_EQ(reader.GetStreamResolutions(1), (Names{"cif", "d1", "vga"})) << supported;
  }
}

// ---- queries -----------------------------------------------------------------------------------

TEST_F(DatabaseFiles, StreamResolutionsOverEveryMode) {
  CXMLDatabaseReader& reader = Small(kPal);
  EXPECT_EQ(reader.GetStreamResolutions(0), (Names{"1080p", "720p", "d1"}));
  EXPECT_EQ(reader.GetStreamResolutions(1), (Names{"cif", "d1"}));
  EXPECT_EQ(reader.GetStreamResolutions(2), (Names{"cif", "vga"}));
  EXPECT_TRUE(reader.GetStreamResolutions(3).empty());
}

TEST_F(DatabaseFiles, StreamFrameRatesDropZero) {
  CXMLDatabaseReader& reader = Small(kPal);
  EXPECT_EQ(reader.GetStreamFrameRates("1080p", 0), (Rates{12, 25}));
  EXPECT_EQ(reader.GetStreamFrameRates("d1", 0), (Rates{13}));
  EXPECT_EQ(reader.GetStreamFrameRates("d1", 1), (Rates{12, 25}));  // the 0 of 720p + d1 is dropped
  EXPECT_EQ(reader.GetStreamFrameRates("cif", 2), (Rates{25}));
  EXPECT_TRUE(reader.GetStreamFrameRates("vga", 0).empty());
  EXPECT_TRUE(reader.GetStreamFrameRates("1080p", 3).empty());
  EXPECT_TRUE(reader.GetStreamFrameRates("", 0).empty());
}

TEST_F(DatabaseFiles, NtscReadsHalfAndFullRateAsFifteenAndThirty) {
  CXMLDatabaseReader& ntsc = Small(kNtsc);
  EXPECT_EQ(ntsc.GetStreamFrameRates("1080p", 0), (Rates{15, 30}));
  EXPECT_EQ(ntsc.GetStreamFrameRates("d1", 0), (Rates{15}));  // 13
  EXPECT_EQ(ntsc.GetStreamFrameRates("cif", 1), (Rates{7}));  // other values as written
  EXPECT_EQ(ntsc.GetMaxFrameRate(0, {"1080p"}), 30u);
  EXPECT_EQ(ntsc.GetMaxFrameRate(0, {"1080p", "d1"}), 15u);
  CXMLDatabaseReader& pal = Small(kPal);
  EXPECT_EQ(pal.GetStreamFrameRates("cif", 1), (Rates{7}));
  EXPECT_EQ(pal.GetMaxFrameRate(0, {"1080p"}), 25u);
  EXPECT_EQ(pal.GetMaxFrameRate(0, {"d1"}), 13u);
}

TEST_F(DatabaseFiles, AllowedResolutionsFollowTheChosenStreams) {
  CXMLDatabaseReader& reader = Small(kPal);
  EXPECT_EQ(reader.GetAllowedResolutions(1, {}), (Names{"1080p", "d1"}));
  EXPECT_EQ(reader.GetAllowedResolutions(2, {}), (Names{"1080p", "720p"}));
  EXPECT_EQ(reader.GetAllowedResolutions(2, {"1080p"}), (Names{"cif", "d1"}));
  EXPECT_EQ(reader.GetAllowedResolutions(2, {"720p"}), (Names{"d1"}));
  EXPECT_EQ(reader.GetAllowedResolutions(3, {"1080p"}), (Names{"d1"}));
  EXPECT_EQ(reader.GetAllowedResolutions(3, {"1080p", "d1"}), (Names{"cif", "vga"}));  // under both live rates
  EXPECT_TRUE(reader.GetAllowedResolutions(2, {"d1"}).empty());
  EXPECT_TRUE(reader.GetAllowedResolutions(3, {"1080p", "d1", "cif"}).empty());
  EXPECT_TRUE(reader.GetAllowedResolutions(0, {}).empty());
  EXPECT_TRUE(reader.GetAllowedResolutions(4, {}).empty());
  EXPECT_TRUE(reader.GetAllowedResolutions(2, {""}).empty());
  EXPECT_TRUE(reader.GetAllowedResolutions(3, {"1080p", ""}).empty());
}

TEST_F(DatabaseFiles, MaxFrameRateOfEachStreamInACombination) {
  CXMLDatabaseReader& reader = Small(kPal);
  EXPECT_EQ(reader.GetMaxFrameRate(0, {"d1"}), 13u);
  EXPECT_EQ(reader.GetMaxFrameRate(2, {"d1"}), 13u);  // one name: the single stream
  EXPECT_EQ(reader.GetMaxFrameRate(0, {"1080p", "d1"}), 12u);
  EXPECT_EQ(reader.GetMaxFrameRate(1, {"1080p", "d1"}), 25u);
  EXPECT_EQ(reader.GetMaxFrameRate(1, {"1080p", "cif"}), 7u);
  EXPECT_EQ(reader.GetMaxFrameRate(0, {"720p", "cif"}), 0u);  // no such combination
  // The live stream's rate depends on which remote resolution goes with it.
  EXPECT_EQ(reader.GetMaxFrameRate(0, {"1080p", "d1", "cif"}), 25u);
  EXPECT_EQ(reader.GetMaxFrameRate(1, {"1080p", "d1", "cif"}), 25u);
  EXPECT_EQ(reader.GetMaxFrameRate(2, {"1080p", "d1", "cif"}), 25u);
  EXPECT_EQ(reader.GetMaxFrameRate(1, {"1080p", "d1", "vga"}), 12u);
  EXPECT_EQ(reader.GetMaxFrameRate(2, {"1080p", "d1", "vga"}), 12u);
  EXPECT_EQ(reader.GetMaxFrameRate(0, {"1080p", "d1", "qcif"}), 0u);
  EXPECT_EQ(reader.GetMaxFrameRate(3, {"1080p", "d1", "cif"}), 0u);
  EXPECT_EQ(reader.GetMaxFrameRate(0, {}), 0u);
  EXPECT_EQ(reader.GetMaxFrameRate(0, {"1080p", "d1", "cif", "qcif"}), 0u);
  EXPECT_EQ(reader.GetMaxFrameRate(0, {"1080p", ""}), 0u);
}

TEST_F(DatabaseFiles, NamesThatWouldBreakAQueryAnswerNothing) {
  CXMLDatabaseReader& reader = Small(kPal, "5m");
  for (const std::string name : {"1080p\"]|//*[@maxfps=\"25", "\"", "a'b", "]", "[", "*", "\x01", "\xff\xfe"}) {
    EXPECT_TRUE(reader.GetStreamFrameRates(name, 0).empty()) << name;
    EXPECT_TRUE(reader.GetAllowedResolutions(2, {name}).empty()) << name;
    EXPECT_EQ(reader.GetMaxFrameRate(0, {name}), 0u) << name;
    EXPECT_EQ(reader.GetMaxFrameRate(2, {"1080p", "d1", name}), 0u) << name;
  }
}

TEST_F(DatabaseFiles, OddRateTextsReadAsTheirLeadingNumber) {
  Write("Zephrin.dat", R"(<Database><Resolutions><SingleStream>
      <Recording resolution="vga" maxfps=" 12 "/><Recording resolution="cif" maxfps="x"/>
      <Recording resolution="qcif" maxfps="99999999999999"/><Recording resolution="d1" maxfps="-25"/>
    </SingleStream></Resolutions></Database>)");
  CXMLDatabaseReader reader(kNtsc);
  reader.SetDirectory(directory_.string());
  ASSERT_TRUE(reader.Open("", "Zephrin"));
  EXPECT_EQ(reader.GetMaxFrameRate(0, {"vga"}), 15u);
  EXPECT_EQ(reader.GetMaxFrameRate(0, {"cif"}), 0u);
  EXPECT_EQ(reader.GetMaxFrameRate(0, {"qcif"}), 0xFFFFFFFFu);
  EXPECT_EQ(reader.GetMaxFrameRate(0, {"d1"}), 0u);
}

// ---- the delivered database ---------------------------------------------------------------------

class DeliveredDatabase : public ::testing::Test {
 protected:
  struct Combination {
    std::vector<std::string> names;
    std::vector<uint32_t> rates;
  };

  // Every allowed combination of a mode with each stream's highest rate, walked through the queries.
  static std::vector<Combination> Combinations(CXMLDatabaseReader& reader, uint32_t mode) {
    std::vector<Combination> out;
    std::vector<std::vector<std::string>> partial = {{}};
    for (uint32_t stream = 0; stream < mode; ++stream) {
      std::vector<std::vector<std::string>> next;
      for (const auto& chosen : partial)
        for (const std::string& name : reader.GetAllowedResolutions(mode, chosen)) {
          next.push_back(chosen);
          next.back().push_back(name);
        }
      partial = std::move(next);
    }
    for (const auto& names : partial) {
      Combination c{names, {}};
      for (uint32_t stream = 0; stream < mode; ++stream) c.rates.push_back(reader.GetMaxFrameRate(stream, names));
      out.push_back(std::move(c));
    }
    return out;
  }

  static double Pixels(const std::string& name) {
    uint16_t w = 0, h = 0;
    EXPECT_TRUE(norvale::CResolutionHelper(kPal).GetResolutionSize(name, w, h)) << name;
    return w * static_cast<double>(h) / 1e6;
  }
};

// CXMLDatabaseReader is not copyable through its parser; build them in place.
#define OPEN_DELIVERED(var, standard, supported) \
  CXMLDatabaseReader var(standard);              \
  var.SetDirectory(ZEPHRIN_SOURCE_DIR "/data");  \
  ASSERT_TRUE(var.Open(supported, "Zephrin"))

TEST_F(DeliveredDatabase, OrdinaryCamerasSeeTheHdClass) {
  OPEN_DELIVERED(reader, kPal, "1080p,720p,d1,vga,cif,qvga");
  EXPECT_EQ(reader.GetStreamResolutions(0), (Names{"1080p", "720p", "cif", "d1", "vga"}));
  EXPECT_EQ(reader.GetStreamResolutions(1), (Names{"720p", "cif", "d1", "qvga", "vga"}));
  EXPECT_EQ(reader.GetStreamResolutions(2), (Names{"cif", "d1", "qvga", "vga"}));
  EXPECT_EQ(reader.GetAllowedResolutions(2, {"1080p"}), (Names{"720p", "cif", "d1", "qvga", "vga"}));
  EXPECT_EQ(reader.GetMaxFrameRate(0, {"1080p", "720p"}), 25u);
  EXPECT_EQ(reader.GetMaxFrameRate(1, {"1080p", "720p"}), 12u);
  EXPECT_EQ(reader.GetAllowedResolutions(3, {"1080p", "720p"}), (Names{"cif", "qvga"}));  // d1 would not fit
}

TEST_F(DeliveredDatabase, PanoramicCamerasAddTheMegapixelCombinations) {
  OPEN_DELIVERED(pal, kPal, "5m,3m,1080p,quadvga,720p,xga,d1,vga,cif,qvga");
  EXPECT_EQ(pal.GetStreamResolutions(0), (Names{"1080p", "3m", "5m", "720p", "cif", "d1", "quadvga", "vga"}));
  EXPECT_EQ(pal.GetMaxFrameRate(0, {"5m"}), 12u);
  EXPECT_EQ(pal.GetMaxFrameRate(0, {"3m"}), 15u);
  EXPECT_EQ(pal.GetMaxFrameRate(0, {"1080p"}), 25u);
  OPEN_DELIVERED(ntsc, kNtsc, "5m,3m,1080p,quadvga,720p,xga,d1,vga,cif,qvga");
  EXPECT_EQ(ntsc.GetMaxFrameRate(0, {"5m"}), 15u);
  EXPECT_EQ(ntsc.GetMaxFrameRate(0, {"3m"}), 15u);
  EXPECT_EQ(ntsc.GetMaxFrameRate(0, {"1080p"}), 30u);
  // The single-stream limits of the series 7 tables agree.
  for (int32_t standard : {kPal, kNtsc}) {
    const norvale::CFramerateHelper series7(standard, 7, false);
    CXMLDatabaseReader& reader = standard == kPal ? pal : ntsc;
    for (const char* name : {"5m", "3m", "1080p"})
      EXPECT_EQ(reader.GetMaxFrameRate(0, {name}), series7.GetMaxFrameRate(name, false)) << name << standard;
  }
}

TEST_F(DeliveredDatabase, EveryCombinationIsConsistent) {
  for (int32_t standard : {kPal, kNtsc}) {
    OPEN_DELIVERED(reader, standard, "5m");
    const uint32_t full = standard == kPal ? 25 : 30, half = standard == kPal ? 12 : 15;
    size_t count = 0;
    for (uint32_t mode = 1; mode <= 3; ++mode) {
      for (const Combination& c : Combinations(reader, mode)) {
        ++count;
        const bool panoramic = c.names[0] == "5m" || c.names[0] == "3m" || c.names[0] == "quadvga";
        double load = 0;
        for (size_t i = 0; i < c.names.size(); ++i) {
          const std::string& name = c.names[i];
          const uint32_t rate = c.rates[i];
          SCOPED_TRACE(name + " in mode " + std::to_string(mode) + " standard " + std::to_string(standard));
          // Streams never grow, rates are full or half (or the megapixel limits), the
          // recording stream keeps its best rate.
          if (i > 0) {
            EXPECT_FALSE(norvale::CResolutionHelper::IsSmallerResolution(c.names[i - 1], name));
          }
          if (name == "5m") {
            EXPECT_EQ(rate, half);
          } else if (name == "3m") {
            EXPECT_EQ(rate, 15u);
          } else {
            EXPECT_TRUE(rate == full || rate == half) << rate;
            if (i == 0) {
              EXPECT_EQ(rate, full);
            }
          }
          // The encoder load: pixels per full-rate frame period.
          double share = 1.0;
          if (name == "3m") {
            share = 0.6;
          } else if (name == "5m" || rate == half) {
            share = 0.5;
          }
          load += Pixels(name) * share;
        }
        EXPECT_LE(load, panoramic ? 3.2 : 2.6) << c.names[0];
      }
    }
    EXPECT_GT(count, 100u);
  }
}

TEST_F(DeliveredDatabase, BuildPutsTheCurrentFileBesideTheLibraries) {
  auto read = [](const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  };
  const std::string delivered = read(ZEPHRIN_BIN_DIR "/Zephrin.dat");
  EXPECT_FALSE(delivered.empty());
  EXPECT_EQ(delivered, read(ZEPHRIN_SOURCE_DIR "/data/Zephrin.dat"));
  CXMLDatabaseReader reader(kPal);
  reader.SetDirectory(ZEPHRIN_BIN_DIR);
  EXPECT_TRUE(reader.Open("1080p", "Zephrin"));
  EXPECT_EQ(reader.GetMaxFrameRate(0, {"1080p", "d1", "cif"}), 25u);
}

}  // namespace
