// Where the resolution database is looked for, and what the log says about the one found: a host
// that keeps no Zephrin.dat beside itself still gets the file installed with the driver.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/FakeDriver.h"
#include "videosettings/CXMLDatabaseReader.h"
#include "support/TempDir.h"

using norvale::CXMLDatabaseReader;
namespace fs = std::filesystem;

namespace {

TEST(DatabaseLocation, HostDirectoryFirstThenBesideTheLibraryThenTheInstalledDataDirectory) {
  CXMLDatabaseReader reader(0);
  const auto places = reader.DatabaseCandidates("Zephrin");
  ASSERT_GE(places.size(), 3u);
  EXPECT_EQ(places[0].first, reader.DatabasePath("Zephrin"));
  EXPECT_STREQ(places[0].second, "in the host's directory");
  EXPECT_STREQ(places[1].second, "beside the driver library");
  for (size_t i = 2; i < places.size(); ++i) {
    EXPECT_STREQ(places[i].second, "in the installed data directory");
    const fs::path file = fs::path(places[i].first).lexically_normal();
    EXPECT_EQ(file.filename(), "Zephrin.dat");
    EXPECT_EQ(file.parent_path().filename(), "zephrin");
  }
  // The first data directory is found from the library's own place, so a moved installation (a
  // staging directory, another prefix) finds its own file; the log shows it without detours.
  EXPECT_NE(places[2].first, places[1].first);
  EXPECT_EQ(places[2].first.find("/../"), std::string::npos) << places[2].first;

  // A directory given explicitly is the only place.
  reader.SetDirectory("/opt/host");
  EXPECT_EQ(reader.DatabaseCandidates("Zephrin").size(), 1u);
}

TEST(DatabaseLocation, LogSaysWhichFileWasOpenedOrWhereItLooked) {
  const zephrin::test::TempDir temp("zephrin-dbloc");
  const fs::path& directory = temp.Path();
  zephrin::test::FakeDriver driver;
  driver.deviceInfo.address = "192.0.2.7";
  driver.deviceInfo.port = 8080;
  const std::string file = (directory / "Zephrin.dat").string();
  {
    CXMLDatabaseReader reader(0, &driver);
    reader.SetDirectory(directory.string());
    EXPECT_FALSE(reader.Open("1080p", "Zephrin"));
    EXPECT_FALSE(reader.Open("1080p", "Zephrin"));  // a second round does not repeat the warning
    ASSERT_EQ(driver.Lines().size(), 1u);
    EXPECT_EQ(driver.Lines()[0].level, norvale::LogWarning);
    EXPECT_NE(driver.Lines()[0].text.find(file), std::string::npos) << driver.Lines()[0].text;
    EXPECT_NE(driver.Lines()[0].text.find("192.0.2.7:8080"), std::string::npos) << driver.Lines()[0].text;
  }
  driver.ClearLines();
  std::ofstream(file) << "<Database><Resolutions/></Database>";
  {
    CXMLDatabaseReader reader(0, &driver);
    reader.SetDirectory(directory.string());
    EXPECT_TRUE(reader.Open("1080p", "Zephrin"));
    EXPECT_TRUE(reader.Open("1080p,5m", "Zephrin"));  // already open: said once
    ASSERT_EQ(driver.Lines().size(), 1u);
    EXPECT_EQ(driver.Lines()[0].level, norvale::LogInfo);
    EXPECT_EQ(driver.Lines()[0].text, "norvale::CXMLDatabaseReader::Open: resolution database " + file +
                                          " (in the host's directory) for device 192.0.2.7:8080");
  }
}

}  // namespace
