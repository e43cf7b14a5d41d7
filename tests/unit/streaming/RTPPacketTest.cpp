#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "streaming/CRTPPacket.h"
#include "streaming/CRTSPStreamParser.h"
#include "unit/streaming/RtpBytes.h"

using norvale::CRTPPacket;
using norvale::CRTSPStreamParser;
using zephrin::test::BuildRtp;
using zephrin::test::Interleave;
using zephrin::test::RtpSpec;

namespace {

bool Parse(CRTPPacket& packet, const std::vector<uint8_t>& bytes) { return packet.Parse(bytes.data(), bytes.size()); }

TEST(RTPPacket, ReadsHeaderFieldsInHostOrderAndKeepsSsrcAsReceived) {
  RtpSpec spec;
  spec.marker = true;
  spec.payloadType = 26;
  spec.sequence = 0xBEEF;
  spec.timestamp = 0x01020304;
  spec.ssrc = 0xA1B2C3D4;
  spec.payload = {9, 8, 7};
  CRTPPacket packet;
  const auto bytes = BuildRtp(spec);
  ASSERT_TRUE(Parse(packet, bytes));
  EXPECT_TRUE(packet.marker);
  EXPECT_FALSE(packet.padding);
  EXPECT_EQ(packet.payloadType, 26);
  EXPECT_EQ(packet.sequenceNumber, 0xBEEF);
  EXPECT_EQ(packet.timestamp, 0x01020304u);
  uint32_t expectedSsrc;
  std::memcpy(&expectedSsrc, bytes.data() + 8, 4);
  EXPECT_EQ(packet.ssrc, expectedSsrc);
  EXPECT_EQ(packet.payload, (std::vector<uint8_t>{9, 8, 7}));
  EXPECT_EQ(packet.PayloadLength(), 3u);
}

TEST(RTPPacket, PayloadStartsAfterCsrcListAndExtension) {
  RtpSpec spec;
  spec.csrcs = {0x01010101, 0x02020202};
  spec.extension = true;
  spec.extensionProfile = 0xBEDE;
  spec.extensionWords = {0xCAFEBABE};
  spec.payload = {0x55, 0x66};
  CRTPPacket packet;
  const auto bytes = BuildRtp(spec);
  ASSERT_TRUE(Parse(packet, bytes));
  EXPECT_EQ(packet.csrcCount, 2);
  EXPECT_EQ(packet.csrcList, std::vector<uint8_t>(bytes.begin() + 12, bytes.begin() + 20));
  EXPECT_EQ(packet.extensionProfile, 0xBEDE);
  EXPECT_EQ(packet.extensionLength, 1);
  EXPECT_EQ(packet.extensionData, (std::vector<uint8_t>{0xCA, 0xFE, 0xBA, 0xBE}));
  // 12 + 8 (CSRC) + 8 (extension header and one word)
  EXPECT_EQ(packet.payload, std::vector<uint8_t>(bytes.begin() + 28, bytes.end()));
}

TEST(RTPPacket, PaddingIsRemovedAndMayLeaveAnEmptyPayload) {
  RtpSpec spec;
  spec.payload = {1, 2, 3, 4, 5};
  spec.padding = 3;
  CRTPPacket packet;
  ASSERT_TRUE(Parse(packet, BuildRtp(spec)));
  EXPECT_TRUE(packet.padding);
  EXPECT_EQ(packet.payload, (std::vector<uint8_t>{1, 2, 3, 4, 5}));

  spec.payload.clear();
  spec.padding = 4;  // headers and padding fill the packet exactly
  ASSERT_TRUE(Parse(packet, BuildRtp(spec)));
  EXPECT_TRUE(packet.payload.empty());
}

TEST(RTPPacket, RejectsShortWrongVersionAndInconsistentPackets) {
  CRTPPacket packet;
  RtpSpec spec;
  auto twelve = BuildRtp(spec);
  twelve.resize(12);
  EXPECT_FALSE(Parse(packet, twelve));

  spec.version = 1;
  EXPECT_FALSE(Parse(packet, BuildRtp(spec)));
  spec.version = 2;

  // Padding count larger than what follows the header.
  auto padded = BuildRtp(spec);
  padded[0] |= 0x20;
  padded.back() = 200;
  EXPECT_FALSE(Parse(packet, padded));

  // CSRC list that reaches the end of the packet.
  RtpSpec csrc;
  csrc.csrcs = {1};
  csrc.payload.clear();
  EXPECT_FALSE(Parse(packet, BuildRtp(csrc)));

  // Extension bit with fewer than 4 bytes left, and an extension longer than the packet.
  RtpSpec ext;
  ext.payload = {1, 2};
  auto shortExt = BuildRtp(ext);
  shortExt[0] |= 0x10;
  EXPECT_FALSE(Parse(packet, shortExt));
  ext.extension = true;
  ext.extensionWords = {1};
  auto longExt = BuildRtp(ext);
  longExt[15] = 9;  // claims 9 words
  EXPECT_FALSE(Parse(packet, longExt));

  EXPECT_FALSE(packet.Parse(nullptr, 100));
}

TEST(RTPPacket, FailedParseLeavesNothingFromAnEarlierPacket) {
  RtpSpec spec;
  spec.csrcs = {7};
  spec.sequence = 77;
  CRTPPacket packet;
  ASSERT_TRUE(Parse(packet, BuildRtp(spec)));
  auto bad = BuildRtp(spec);
  bad.back() = 250;
  bad[0] |= 0x20;
  EXPECT_FALSE(Parse(packet, bad));
  EXPECT_EQ(packet.sequenceNumber, 0);
  EXPECT_TRUE(packet.csrcList.empty());
  EXPECT_TRUE(packet.payload.empty());
}

// ---- interleaved stream ---------------------------------------------------------------------------

class CollectingUser : public norvale::IRTSPClientUser {
 public:
  bool OnDescribe(const norvale::SDPDescription&) override { return true; }
  void OnInterleavedPacket(const CRTPPacket& packet) override {
    sequences.push_back(packet.sequenceNumber);
    payloads.push_back(packet.payload);
    if (throwOnPacket) throw std::runtime_error("user failure");
  }
  void OnClientStopped() override {}
  std::vector<uint16_t> sequences;
  std::vector<std::vector<uint8_t>> payloads;
  bool throwOnPacket = false;
};

std::vector<uint8_t> Rtp(uint16_t sequence, size_t payloadSize = 4) {
  RtpSpec spec;
  spec.sequence = sequence;
  spec.payload.assign(payloadSize, static_cast<uint8_t>(sequence));
  return BuildRtp(spec);
}

void Append(std::vector<uint8_t>& out, const std::vector<uint8_t>& more) {
  out.insert(out.end(), more.begin(), more.end());
}

TEST(RTSPStreamParser, TakesOnlyChannelZeroAfterRtspTextAndOtherChannels) {
  std::vector<uint8_t> stream;
  const std::string reply = "RTSP/1.0 200 OK\r\nCSeq: 4\r\nRTP-Info: url=rtsp://x/$1;seq=1\r\nPrice: 5$\r\n\r\n";
  stream.assign(reply.begin(), reply.end());
  // RTCP on channel 1 whose body happens to contain "$\0" and a plausible length.
  std::vector<uint8_t> rtcp{0x80, 0xC8, 0x00, 0x06, 0x24, 0x00, 0x00, 0x10, 0x24, 0x00, 0x00, 0x08};
  Append(stream, Interleave(1, rtcp));
  Append(stream, Interleave(0, Rtp(10)));
  Append(stream, Interleave(3, Rtp(99)));
  Append(stream, Interleave(0, Rtp(11)));

  CollectingUser user;
  CRTSPStreamParser parser(&user);
  parser.Feed(stream.data(), stream.size());
  EXPECT_EQ(user.sequences, (std::vector<uint16_t>{10, 11}));
}

TEST(RTSPStreamParser, FramesSplitAcrossReadsAreDeliveredOnceAndComplete) {
  std::vector<uint8_t> stream;
  Append(stream, Interleave(0, Rtp(1, 1000)));
  Append(stream, Interleave(0, Rtp(2, 3)));
  Append(stream, Interleave(0, Rtp(3, 1400)));
  // Every split point, including within the 4-byte frame header.
  for (size_t split = 0; split <= stream.size(); split += 7) {
    CollectingUser user;
    CRTSPStreamParser parser(&user);
    parser.Feed(stream.data(), split);
    parser.Feed(stream.data() + split, stream.size() - split);
    ASSERT_EQ(user.sequences, (std::vector<uint16_t>{1, 2, 3})) << "split at " << split;
    EXPECT_EQ(user.payloads[0].size(), 1000u);
    EXPECT_EQ(user.payloads[2], std::vector<uint8_t>(1400, 3));
  }
  // Byte by byte.
  CollectingUser user;
  CRTSPStreamParser parser(&user);
  for (uint8_t b : stream) parser.Feed(&b, 1);
  EXPECT_EQ(user.sequences, (std::vector<uint16_t>{1, 2, 3}));
}

TEST(RTSPStreamParser, RecoversAfterRepeatedSyncZeroLengthAndUnparsableFrames) {
  std::vector<uint8_t> stream{'$', '$'};  // a repeated '$' restarts the match on the second one
  Append(stream, Interleave(0, Rtp(5)));
  Append(stream, {'$', 0, 0, 0});                                                    // zero length: search again
  Append(stream, Interleave(0, {0x40, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}));  // version 1
  Append(stream, Interleave(0, Rtp(6)));
  CollectingUser user;
  user.throwOnPacket = true;  // a failing user does not stop the parser
  CRTSPStreamParser parser(&user);
  parser.Feed(stream.data(), stream.size());
  EXPECT_EQ(user.sequences, (std::vector<uint16_t>{5, 6}));
  EXPECT_EQ(parser.Rejected(), 1u);
}

}  // namespace
