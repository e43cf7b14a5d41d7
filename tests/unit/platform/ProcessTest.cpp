// Host process facts: executable path, host core version, processor count, environment, resolver.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "platform/Platform.h"

namespace norvale::platform {
namespace {

class HostVersion : public ::testing::Test {
 protected:
  void TearDown() override { unsetenv("STAVRIK_VERSION"); }
  bool Read(const char* text, Version* v) {
    if (text)
      setenv("STAVRIK_VERSION", text, 1);
    else
      unsetenv("STAVRIK_VERSION");
    return HostCoreVersion(v);
  }
};

TEST_F(HostVersion, FourPartVersionIsRead) {
  Version v{};
  ASSERT_TRUE(Read("6.4.1234.7", &v));
  EXPECT_EQ(6, v.major);
  EXPECT_EQ(4, v.minor);
  EXPECT_EQ(1234, v.build);
  EXPECT_EQ(7, v.revision);
  ASSERT_TRUE(Read("65535.0.0.0", &v));
  EXPECT_EQ(65535, v.major);
}

TEST_F(HostVersion, AbsentOrMalformedVersionIsUnreadable) {
  Version v{1, 2, 3, 4};
  for (const char* text :
       {static_cast<const char*>(nullptr), "", "6.4", "6.4.0", "6.4.0.0.1", "6.4.0.x", "v6.4.0.0", "6.4.0.0 ",
        " 6.4.0.0", "-6.4.0.0", "+6.4.0.0", "6.-4.0.0", "65536.0.0.0", "6..0.0", "4294967302.4.0.0"}) {
    EXPECT_FALSE(Read(text, &v)) << (text ? text : "(unset)");
  }
  EXPECT_EQ(1, v.major) << "a failed read leaves the output alone";
  EXPECT_FALSE(Read("6.4.0.0", nullptr));
}

TEST(PlatformProcess, ExecutablePathNamesThisProgram) {
  const std::string path = ExecutablePath(499);
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(kPathSeparator, path.front());
  EXPECT_NE(std::string::npos, path.find("unit_platform"));
  EXPECT_EQ("", ExecutablePath(path.size() - 1)) << "a path longer than allowed is not cut";
  EXPECT_EQ(path, ExecutablePath(path.size()));
}

TEST(PlatformProcess, EnvironmentAndProcessors) {
  setenv("ZEPHRIN_TEST_VARIABLE", "value", 1);
  EXPECT_EQ("value", GetEnv("ZEPHRIN_TEST_VARIABLE"));
  unsetenv("ZEPHRIN_TEST_VARIABLE");
  EXPECT_EQ("", GetEnv("ZEPHRIN_TEST_VARIABLE"));
  EXPECT_EQ("", GetEnv(nullptr));
  EXPECT_GE(ProcessorCount(), 1u);
}

TEST(PlatformProcess, RandomValuesVary) {
  std::set<uint32_t> seen;
  for (int i = 0; i < 16; ++i) seen.insert(Random32());
  EXPECT_GT(seen.size(), 8u);
}

TEST(PlatformResolve, NumericAddressesAndEmptyNames) {
  EXPECT_EQ(htonl(0x7F000001u), ResolveIPv4("127.0.0.1"));
  EXPECT_EQ(htonl(0xC0A80A14u), ResolveIPv4("192.168.10.20"));
  EXPECT_EQ(0u, ResolveIPv4(""));
  EXPECT_EQ(0u, ResolveIPv4(nullptr));
}

}  // namespace
}  // namespace norvale::platform
