// Operation results and how they reach the log.
#include <gtest/gtest.h>

#include <string>

#include "runtime/CResultDef.h"
#include "support/FakeDriver.h"

namespace norvale {
namespace {

using zephrin::test::FakeDriver;

TEST(CResultDef, DefaultIsSuccessAtInformationLevel) {
  CResultDef result;
  EXPECT_TRUE(result.Succeeded());
  EXPECT_EQ(0, result.Code());
  EXPECT_EQ(LogInfo, result.Level());
  EXPECT_EQ("", result.Message());
}

TEST(CResultDef, SetResultAlwaysMeansAnError) {
  CResultDef result;
  result.SetResultEx(LogDebug, 0, "quiet");
  result.SetResult(9, "not found");
  EXPECT_EQ(LogError, result.Level());
  EXPECT_EQ(9, result.Code());
  EXPECT_EQ("not found", result.Message());
  EXPECT_FALSE(result.Succeeded());
  result.SetResult(0, "");
  EXPECT_EQ(LogError, result.Level());
  EXPECT_TRUE(result.Succeeded());
}

TEST(CResultDef, SetResultExFormatsTheMessage) {
  CResultDef result;
  result.SetResultEx(LogWarning, 8, "%s: status %d for %s", "norvale::X::Y", 503, "/cgi-bin/admin/param.cgi");
  EXPECT_EQ(LogWarning, result.Level());
  EXPECT_EQ(8, result.Code());
  EXPECT_EQ("norvale::X::Y: status 503 for /cgi-bin/admin/param.cgi", result.Message());

  const std::string longText(5000, 'x');
  result.SetResultEx(LogError, 1, "[%s]", longText.c_str());
  EXPECT_EQ("[" + longText + "]", result.Message());
}

TEST(CResultDef, NullFormatLeavesAnEmptyMessage) {
  CResultDef result;
  result.SetResult(3, "old text");
  result.SetResultEx(LogWarning, 5, nullptr);
  EXPECT_EQ(LogWarning, result.Level());
  EXPECT_EQ(5, result.Code());
  EXPECT_EQ("", result.Message());
}

TEST(CResultDef, CopyCarriesLevelCodeAndMessage) {
  CResultDef a;
  a.SetResultEx(LogWarning, 12, "empty body");
  CResultDef b;
  b = a;
  EXPECT_EQ(LogWarning, b.Level());
  EXPECT_EQ(12, b.Code());
  EXPECT_EQ("empty body", b.Message());
}

TEST(CResultDef, ReportLogsTheMessageLiterallyAtItsLevel) {
  FakeDriver driver;
  CResultDef result;
  result.SetResultEx(LogWarning, 8, "%s", "50%s done %d %n");
  result.Report(&driver);
  const auto lines = driver.Lines();
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(LogWarning, lines[0].level);
  EXPECT_EQ("50%s done %d %n", lines[0].text);
}

TEST(CResultDef, ReportSkipsEmptyMessagesAndDebugLevel) {
  FakeDriver driver;
  CResultDef result;
  result.SetResult(10, "");
  result.Report(&driver);
  result.SetResultEx(LogDebug, 1, "debug detail");
  result.Report(&driver);
  CResultDef().Report(&driver);
  EXPECT_TRUE(driver.Lines().empty());
  result.SetResultEx(LogInfo, 0, "fine");
  result.Report(&driver);
  result.Report(nullptr);
  ASSERT_EQ(1u, driver.Lines().size());
  EXPECT_EQ(LogInfo, driver.Lines()[0].level);
}

}  // namespace
}  // namespace norvale
