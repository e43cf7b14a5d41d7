#include <gtest/gtest.h>

#include "camera/CHttpAuthenticator.h"
#include "runtime/MD5.h"

using Web::CHttpAuthenticator;
using Web::HttpChallenge;
using Web::ParseChallenges;

namespace {

TEST(HttpChallengeParse, QuotedValuesKeepCommasAndEscapes) {
  const auto c =
      ParseChallenges(R"(Digest realm="cam, lobby", nonce="x\"y\\z", qop="auth,auth-int", algorithm=MD5, Stale=TRUE)");
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].scheme, "Digest");
  EXPECT_EQ(c[0].params.at("realm"), "cam, lobby");
  EXPECT_EQ(c[0].params.at("nonce"), "x\"y\\z");
  EXPECT_EQ(c[0].params.at("qop"), "auth,auth-int");
  EXPECT_EQ(c[0].params.at("algorithm"), "MD5");
  EXPECT_EQ(c[0].params.at("stale"), "TRUE");  // names in lower case
}

TEST(HttpChallengeParse, SeveralChallengesInOneValue) {
  const auto c = ParseChallenges(R"(Basic realm="cam", Digest realm="cam", nonce=abc ,  opaque = "o")");
  ASSERT_EQ(c.size(), 2u);
  EXPECT_EQ(c[0].scheme, "Basic");
  EXPECT_EQ(c[0].params.at("realm"), "cam");
  EXPECT_EQ(c[1].scheme, "Digest");
  EXPECT_EQ(c[1].params.at("nonce"), "abc");
  EXPECT_EQ(c[1].params.at("opaque"), "o");
}

TEST(HttpChallengeParse, BrokenValuesAreReadAsFarAsTheyGo) {
  EXPECT_TRUE(ParseChallenges("").empty());
  EXPECT_TRUE(ParseChallenges(" , ,= =").empty());
  EXPECT_TRUE(ParseChallenges("realm=x").empty());  // a parameter without a scheme
  const auto open = ParseChallenges(R"(Digest realm="never closed)");
  ASSERT_EQ(open.size(), 1u);
  EXPECT_EQ(open[0].params.at("realm"), "never closed");
  const auto trailing = ParseChallenges("Digest nonce=\"a\\");
  ASSERT_EQ(trailing.size(), 1u);
  EXPECT_EQ(trailing[0].params.at("nonce"), "a\\");
}

TEST(HttpAuthenticator, NothingToSayBeforeAChallenge) {
  CHttpAuthenticator auth("user", "pw");
  EXPECT_TRUE(auth.HasCredentials());
  EXPECT_EQ(auth.Authorization("GET", "/x"), "");
  EXPECT_FALSE(CHttpAuthenticator("", "").HasCredentials());
  EXPECT_FALSE(auth.Challenge({}));
  EXPECT_FALSE(auth.Challenge({"Negotiate", "NTLM", "Digest realm=\"x\""}));  // a Digest needs a nonce
  EXPECT_EQ(auth.Authorization("GET", "/x"), "");
}

TEST(HttpAuthenticator, BasicAnswer) {
  CHttpAuthenticator auth("Aladdin", "open sesame");
  ASSERT_TRUE(auth.Challenge({"Basic realm=\"WallyWorld\""}));
  EXPECT_EQ(auth.Authorization("GET", "/x"), "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==");  // RFC 7617
}

TEST(HttpAuthenticator, DigestAnswerFollowsTheChallenge) {
  CHttpAuthenticator auth("Mufasa", "Circle Of Life");
  ASSERT_TRUE(
      auth.Challenge({R"(Digest realm="testrealm@host.com", qop="auth,auth-int", )"
                      R"(nonce="dcd98b7102dd2f0e8b11d0f600bfb0c093", opaque="5ccc069c403ebaf9f0171e9517f40e41")"}));
  const std::string header = auth.Authorization("GET", "/dir/index.html");
  EXPECT_EQ(header.rfind("Digest username=\"Mufasa\", realm=\"testrealm@host.com\", "
                         "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", uri=\"/dir/index.html\", algorithm=MD5, "
                         "response=\"",
                         0),
            0u)
      << header;
  EXPECT_NE(header.find(", opaque=\"5ccc069c403ebaf9f0171e9517f40e41\", qop=auth, nc=00000001, cnonce=\""),
            std::string::npos);
  // The response is RFC 2617's formula over the cnonce that was sent.
  const size_t at = header.find("cnonce=\"") + 8;
  const std::string cnonce = header.substr(at, header.find('"', at) - at);
  const std::string ha1 = norvale::MD5::Hex("Mufasa:testrealm@host.com:Circle Of Life");
  const std::string ha2 = norvale::MD5::Hex("GET:/dir/index.html");
  const std::string response =
      norvale::MD5::Hex(ha1 + ":dcd98b7102dd2f0e8b11d0f600bfb0c093:00000001:" + cnonce + ":auth:" + ha2);
  EXPECT_NE(header.find("response=\"" + response + "\""), std::string::npos);
  // The nonce count goes up with each use and starts again with a new nonce.
  EXPECT_NE(auth.Authorization("GET", "/dir/index.html").find("nc=00000002"), std::string::npos);
  ASSERT_TRUE(auth.Challenge({R"(Digest realm="testrealm@host.com", qop="auth", nonce="new", stale=true)"}));
  EXPECT_TRUE(auth.IsStale());
  EXPECT_NE(auth.Authorization("GET", "/").find("nc=00000001"), std::string::npos);
}

TEST(HttpAuthenticator, QuotedFieldsAreEscapedAndCannotBreakTheHeader) {
  CHttpAuthenticator auth("a\"b\r\nX-Evil: 1", "pw");
  ASSERT_TRUE(auth.Challenge({"Digest realm=\"r\\\"\", nonce=\"n\""}));
  const std::string header = auth.Authorization("GET", "/cgi-bin/io/output.cgi?action=1:\\");
  EXPECT_NE(header.find("username=\"a\\\"bX-Evil: 1\""), std::string::npos) << header;
  EXPECT_NE(header.find("realm=\"r\\\"\""), std::string::npos);
  EXPECT_NE(header.find("uri=\"/cgi-bin/io/output.cgi?action=1:\\\\\""), std::string::npos);
  EXPECT_EQ(header.find_first_of("\r\n"), std::string::npos);
  EXPECT_EQ(header.find("qop="), std::string::npos);  // the challenge offered none
}

}  // namespace
