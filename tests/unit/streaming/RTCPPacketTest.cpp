#include <gtest/gtest.h>

#include <vector>

#include "streaming/CRTPSequenceStatistics.h"
#include "streaming/RTCPPacket.h"

namespace zephrin::test {
namespace {

using Bytes = std::vector<uint8_t>;
namespace rtcp = norvale::rtcp;

TEST(RtcpPackets, ReceiverReportAndByeByteForByte) {
  const uint8_t own[4] = {0xDE, 0xAD, 0xBE, 0xEF};
  const uint8_t reportee[4] = {0x11, 0x22, 0x33, 0x44};
  const uint8_t stamp[4] = {0xA1, 0xB2, 0xC3, 0xD4};
  Bytes rr(rtcp::kReceiverReportSize);
  rtcp::BuildReceiverReport(rr.data(), own, reportee, 0x0001FFFE, stamp, 32768);
  EXPECT_EQ(rr, (Bytes{0x81, 201,  0,    7, 0xDE, 0xAD, 0xBE, 0xEF, 0x11, 0x22, 0x33, 0x44, 0,    0,    0,   0, 0x00,
                       0x01, 0xFF, 0xFE, 0, 0,    0,    0,    0xA1, 0xB2, 0xC3, 0xD4, 0x00, 0x00, 0x80, 0x00}));
  Bytes bye(rtcp::kByeSize);
  rtcp::BuildBye(bye.data(), own);
  EXPECT_EQ(bye, (Bytes{0x81, 203, 0, 1, 0xDE, 0xAD, 0xBE, 0xEF}));
}

TEST(RtcpPackets, DelaySinceLastReportInUnitsOf65536PerSecond) {
  EXPECT_EQ(rtcp::DelaySinceLastSr(10500, 10000), 32768u);
  EXPECT_EQ(rtcp::DelaySinceLastSr(12000, 10000), 131072u);
  EXPECT_EQ(rtcp::DelaySinceLastSr(1, 10000), static_cast<uint32_t>(uint64_t{0xFFFFFFFFu - 9998} * 65536 / 1000));
  EXPECT_EQ(rtcp::DelaySinceLastSr(100, 0xFFFFFF9Cu), 13107u);  // across the tick counter's wrap
  EXPECT_EQ(rtcp::DelaySinceLastSr(5000, 0), 0u);               // no report stored
  EXPECT_EQ(rtcp::DelaySinceLastSr(10001, 10000), 65u);         // truncated
}

Bytes Header(uint8_t type, uint16_t words, uint8_t count = 0) {
  Bytes p((words + 1) * 4u, 0);
  p[0] = static_cast<uint8_t>(0x80 | count);
  p[1] = type;
  p[2] = static_cast<uint8_t>(words >> 8);
  p[3] = static_cast<uint8_t>(words);
  return p;
}

std::vector<std::pair<uint8_t, size_t>> Walk(const Bytes& datagram) {
  std::vector<std::pair<uint8_t, size_t>> seen;
  rtcp::WalkCompound(datagram.data(), datagram.size(), [&](uint8_t type, const uint8_t* packet, size_t size) {
    EXPECT_GE(packet, datagram.data());
    EXPECT_LE(packet + size, datagram.data() + datagram.size());
    seen.emplace_back(type, size);
  });
  return seen;
}

TEST(RtcpPackets, CompoundPacketsAreWalkedWholePacketByPacket) {
  Bytes compound = Header(200, 6);
  const Bytes sdes = Header(202, 3, 1);
  const Bytes bye = Header(203, 1, 1);
  compound.insert(compound.end(), sdes.begin(), sdes.end());
  compound.insert(compound.end(), bye.begin(), bye.end());
  EXPECT_EQ(Walk(compound), (std::vector<std::pair<uint8_t, size_t>>{{200, 28}, {202, 16}, {203, 8}}));

  Bytes truncated = compound;
  truncated.resize(compound.size() - 1);  // the BYE runs past the end
  EXPECT_EQ(Walk(truncated).size(), 2u);
  truncated.resize(28 + 3);  // three stray bytes after the SR
  EXPECT_EQ(Walk(truncated).size(), 1u);
  Bytes lying = Header(200, 0xFFFF);
  lying.resize(40);
  EXPECT_TRUE(Walk(lying).empty());
  EXPECT_TRUE(Walk({}).empty());
  EXPECT_EQ(Walk(Header(201, 0)).size(), 1u);  // an empty receiver report is 4 bytes
}

TEST(RtpSequenceStatistics, WrapsJumpsAndDuplicates) {
  norvale::CRTPSequenceStatistics stats;
  EXPECT_FALSE(stats.Started());
  stats.Update(65530);
  EXPECT_TRUE(stats.Started());
  EXPECT_EQ(stats.ExtendedHighest(), 65530u);
  EXPECT_EQ(stats.Received(), 1u);
  for (uint16_t s = 65531; s != 5; ++s) stats.Update(s);
  EXPECT_EQ(stats.Cycles(), 65536u);
  EXPECT_EQ(stats.ExtendedHighest(), 65536u + 4);
  EXPECT_EQ(stats.Received(), 11u);

  stats.Update(4);  // duplicate
  stats.Update(1);  // late
  EXPECT_EQ(stats.ExtendedHighest(), 65536u + 4);
  EXPECT_EQ(stats.Received(), 13u);

  stats.Update(2999 + 4);  // a jump just below the dropout limit is believed
  EXPECT_EQ(stats.Highest(), 3003);
  stats.Update(3003 + 3000);  // a bigger jump is not, and is not counted
  EXPECT_EQ(stats.Highest(), 3003);
  EXPECT_EQ(stats.Received(), 14u);
  stats.Update(3003 + 3001);  // ... until the next packet follows it: the statistics restart there
  EXPECT_EQ(stats.Highest(), 6004);
  EXPECT_EQ(stats.Cycles(), 0u);
  EXPECT_EQ(stats.Received(), 1u);
  EXPECT_EQ(stats.Base(), 6003u);

  stats.Update(6004 - 99);  // within the misorder window: a late packet
  EXPECT_EQ(stats.Highest(), 6004);
  EXPECT_EQ(stats.Received(), 2u);
  stats.Update(6004 - 100);  // beyond it: taken for a jump
  EXPECT_EQ(stats.Received(), 2u);
}

}  // namespace
}  // namespace zephrin::test
