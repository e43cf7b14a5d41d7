#include <gtest/gtest.h>

#include <string>

#include "runtime/Base64.h"
#include "streaming/CSDPResponseParser.h"

using norvale::CSDPResponseParser;
using norvale::SDPDescription;

namespace {

const std::vector<uint8_t> kSps{0x67, 0x42, 0x00, 0x1E, 0x95, 0xA8, 0x28, 0x0F, 0x64};
const std::vector<uint8_t> kPps{0x68, 0xCE, 0x3C, 0x80};

std::string H264Description() {
  return "v=0\r\n"
         "o=- 1 1 IN IP4 192.168.0.9\r\n"
         "s=Session\r\n"
         "c=IN IP4 0.0.0.0\r\n"
         "t=0 0\r\n"
         "a=control:*\r\n"
         "m=video 0 RTP/AVP 96\r\n"
         "a=rtpmap:96 H264/90000\r\n"
         "a=fmtp:96 packetization-mode=1;profile-level-id=42001E;sprop-parameter-sets=" +
         norvale::Base64Encode(kSps.data(), kSps.size()) + "," + norvale::Base64Encode(kPps.data(), kPps.size()) +
         "\r\n"
         "a=control:trackID=1\r\n"
         "m=audio 0 RTP/AVP 0\r\n"
         "a=rtpmap:0 PCMU/8000\r\n"
         "a=control:trackID=2\r\n";
}

TEST(SDPParser, TypicalH264DescriptionFillsVideoAndAudioSlots) {
  CSDPResponseParser parser;
  ASSERT_TRUE(parser.Parse(H264Description()));
  const SDPDescription& d = parser.Description();
  EXPECT_EQ(d.video.port, 0);
  EXPECT_EQ(d.video.protocol, "RTP/AVP");
  EXPECT_EQ(d.video.encoding, "H264/90000");
  EXPECT_EQ(d.video.control, "trackID=1");
  EXPECT_EQ(d.sps, kSps);
  EXPECT_EQ(d.pps, kPps);
  EXPECT_TRUE(d.config.empty());
  EXPECT_EQ(d.audio.encoding, "PCMU/8000");
  EXPECT_EQ(d.audio.control, "trackID=2");
  // The session-level c= and a=control lines are accepted but stored nowhere.
  EXPECT_TRUE(d.video.connectionAddress.empty());
  EXPECT_TRUE(d.metadata.control.empty());
}

TEST(SDPParser, ParameterSetsAreFoundAsFirstFormatParameterToo) {
  const std::string text =
      "m=video 0 RTP/AVP 96\r\na=fmtp:96 sprop-parameter-sets=" + norvale::Base64Encode(kSps.data(), kSps.size()) +
      "," + norvale::Base64Encode(kPps.data(), kPps.size()) + ";packetization-mode=1\r\n";
  CSDPResponseParser parser;
  ASSERT_TRUE(parser.Parse(text));
  EXPECT_EQ(parser.Description().sps, kSps);
  EXPECT_EQ(parser.Description().pps, kPps);
}

TEST(SDPParser, Mpeg4ConfigAsHexOrBase64) {
  CSDPResponseParser parser;
  ASSERT_TRUE(
      parser.Parse("m=video 0 RTP/AVP 96\r\na=rtpmap:96 MP4V-ES/90000\r\n"
                   "a=fmtp:96 profile-level-id=1;config=000001B001000001b58913\r\n"));
  EXPECT_EQ(parser.Description().config,
            (std::vector<uint8_t>{0x00, 0x00, 0x01, 0xB0, 0x01, 0x00, 0x00, 0x01, 0xB5, 0x89, 0x13}));

  // An odd last digit is a byte of its own; a non-hex digit counts as 0.
  ASSERT_TRUE(parser.Parse("m=video 0 RTP/AVP 96\r\na=fmtp:96 config=1gA\r\n"));
  EXPECT_EQ(parser.Description().config, (std::vector<uint8_t>{0x10, 0x0A}));

  // A value with '=' is Base64.
  ASSERT_TRUE(parser.Parse("m=video 0 RTP/AVP 96\r\na=fmtp:96 profile-level-id=1;config=AAABsA==\r\n"));
  EXPECT_EQ(parser.Description().config, (std::vector<uint8_t>{0x00, 0x00, 0x01, 0xB0}));
}

TEST(SDPParser, FormatParametersNeedTheirSlot) {
  CSDPResponseParser parser;
  // Neither parameter sets nor config in the video slot fails; the same line in audio is accepted.
  EXPECT_FALSE(parser.Parse("m=video 0 RTP/AVP 96\r\na=fmtp:96 packetization-mode=1\r\n"));
  EXPECT_TRUE(parser.Parse("m=audio 0 RTP/AVP 97\r\na=fmtp:97 packetization-mode=1\r\n"));
  EXPECT_TRUE(parser.Parse("m=application 0 RTP/AVP 107\r\na=fmtp:107 x=1\r\n"));
  // Session level (before any m= line) and after an m= line of an unknown kind: no slot.
  EXPECT_FALSE(parser.Parse("v=0\r\na=fmtp:96 config=00\r\n"));
  EXPECT_FALSE(parser.Parse("m=text 0 RTP/AVP 98\r\na=fmtp:98 config=00\r\n"));
  // One parameter set only, or one that does not decode.
  EXPECT_FALSE(parser.Parse("m=video 0 RTP/AVP 96\r\na=fmtp:96 sprop-parameter-sets=Z0IAHg==\r\n"));
  EXPECT_FALSE(parser.Parse("m=video 0 RTP/AVP 96\r\na=fmtp:96 sprop-parameter-sets=Z0IAHg==,!!\r\n"));
  // A parameter set that decodes to more than 256 bytes yields nothing, so the line fails.
  const std::vector<uint8_t> big(300, 0x42);
  EXPECT_FALSE(parser.Parse("m=video 0 RTP/AVP 96\r\na=fmtp:96 sprop-parameter-sets=" +
                            norvale::Base64Encode(big.data(), big.size()) + ",aM48gA==\r\n"));
}

TEST(SDPParser, ConnectionLines) {
  CSDPResponseParser parser;
  ASSERT_TRUE(parser.Parse("m=video 5004 RTP/AVP 96\r\nc=IN IP4 239.1.2.3/16\r\n"));
  EXPECT_EQ(parser.Description().video.connectionAddress, "239.1.2.3");
  EXPECT_EQ(parser.Description().video.port, 5004);
  EXPECT_TRUE(parser.Parse("m=video 0 RTP/AVP 96\r\nc=IN IP6 ::1\r\n"));
  // Lower case is classified as a connection line but "in" is not "IN".
  EXPECT_FALSE(parser.Parse("m=video 0 RTP/AVP 96\r\nc=in ip4 10.0.0.1\r\n"));
  EXPECT_FALSE(parser.Parse("c=IN IP4\r\n"));
  EXPECT_FALSE(parser.Parse("c=IN IPX 1.2.3.4\r\n"));
  EXPECT_FALSE(parser.Parse("c=IN IP4 /32\r\n"));
}

TEST(SDPParser, MediaControlAndRtpmapLines) {
  CSDPResponseParser parser;
  EXPECT_FALSE(parser.Parse("m=\r\n"));
  EXPECT_FALSE(parser.Parse("m= video 0 RTP/AVP 96\r\n"));  // empty first field
  ASSERT_TRUE(parser.Parse("m=VIDEO 12a RTP/AVP 96\r\n"));  // kind case-insensitive, port not numeric
  EXPECT_EQ(parser.Description().video.port, 0);
  EXPECT_EQ(parser.Description().video.protocol, "RTP/AVP");
  // Fewer than three fields store nothing but are accepted.
  ASSERT_TRUE(parser.Parse("m=video 0\r\n"));
  EXPECT_TRUE(parser.Description().video.protocol.empty());

  EXPECT_FALSE(parser.Parse("m=video 0 RTP/AVP 96\r\na=control:\r\n"));
  EXPECT_FALSE(parser.Parse("m=video 0 RTP/AVP 96\r\na=control\r\n"));
  ASSERT_TRUE(parser.Parse("m=video 0 RTP/AVP 96\r\na=control:rtsp://10.0.0.1/media/video1"));
  EXPECT_EQ(parser.Description().video.control, "rtsp://10.0.0.1/media/video1");  // last line without end

  EXPECT_FALSE(parser.Parse("m=video 0 RTP/AVP 96\r\na=rtpmap:96\r\n"));
  ASSERT_TRUE(parser.Parse("m=data 0 RTP/AVP 107\r\na=rtpmap:107 vnd.onvif.metadata/90000\r\n"));
  EXPECT_EQ(parser.Description().metadata.encoding, "vnd.onvif.metadata/90000");
}

TEST(SDPParser, EmptyTextAndBareLineEndsAreAccepted) {
  CSDPResponseParser parser;
  ASSERT_TRUE(parser.Parse(H264Description()));
  ASSERT_TRUE(parser.Parse(""));
  EXPECT_TRUE(parser.Description().sps.empty());  // the old description is gone
  EXPECT_TRUE(parser.Description().video.control.empty());
  ASSERT_TRUE(parser.Parse("\n\nm=video 0 RTP/AVP 26\n\na=control:trackID=0\n"));
  EXPECT_EQ(parser.Description().video.control, "trackID=0");
}

}  // namespace
