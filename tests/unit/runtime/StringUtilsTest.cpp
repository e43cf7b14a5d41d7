// Text helpers used on CGI answers, RTSP headers, SDP and configuration values.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Socket.h"
#include "runtime/Base64.h"
#include "runtime/StringUtils.h"

namespace norvale {
namespace {

using Strings = std::vector<std::string>;

TEST(FormatString, FormatsAnyLength) {
  EXPECT_EQ("device 10.0.0.1:80", FormatString("device %s:%u", "10.0.0.1", 80u));
  const std::string big(70000, 'z');
  EXPECT_EQ(big + "!", FormatString("%s!", big.c_str()));
  EXPECT_EQ("", FormatString("%s", ""));
  EXPECT_EQ("", FormatString(nullptr));
}

TEST(Trim, RemovesBlanksAndTabsAtBothEndsOnly) {
  EXPECT_EQ("a b", Trim(" \ta b\t "));
  EXPECT_EQ("", Trim(" \t \t"));
  EXPECT_EQ("", Trim(""));
  EXPECT_EQ("x\r\n", Trim("  x\r\n")) << "line ends are not blanks";
  EXPECT_EQ("x", Trim("x"));
}

TEST(RemoveCharsAndLower, WorkCharacterByCharacter) {
  EXPECT_EQ("1280x720", RemoveChars(" 1280 x 720\"", " \""));
  EXPECT_EQ("abc", RemoveChars("abc", ""));
  EXPECT_EQ("digest realm=\"x\"", ToLower("Digest REALM=\"x\""));
}

TEST(ForLog, CameraTextFitsOnOneLogLine) {
  using namespace std::string_literals;
  EXPECT_EQ(norvale::ForLog("Error: parameter not found"), "Error: parameter not found");
  // Line breaks, terminal escapes, NUL bytes and bytes outside ASCII are shown, never passed on.
  EXPECT_EQ(norvale::ForLog("OK\r\nroot.X=\x1b[2J\0\x7f\xc3\xa9"s), "OK\\x0D\\x0Aroot.X=\\x1B[2J\\x00\\x7F\\xC3\\xA9");
  const std::string longAnswer(100000, 'a');
  EXPECT_EQ(norvale::ForLog(longAnswer), std::string(norvale::kLogTextLimit, 'a') + "...");
  EXPECT_EQ(norvale::ForLog(std::string(norvale::kLogTextLimit, 'b')), std::string(norvale::kLogTextLimit, 'b'));
  EXPECT_EQ(norvale::ForLog("\n\n\n", 2), "\\x0A\\x0A...");
  EXPECT_EQ(norvale::ForLog(""), "");
}

TEST(ParseInt, AcceptsAnOptionalSignAndDigitsOnly) {
  int32_t v = 99;
  EXPECT_TRUE(ParseInt("42", &v));
  EXPECT_EQ(42, v);
  EXPECT_TRUE(ParseInt("-17", &v));
  EXPECT_EQ(-17, v);
  EXPECT_TRUE(ParseInt("+8", &v));
  EXPECT_EQ(8, v);
  EXPECT_TRUE(ParseInt("007", &v));
  EXPECT_EQ(7, v);
  v = 99;
  for (const char* bad : {"", "+", "-", "12a", " 12", "12 ", "1.5", "0x10", "--1", "+-1", "1-"}) {
    EXPECT_FALSE(ParseInt(bad, &v)) << bad;
    EXPECT_EQ(99, v) << "a failed parse leaves the value alone";
  }
}

TEST(FindParamValue, FindsTheValueOfTheExactKeyOnAnyLine) {
  const std::string cgi = "root.Brand.Brand=ELMO\r\nroot.X=1\r\n";
  EXPECT_EQ("ELMO", FindParamValue("root.Brand.Brand", "=", cgi, "\r\n"));
  EXPECT_EQ("1", FindParamValue("root.X", "=", cgi, "\r\n"));
  EXPECT_EQ("", FindParamValue("root.Y", "=", cgi, "\r\n"));
}

TEST(FindParamValue, NameMustEqualTheKeyAfterTrimming) {
  EXPECT_EQ("", FindParamValue("root.Brand.Brand", "=", "xroot.Brand.Brand=1\r\n"));
  EXPECT_EQ("", FindParamValue("root.Brand", "=", "root.Brand.Brand=1\r\n"));
  EXPECT_EQ("2", FindParamValue("root.Brand", "=", "root.Brand.Brand=1\r\nroot.Brand=2"))
      << "a longer key sharing the prefix is skipped, the exact one found later";
  EXPECT_EQ("3", FindParamValue("root.A", "=", "xroot.A=1\n \t root.A \t=3\n"));
  EXPECT_EQ(" value with blanks ", FindParamValue("k", "=", "k= value with blanks \r\n")) << "the value is not trimmed";
}

TEST(FindParamValue, SeparatorMustComeBeforeTheNextDelimiter) {
  EXPECT_EQ("", FindParamValue("Session", ":", "Session\r\nCSeq: 2\r\n"));
  EXPECT_EQ("12345678;timeout=60", FindParamValue("Session", ":", "CSeq: 2\r\nSession:12345678;timeout=60\r\n"));
  EXPECT_EQ("", FindParamValue("key", "=", "key"));
  EXPECT_EQ("", FindParamValue("key", "=", "key=")) << "an empty value";
  EXPECT_EQ("last", FindParamValue("key", "=", "a=1\nkey=last")) << "the value may end the text";
}

TEST(FindParamValue, DelimitersAndSeparatorsAreAsGiven) {
  EXPECT_EQ("b", FindParamValue("a", ":", "x:1;a:b;c:d", ";"));
  EXPECT_EQ("2", FindParamValue("m", " -> ", "n -> 1|m -> 2|", "|"));
  EXPECT_EQ("10:20", FindParamValue("range", ":", "range:10:20\n")) << "only the first separator splits";
}

TEST(FindIntValue, DigitsOnlyElseZero) {
  const std::string cgi = "root.A=25\nroot.B=2x\nroot.C=\nroot.D=4294967297\nroot.E=-1\n";
  EXPECT_EQ(25u, FindIntValue("root.A", "=", cgi));
  EXPECT_EQ(0u, FindIntValue("root.B", "=", cgi));
  EXPECT_EQ(0u, FindIntValue("root.C", "=", cgi));
  EXPECT_EQ(1u, FindIntValue("root.D", "=", cgi)) << "wraps at 2^32";
  EXPECT_EQ(0u, FindIntValue("root.E", "=", cgi));
  EXPECT_EQ(0u, FindIntValue("root.Z", "=", cgi));
}

TEST(ToUnsigned, WrapsAndRejectsAnythingButDigits) {
  EXPECT_EQ(0u, ToUnsigned(""));
  EXPECT_EQ(4294967295u, ToUnsigned("4294967295"));
  EXPECT_EQ(0u, ToUnsigned("4294967296"));
  EXPECT_EQ(0u, ToUnsigned(" 1"));
  EXPECT_EQ(0u, ToUnsigned("+1"));
  EXPECT_EQ(0u, ToUnsigned("1 "));
  EXPECT_EQ(65535u, ToUnsigned16("65535"));
  EXPECT_EQ(0u, ToUnsigned16("65536"));
  EXPECT_EQ(4u, ToUnsigned16("65540"));
  EXPECT_EQ(0u, ToUnsigned16("12a"));
}

TEST(FindListValue, SplitsIntoNonEmptyItems) {
  const std::string cgi = "root.Res=1280x720,,640x480,\nroot.None=\n";
  EXPECT_EQ((Strings{"1280x720", "640x480"}), FindListValue("root.Res", "=", cgi, ","));
  EXPECT_TRUE(FindListValue("root.None", "=", cgi, ",").empty());
  EXPECT_TRUE(FindListValue("root.Missing", "=", cgi, ",").empty());
}

TEST(SplitJoin, RoundTripKeepingEmptyParts) {
  EXPECT_EQ((Strings{"a", "", "b"}), Split("a,,b", ","));
  EXPECT_EQ((Strings{"", "a", ""}), Split(",a,", ","));
  EXPECT_EQ((Strings{"a", "b"}), Split("a\r\nb", "\r\n"));
  EXPECT_EQ((Strings{""}), Split("", ","));
  EXPECT_EQ((Strings{"abc"}), Split("abc", ""));
  EXPECT_EQ("a,,b", Join(Split("a,,b", ","), ","));
  EXPECT_EQ("x; y; z", Join({"x", "y", "z"}, "; "));
  EXPECT_EQ("x", Join({"x"}, ","));
  EXPECT_EQ("", Join({}, ","));
}

TEST(HexToBytes, PairsOfEitherCaseWithOddAndForeignDigits) {
  EXPECT_EQ((std::vector<uint8_t>{0x00, 0xAB, 0xcd, 0xEF, 0x12}), HexToBytes("00abCDeF12"));
  EXPECT_EQ((std::vector<uint8_t>{0x12, 0x03}), HexToBytes("123")) << "an odd last digit is a byte of its own";
  EXPECT_EQ((std::vector<uint8_t>{0x0A, 0xB0}), HexToBytes("zAbg")) << "a non-hex character counts as 0";
  EXPECT_TRUE(HexToBytes("").empty());
}

TEST(PeriodFromRate, RoundsToNearestAndOneForZero) {
  EXPECT_EQ(40u, PeriodFromRate(25));
  EXPECT_EQ(33u, PeriodFromRate(30));
  EXPECT_EQ(67u, PeriodFromRate(15));
  EXPECT_EQ(143u, PeriodFromRate(7));
  EXPECT_EQ(1000u, PeriodFromRate(1));
  EXPECT_EQ(1u, PeriodFromRate(0));
  EXPECT_EQ(0u, PeriodFromRate(4000)) << "0.25 ms rounds down to 0";
  EXPECT_EQ(1u, PeriodFromRate(2000)) << "0.5 ms rounds up";
  EXPECT_EQ(0u, PeriodFromRate(0xFFFFFFFFu));
}

TEST(BasicCredentials, EncodesUserColonPassword) {
  std::string token = "stale";
  ASSERT_TRUE(BasicCredentials("Aladdin", "open sesame", &token));
  EXPECT_EQ("QWxhZGRpbjpvcGVuIHNlc2FtZQ==", token);
  ASSERT_TRUE(BasicCredentials("", "", &token));
  EXPECT_EQ("Og==", token);
  ASSERT_TRUE(BasicCredentials("root", "", &token));
  EXPECT_EQ("cm9vdDo=", token);
}

TEST(BasicCredentials, SeventyTwoCharactersFitOneMoreDoesNot) {
  std::string token;
  const std::string user(36, 'u');
  ASSERT_TRUE(BasicCredentials(user, std::string(35, 'p'), &token));  // 72 characters with the colon
  EXPECT_EQ(96u, token.size());
  EXPECT_EQ(std::string(36, 'u') + ":" + std::string(35, 'p'), [&] {
    std::string plain;
    for (auto b : Base64Decode(token)) plain += static_cast<char>(b);
    return plain;
  }());
  token = "stale";
  EXPECT_FALSE(BasicCredentials(user, std::string(36, 'p'), &token));
  EXPECT_EQ("", token);
  EXPECT_FALSE(BasicCredentials(std::string(300, 'u'), std::string(300, 'p'), &token));
  EXPECT_EQ("", token);
}

TEST(WideNarrow, Utf8RoundTripIncludingCharactersBeyondTheBasicPlane) {
  const std::string text = "Pr\xC3\xA4set \xE2\x82\xAC \xF0\x9F\x93\xB7 <&>";  // ä, €, camera emoji
  const std::u16string wide = Widen(text);
  EXPECT_EQ(u"Pr\u00E4set \u20AC \U0001F4F7 <&>", wide);
  EXPECT_EQ(text, Narrow(wide));
  EXPECT_EQ(u"", Widen(""));
  EXPECT_EQ("", Narrow(u""));
}

TEST(WideNarrow, MalformedInputBecomesReplacementCharacters) {
  EXPECT_EQ(u"a\uFFFDb", Widen("a\xFF"
                               "b"));
  const std::u16string cut = Widen("a\xE2\x82");  // cut short
  ASSERT_GE(cut.size(), 2u);
  EXPECT_EQ(u'a', cut[0]);
  EXPECT_EQ(std::u16string::npos, cut.find_first_not_of(u'\uFFFD', 1));
  EXPECT_EQ(u"\uFFFD\uFFFD", Widen("\xC0\xAF"));             // over-long "/" is not a slash
  EXPECT_EQ(u"\uFFFD", Widen("\xED\xA0\x80").substr(0, 1));  // an encoded surrogate
  EXPECT_EQ(
      "\xEF\xBF\xBD"
      "x",
      Narrow(std::u16string(1, char16_t(0xD800)) + u"x"));  // lone surrogate
}

TEST(ResolveHost, NumericAddressAndEmptyName) {
  EXPECT_EQ(platform::IPv4Address(10, 0, 0, 1), ResolveHost("10.0.0.1"));
  EXPECT_EQ(0u, ResolveHost(""));
}

}  // namespace
}  // namespace norvale
