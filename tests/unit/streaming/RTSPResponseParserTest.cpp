#include <gtest/gtest.h>

#include <string>

#include "platform/Socket.h"
#include "streaming/CRTSPResponseParser.h"

using norvale::AuthScheme;
using norvale::CRTSPResponseParser;
using norvale::RTSPMethod;

namespace {

TEST(RTSPResponseParser, SetupReplyGivesStatusCSeqSessionAndTimeout) {
  CRTSPResponseParser parser;
  ASSERT_TRUE(
      parser.ParseResponse("RTSP/1.0 200 OK\r\nCSeq: 3\r\nTransport: RTP/AVP;unicast;client_port=3556-3557\r\n"
                           "Session: 12345678;timeout=60\r\nDate: today\r\n\r\n",
                           RTSPMethod::Setup));
  EXPECT_EQ(parser.Version(), "RTSP/1.0");
  EXPECT_EQ(parser.Status(), 200u);
  EXPECT_EQ(parser.CSeq(), 3u);
  EXPECT_EQ(parser.SessionId(), "12345678");
  EXPECT_EQ(parser.SessionTimeout(), 60);
  EXPECT_EQ(parser.NextCSeq(), 4u);
}

TEST(RTSPResponseParser, TransportSourceIsADottedIPv4AddressOrNothing) {
  CRTSPResponseParser parser;
  for (const char* source : {"SOURCE= 10.0.0.7 ;x=1", "source=cam.local", "source=10.0.0.256", "source=010.0.0.7.8"}) {
    ASSERT_TRUE(parser.ParseResponse(std::string("RTSP/1.0 200 OK\r\nTransport: RTP/AVP;") + source + "\r\n\r\n",
                                     RTSPMethod::Setup));
    EXPECT_EQ(parser.TransportSource(), source[0] == 'S' ? norvale::platform::IPv4Address(10, 0, 0, 7) : 0) << source;
  }
}

TEST(RTSPResponseParser, SessionHeaderRules) {
  CRTSPResponseParser parser;
  ASSERT_TRUE(parser.ParseResponse("RTSP/1.0 200 OK\r\nSession: A;timeout=45\r\n\r\n", RTSPMethod::Setup));
  // Without ';' the earlier timeout stays.
  ASSERT_TRUE(parser.ParseResponse("RTSP/1.0 200 OK\r\nSession: B\r\n\r\n", RTSPMethod::Setup));
  EXPECT_EQ(parser.SessionId(), "B");
  EXPECT_EQ(parser.SessionTimeout(), 45);
  // timeout=0 is stored as 30.
  ASSERT_TRUE(parser.ParseResponse("RTSP/1.0 200 OK\r\nSession: C; timeout=0\r\n\r\n", RTSPMethod::Setup));
  EXPECT_EQ(parser.SessionId(), "C");
  EXPECT_EQ(parser.SessionTimeout(), 30);
  // ';' followed only by another parameter clears the id and fails.
  EXPECT_FALSE(parser.ParseResponse("RTSP/1.0 200 OK\r\nSession: D;x=1\r\n\r\n", RTSPMethod::Setup));
  EXPECT_TRUE(parser.SessionId().empty());
  // No space after the colon yields no id.
  EXPECT_FALSE(parser.ParseResponse("RTSP/1.0 200 OK\r\nSession:E\r\n\r\n", RTSPMethod::Setup));
  // A response without Session keeps the id.
  ASSERT_TRUE(parser.ParseResponse("RTSP/1.0 200 OK\r\nSession: F\r\n\r\n", RTSPMethod::Setup));
  ASSERT_TRUE(parser.ParseResponse("RTSP/1.0 200 OK\r\nCSeq: 9\r\n\r\n", RTSPMethod::Options));
  EXPECT_EQ(parser.SessionId(), "F");
}

TEST(RTSPResponseParser, DigestAndBasicChallenges) {
  CRTSPResponseParser parser;
  ASSERT_TRUE(
      parser.ParseResponse("RTSP/1.0 401 Unauthorized\r\nCSeq: 1\r\n"
                           "WWW-Authenticate: Digest realm=\"Cam Realm\", nonce=\"a1b2c3\", stale=FALSE\r\n\r\n",
                           RTSPMethod::Options));
  EXPECT_EQ(parser.Status(), 401u);
  EXPECT_EQ(parser.ChallengeScheme(), AuthScheme::Digest);
  EXPECT_EQ(parser.Realm(), "Cam Realm");
  EXPECT_EQ(parser.Nonce(), "a1b2c3");

  // An empty nonce fails the Digest challenge.
  EXPECT_FALSE(parser.ParseResponse(
      "RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"R\", nonce=\"\"\r\n\r\n", RTSPMethod::Options));

  // A Basic challenge is accepted whatever its parameters; the last of several challenges wins.
  ASSERT_TRUE(
      parser.ParseResponse("RTSP/1.0 401 Unauthorized\r\n"
                           "WWW-Authenticate: Digest realm=\"R\", nonce=\"N\"\r\n"
                           "WWW-Authenticate: Basic charset=x\r\n\r\n",
                           RTSPMethod::Options));
  EXPECT_EQ(parser.ChallengeScheme(), AuthScheme::Basic);
  EXPECT_TRUE(parser.Realm().empty());

  // An unknown scheme is accepted as None; a token without parameters fails.
  ASSERT_TRUE(
      parser.ParseResponse("RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: Bearer x\r\n\r\n", RTSPMethod::Options));
  EXPECT_EQ(parser.ChallengeScheme(), AuthScheme::None);
  EXPECT_FALSE(
      parser.ParseResponse("RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic\r\n\r\n", RTSPMethod::Options));
  EXPECT_FALSE(
      parser.ParseResponse("RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate:Basic x\r\n\r\n", RTSPMethod::Options));
}

TEST(RTSPResponseParser, ContentBaseRules) {
  CRTSPResponseParser parser;
  ASSERT_TRUE(
      parser.ParseResponse("RTSP/1.0 200 OK\r\nContent-Base: rtsp://10.0.0.5/h264/ \t\r\n\r\n", RTSPMethod::Options));
  EXPECT_EQ(parser.ContentBase(), "rtsp://10.0.0.5/h264/");
  // Without rtsp:// the old value stays.
  ASSERT_TRUE(parser.ParseResponse("RTSP/1.0 200 OK\r\nContent-Base: http://x/\r\n\r\n", RTSPMethod::Options));
  EXPECT_EQ(parser.ContentBase(), "rtsp://10.0.0.5/h264/");
  // Spelled in another letter case, the header clears the value and fails.
  EXPECT_FALSE(parser.ParseResponse("RTSP/1.0 200 OK\r\ncontent-base: rtsp://y/\r\n\r\n", RTSPMethod::Options));
  EXPECT_TRUE(parser.ContentBase().empty());
}

TEST(RTSPResponseParser, StatusLineAndHeaderScanning) {
  CRTSPResponseParser parser;
  EXPECT_FALSE(parser.ParseResponse("", RTSPMethod::Options));
  EXPECT_FALSE(parser.ParseResponse("\r\n\r\n", RTSPMethod::Options));
  EXPECT_FALSE(parser.ParseResponse("RTSP/1.0 OK\r\n\r\n", RTSPMethod::Options));
  EXPECT_FALSE(parser.ParseResponse("RTSP/1.0 302 Moved\r\nCSeq: 2\r\n\r\n", RTSPMethod::Options));
  EXPECT_EQ(parser.Status(), 302u);
  EXPECT_FALSE(parser.ParseResponse("RTSP/1.0 404 Not Found\r\n\r\n", RTSPMethod::Options));
  EXPECT_FALSE(parser.ParseResponse("RTSP/1.0 200 OK\r\nCSeq: abc\r\n\r\n", RTSPMethod::Options));
  EXPECT_FALSE(parser.ParseResponse("RTSP/1.0 200 OK\r\nContent-Length: many\r\n\r\n", RTSPMethod::Options));
  EXPECT_FALSE(parser.ParseResponse("RTSP/1.0 200 OK\r\nContent-Type:\r\n\r\n", RTSPMethod::Options));
  // Unknown headers and short names are ignored, header names are matched in any case.
  ASSERT_TRUE(
      parser.ParseResponse("RTSP/1.0 200 OK\r\nX: y\r\n:z\r\nPublic: DESCRIBE\r\ncseq: 77\r\n"
                           "CONTENT-TYPE: Application/SDP\r\n\r\n",
                           RTSPMethod::Options));
  EXPECT_EQ(parser.CSeq(), 77u);
  EXPECT_EQ(parser.ContentType(), "application/sdp");
  // A 128-character version token: the number must follow the first 127 characters.
  EXPECT_FALSE(parser.ParseResponse(std::string(128, 'R') + " 200 OK\r\n\r\n", RTSPMethod::Options));
  ASSERT_TRUE(parser.ParseResponse(std::string(127, 'R') + " 200 OK\r\n\r\n", RTSPMethod::Options));
}

TEST(RTSPResponseParser, DescribeBodyIsReadUpToContentLength) {
  const std::string sdp = "m=video 0 RTP/AVP 26\r\na=control:track1\r\n";
  CRTSPResponseParser parser;
  ASSERT_TRUE(parser.ParseResponse("RTSP/1.0 200 OK\r\nContent-Type: application/sdp\r\nContent-Length: " +
                                       std::to_string(sdp.size()) + "\r\n\r\n" + sdp + "a=control:ignored\r\n",
                                   RTSPMethod::Describe));
  EXPECT_EQ(parser.Description().video.control, "track1");
  EXPECT_EQ(parser.ContentLength(), sdp.size());

  // A Content-Length beyond the text takes what is there.
  ASSERT_TRUE(parser.ParseResponse("RTSP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\n" + sdp, RTSPMethod::Describe));
  EXPECT_EQ(parser.Description().video.control, "track1");
  // A non-zero Content-Length without a blank line after the headers fails.
  EXPECT_FALSE(parser.ParseResponse("RTSP/1.0 200 OK\r\nContent-Length: 10\r\n", RTSPMethod::Describe));
  // A body that is not an acceptable description fails DESCRIBE but not another request.
  const std::string bad = "m=video 0 RTP/AVP 96\r\na=fmtp:96 x=1\r\n";
  const std::string response = "RTSP/1.0 200 OK\r\nContent-Length: " + std::to_string(bad.size()) + "\r\n\r\n" + bad;
  EXPECT_FALSE(parser.ParseResponse(response, RTSPMethod::Describe));
  EXPECT_TRUE(parser.ParseResponse(response, RTSPMethod::Options));
}

TEST(RTSPResponseParser, ResetClearsEverything) {
  CRTSPResponseParser parser;
  ASSERT_TRUE(
      parser.ParseResponse("RTSP/1.0 401 Unauthorized\r\nCSeq: 5\r\nSession: S;timeout=9\r\n"
                           "Content-Base: rtsp://h/\r\nWWW-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\n\r\n",
                           RTSPMethod::Options));
  parser.Reset();
  EXPECT_EQ(parser.Status(), 0u);
  EXPECT_EQ(parser.CSeq(), 0u);
  EXPECT_TRUE(parser.SessionId().empty());
  EXPECT_EQ(parser.SessionTimeout(), 0);
  EXPECT_TRUE(parser.ContentBase().empty());
  EXPECT_EQ(parser.ChallengeScheme(), AuthScheme::None);
  EXPECT_TRUE(parser.Realm().empty());
  EXPECT_TRUE(parser.Nonce().empty());
}

}  // namespace
