// Digest challenges and answers, checked against the worked example of RFC 2617 (section 3.5).
#include <gtest/gtest.h>

#include <string>

#include "runtime/DigestAuth.h"

namespace norvale {
namespace {

const char kRfcChallenge[] =
    "Digest realm=\"testrealm@host.com\", qop=\"auth,auth-int\", "
    "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"";

DigestInput RfcInput() {
  DigestInput in;
  in.user = "Mufasa";
  in.realm = "testrealm@host.com";
  in.password = "Circle Of Life";
  in.nonce = "dcd98b7102dd2f0e8b11d0f600bfb0c093";
  in.method = "GET";
  in.uri = "/dir/index.html";
  in.nc = "00000001";
  in.cnonce = "0a4f113b";
  return in;
}

TEST(DigestAuth, TheRfcChallengeParsesIntoItsParameters) {
  const auto challenges = ParseChallenges(kRfcChallenge);
  ASSERT_EQ(challenges.size(), 1u);
  EXPECT_EQ(challenges[0].scheme, "Digest");
  EXPECT_EQ(challenges[0].Param("realm"), "testrealm@host.com");
  EXPECT_EQ(challenges[0].Param("qop"), "auth,auth-int");  // a quoted comma stays in the value
  EXPECT_EQ(challenges[0].Param("nonce"), "dcd98b7102dd2f0e8b11d0f600bfb0c093");
  EXPECT_EQ(challenges[0].Param("opaque"), "5ccc069c403ebaf9f0171e9517f40e41");
  EXPECT_EQ(challenges[0].Param("stale"), "");
}

TEST(DigestAuth, ResponseMatchesTheRfcExampleWithAndWithoutQop) {
  DigestInput in = RfcInput();
  in.qop = "auth";
  EXPECT_EQ(DigestResponse(in), "6629fae49393a05397450978507c4ef1");
  // Without qop the nonce count and client nonce take no part (the form RTSP cameras answer).
  in.qop.clear();
  EXPECT_EQ(DigestResponse(in), "670fd8c2df070c60b045671b8b24ff02");
  in.nc = "00000009";
  in.cnonce = "other";
  EXPECT_EQ(DigestResponse(in), "670fd8c2df070c60b045671b8b24ff02");
}

TEST(DigestAuth, SessionAlgorithmFoldsNonceAndClientNonceIntoHa1) {
  DigestInput in = RfcInput();
  in.qop = "auth";
  in.session = true;
  EXPECT_EQ(DigestResponse(in), "8e3825c57e897f5a0dec6c2d4e5059d0");
}

}  // namespace
}  // namespace norvale
