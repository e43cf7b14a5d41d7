// Every frame or packet a depacketizer throws away is counted under the reason it was thrown away,
// so a field report of "frames missing" can be told apart: network loss, a camera sending what the
// format does not allow, or a host refusing or failing to take frames.
#include <gtest/gtest.h>

#include "runtime/StringUtils.h"
#include "streaming/CH264RTPMediaParser.h"
#include "streaming/CJpegRTPMediaParser.h"
#include "streaming/CMpeg4RTPMediaParser.h"
#include "unit/streaming/DepacketizerTestSupport.h"

namespace zephrin::test {
namespace {

using norvale::MediaDropCounts;

const Bytes kSps = norvale::HexToBytes("6764001eacb40501ed80b5060606a5000003000100000300328f162ea0");
const Bytes kPps = norvale::HexToBytes("68ef3cb0");
const Bytes kIdr = {0x65, 0x88, 0x11, 0x22};
const Bytes kSlice = {0x41, 0x9A, 0x11, 0x22};

// Compares every reason at once, so a drop counted under a wrong reason shows in the message.
void ExpectDrops(const MediaDropCounts& actual, const MediaDropCounts& expected) {
  EXPECT_EQ(actual.Text(), expected.Text());
  EXPECT_EQ(actual.Total(), expected.Total());
}

class H264Drops : public DepacketizerFixture<norvale::CH264RTPMediaParser> {
 protected:
  void KeyFrame(uint32_t ts) {
    Feed(ts, false, kSps);
    Feed(ts, false, kPps);
    Feed(ts, true, kIdr);
  }
};

TEST_F(H264Drops, EachFaultCountsUnderItsOwnReason) {
  MediaDropCounts expected;
  Feed(1000, true, kSlice);  // before any key frame
  ++expected.noKeyFrame;
  ExpectDrops(parser.Drops(), expected);

  KeyFrame(2000);
  ASSERT_EQ(client.frames.size(), 1u);
  ExpectDrops(parser.Drops(), expected);  // a delivered frame counts nothing

  ++sequence;  // one packet lost
  Feed(3000, true, kSlice);
  ++expected.loss;
  ++expected.noKeyFrame;  // the frame after the loss cannot be decoded alone
  ExpectDrops(parser.Drops(), expected);

  Feed(4000, false, {0x41});  // a single unit without payload
  ++expected.malformed;
  Feed(4000, false, {24, 0x00, 0x09, 0x41});  // STAP-A unit longer than the packet
  ++expected.malformed;
  Feed(4000, false, {0x7C, 0x85});  // FU-A without fragment bytes
  ++expected.badFuA;
  Feed(4000, false, {0x19, 0x00, 0x02, 0x41, 0x9A});  // STAP-B
  ++expected.unsupported;
  Feed(4000, false, {});
  ++expected.malformed;
  ExpectDrops(parser.Drops(), expected);

  KeyFrame(5000);
  client.accept = false;
  Feed(6000, true, kSlice);
  client.accept = true;
  ++expected.refused;
  KeyFrame(7000);
  allocator.failAllocation = true;
  Feed(8000, true, kSlice);
  allocator.failAllocation = false;
  ++expected.allocationFailed;
  KeyFrame(9000);
  allocator.withoutMemory = true;
  Feed(10000, true, kSlice);
  allocator.withoutMemory = false;
  ++expected.copyFailed;
  KeyFrame(11000);
  client.throwOnDelivery = true;
  Feed(12000, true, kSlice);
  client.throwOnDelivery = false;
  ++expected.failed;
  ExpectDrops(parser.Drops(), expected);
  EXPECT_EQ(client.frames.size(), 5u);
}

TEST_F(H264Drops, AnOversizeFrameCountsOnceHoweverManyPacketsFollow) {
  KeyFrame(1000);
  const Bytes fragment = Filler(64000, 5);
  Feed(2000, false, Concat({{0x7C, 0x81, 0x9A}, fragment}));
  const size_t packets = norvale::CRTPMediaParser::kMaxFrameSize / fragment.size() + 10;
  for (size_t i = 0; i < packets; ++i) Feed(2000, false, Concat({{0x7C, 0x01}, fragment}));
  Feed(2000, true, Concat({{0x7C, 0x41}, fragment}));
  MediaDropCounts expected;
  expected.oversize = 1;
  ExpectDrops(parser.Drops(), expected);
}

using JpegDrops = DepacketizerFixture<norvale::CJpegRTPMediaParser>;

Bytes JpegPacket(uint32_t offset, uint8_t type, const Bytes& data) {
  return Concat({{0, static_cast<uint8_t>(offset >> 16), static_cast<uint8_t>(offset >> 8),
                  static_cast<uint8_t>(offset), type, 50, 80, 60},
                 data});
}

TEST_F(JpegDrops, LossBrokenHeadersAndHostFailuresAreCountedApart) {
  MediaDropCounts expected;
  Feed(1000, false, JpegPacket(0, 1, Filler(100, 1)));
  ++sequence;
  Feed(1000, true, JpegPacket(200, 1, Filler(100, 3)));  // the frame's first fragment is gone
  ++expected.loss;
  ++expected.noKeyFrame;
  Feed(2000, true, JpegPacket(0, 1, Filler(100, 4)));
  ASSERT_EQ(client.frames.size(), 1u);
  ExpectDrops(parser.Drops(), expected);

  Feed(3000, true, {0, 0, 0});  // shorter than the fragment offset
  ++expected.malformed;
  Feed(4000, true, JpegPacket(0, 9, Filler(100, 5)));  // a type without a defined layout
  ++expected.malformed;
  allocator.failAllocation = true;
  Feed(5000, true, JpegPacket(0, 1, Filler(100, 6)));
  allocator.failAllocation = false;
  ++expected.allocationFailed;
  client.accept = false;
  Feed(6000, true, JpegPacket(0, 1, Filler(100, 7)));
  client.accept = true;
  ++expected.refused;
  ExpectDrops(parser.Drops(), expected);
  EXPECT_EQ(client.frames.size(), 1u);
}

using Mpeg4Drops = DepacketizerFixture<norvale::CMpeg4RTPMediaParser>;

TEST_F(Mpeg4Drops, PredictedFramesBeforeAKeyFrameAndUnreadableKeyFramesAreCounted) {
  const Bytes config = norvale::HexToBytes(
      "000001b001000001b58913000001000000012000c48d8ffffd14043c1463000001b24c61766335392e33372e313030");
  parser.SetParameterSets({}, {}, config);
  MediaDropCounts expected;
  Feed(1000, true, Concat({{0, 0, 1, 0xB6, 0x51}, Filler(50, 1)}));
  ++expected.noKeyFrame;
  Feed(2000, true, Concat({{0, 0, 1, 0xB6, 0x10}, Filler(50, 2)}));
  ASSERT_EQ(client.frames.size(), 1u);
  ExpectDrops(parser.Drops(), expected);

  parser.SetParameterSets({}, {}, {0, 0, 1, 0xB0, 0x01});  // a configuration without a video object layer
  Feed(3000, true, Concat({{0, 0, 1, 0xB6, 0x10}, Filler(50, 3)}));
  ++expected.malformed;
  ExpectDrops(parser.Drops(), expected);
}

}  // namespace
}  // namespace zephrin::test
