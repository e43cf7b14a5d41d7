// Host process facts: executable path, host core version, processor count, environment, resolver.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "platform/Module.h"
#include "platform/Platform.h"
#include "platform/Socket.h"

namespace norvale::platform {
namespace {

// Sets (value non-null) or removes an environment variable of this process.
void SetVariable(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value ? value : "");
#else
  if (value)
    setenv(name, value, 1);
  else
    unsetenv(name);
#endif
}

#ifndef _WIN32
// The host core's version comes from the environment here (on Windows from Stavrik.dll's resource).

class HostVersion : public ::testing::Test {
 protected:
  void TearDown() override { SetVariable("STAVRIK_VERSION", nullptr); }
  bool Read(const char* text, Version* v) {
    SetVariable("STAVRIK_VERSION", text);
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
#else
TEST(HostVersion, UnreadableWithoutTheHostCoreLoaded) {
  SetVariable("STAVRIK_VERSION", "6.4.1234.7");  // not where Windows reads it from
  Version v{1, 2, 3, 4};
  EXPECT_FALSE(HostCoreVersion(&v));
  EXPECT_EQ(1, v.major);
  SetVariable("STAVRIK_VERSION", nullptr);
}
#endif

bool IsAbsolute(const std::string& path) {
#ifdef _WIN32
  return (path.size() > 2 && path[1] == ':' && path[2] == kPathSeparator) || path.rfind("\\\\", 0) == 0;
#else
  return !path.empty() && path.front() == kPathSeparator;
#endif
}

TEST(PlatformProcess, ExecutablePathNamesThisProgram) {
  const std::string path = ExecutablePath(499);
  ASSERT_FALSE(path.empty());
  EXPECT_TRUE(IsAbsolute(path)) << path;
  EXPECT_EQ(std::string::npos, path.find(kPathSeparator == '/' ? '\\' : '/')) << "one separator throughout";
  EXPECT_NE(std::string::npos, path.find("unit_platform"));
  EXPECT_EQ("", ExecutablePath(path.size() - 1)) << "a path longer than allowed is not cut";
  EXPECT_EQ(path, ExecutablePath(path.size()));
}

TEST(PlatformProcess, EnvironmentAndProcessors) {
  SetVariable("ZEPHRIN_TEST_VARIABLE", "value");
  EXPECT_EQ("value", GetEnv("ZEPHRIN_TEST_VARIABLE"));
  SetVariable("ZEPHRIN_TEST_VARIABLE", nullptr);
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
  EXPECT_EQ(IPv4Address(127, 0, 0, 1), ResolveIPv4("127.0.0.1"));
  EXPECT_EQ(IPv4Address(192, 168, 10, 20), ResolveIPv4("192.168.10.20"));
  EXPECT_EQ(0u, ResolveIPv4(""));
  EXPECT_EQ(0u, ResolveIPv4(nullptr));
}

}  // namespace
}  // namespace norvale::platform
