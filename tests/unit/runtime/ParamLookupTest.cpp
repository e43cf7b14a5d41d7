#include <gtest/gtest.h>

#include "runtime/StringUtils.h"

using norvale::FindParamValue;

namespace {

TEST(ParamLookup, NameBeforeSeparatorMustEqualKeyAfterTrimming) {
  const std::string text = "xroot.Brand.Brand=1\r\n  root.Brand.Brand =ELMO\r\nroot.X=1";
  EXPECT_EQ(FindParamValue("root.Brand.Brand", "=", text), "ELMO");
  EXPECT_EQ(FindParamValue("root.X", "=", text), "1");  // runs to the end of the text
  EXPECT_EQ(FindParamValue("root.Y", "=", text), "");
}

TEST(ParamLookup, EmptyValueLetsTheSearchGoOn) {
  EXPECT_EQ(FindParamValue("config", "=", "a=fmtp:96 config=;config=00FF", ";\r\n"), "00FF");
  EXPECT_EQ(FindParamValue("key", "=", "key=\r\nkey=2"), "2");
}

TEST(ParamLookup, SeparatorMustComeBeforeTheLineEnds) {
  EXPECT_EQ(FindParamValue("key", "=", "key\r\nother=5"), "");
  EXPECT_EQ(FindParamValue("Session:", " ", "Session:abc;timeout=5", ";\r\n"), "");
  EXPECT_EQ(FindParamValue("Session:", " ", "Session: abc;timeout=5", ";\r\n"), "abc");
  EXPECT_EQ(FindParamValue("timeout", "=", "Session: abc;timeout=5", ";\r\n"), "5");
}

TEST(ParamLookup, EmptyKeySeparatorOrDelimitersGiveNothing) {
  EXPECT_EQ(FindParamValue("", "=", "=1"), "");
  EXPECT_EQ(FindParamValue("a", "", "a=1"), "");
  EXPECT_EQ(FindParamValue("a", "=", "a=1", ""), "");
}

}  // namespace
