#include <gtest/gtest.h>

#include <tuple>

#include "runtime/StringUtils.h"
#include "streaming/CMP4Parser.h"
#include "streaming/CMpeg4RTPMediaParser.h"
#include "unit/streaming/DepacketizerTestSupport.h"

namespace zephrin::test {
namespace {

using norvale::CMP4Parser;
using norvale::CMpeg4RTPMediaParser;
using norvale::HexToBytes;

// The configuration an MPEG-4 encoder (libavcodec) announces for 640x480: visual object sequence,
// visual object, video object, video object layer and user data.
const Bytes kConfig640 =
    HexToBytes("000001b001000001b58913000001000000012000c48d8ffffd14043c1463000001b24c61766335392e33372e313030");

Bytes IVop(size_t size, uint8_t seed) { return Concat({{0, 0, 1, 0xB6, 0x10}, Filler(size, seed)}); }
Bytes PVop(size_t size, uint8_t seed) { return Concat({{0, 0, 1, 0xB6, 0x51}, Filler(size, seed)}); }

struct VolFields {
  bool layerIdentifier = false;
  uint32_t aspect = 1;
  bool controlParameters = false;
  bool vbv = false;
  uint32_t shape = 0;
  uint32_t resolution = 25;
  bool fixedRate = false;
  uint32_t width = 640;
  uint32_t height = 480;
  bool breakLastMarker = false;
};

Bytes BuildVol(const VolFields& f) {
  BitWriter w;
  w.Put(0x00000120, 32);
  w.PutBit(0);
  w.Put(1, 8);
  w.PutBit(f.layerIdentifier);
  if (f.layerIdentifier) w.Put(0x2 << 3 | 1, 7);
  w.Put(f.aspect, 4);
  if (f.aspect == 0xF) w.Put(0x0B0B, 16);
  w.PutBit(f.controlParameters);
  if (f.controlParameters) {
    w.Put(1, 2);
    w.PutBit(1);
    w.PutBit(f.vbv);
    if (f.vbv) {
      for (int i = 0; i < 3; ++i) {
        w.Put(0x1234, 15);
        w.PutBit(1);
      }
      w.Put(5, 3);
      w.Put(0x123, 11);
      w.PutBit(1);
      w.Put(0x1234, 15);
      w.PutBit(1);
    }
  }
  w.Put(f.shape, 2);
  w.PutBit(1);
  w.Put(f.resolution, 16);
  w.PutBit(1);
  w.PutBit(f.fixedRate);
  if (f.fixedRate) {
    unsigned bits = 1;
    while ((1u << bits) < f.resolution) ++bits;
    w.Put(1, bits);
  }
  w.PutBit(1);
  w.Put(f.width, 13);
  w.PutBit(1);
  w.Put(f.height, 13);
  w.PutBit(f.breakLastMarker ? 0 : 1);
  w.Put(0x5, 3);  // what follows the size (interlaced, OBMC disable ...)
  return Concat({{0, 0, 1, 0xB0, 0x01, 0, 0, 1, 0xB5, 0x09, 0, 0, 1, 0x00}, w.Aligned()});
}

std::pair<int, int> SizeOf(const Bytes& data) {
  uint16_t w = 0, h = 0;
  CMP4Parser parser;
  if (!parser.Parse(data.data(), data.size(), &w, &h)) return {-1, -1};
  return {w, h};
}

Bytes H263Picture(uint32_t format, uint32_t extendedFormat = 0, uint32_t widthIndication = 0,
                  uint32_t heightIndication = 0) {
  BitWriter w;
  w.Put(0x20, 22);
  w.Put(0x11, 8);  // temporal reference
  w.PutBit(1);
  w.PutBit(0);
  w.Put(0, 3);
  w.Put(format, 3);
  if (format == 7) {
    w.Put(1, 3);               // UFEP: the options follow
    w.Put(extendedFormat, 3);  // source format
    w.Put(0x8, 15);            // no options, then 1 0 0 0
    w.Put(0x1, 9);             // I picture ... 0 0 1
    w.PutBit(0);               // CPM
    if (extendedFormat == 6) {
      w.Put(2, 4);  // pixel aspect ratio
      w.Put(widthIndication, 9);
      w.PutBit(1);
      w.Put(heightIndication, 9);
    }
  } else {
    w.Put(0, 5);
  }
  w.Put(0, 16);
  return w.Aligned();
}

TEST(MP4Parser, VideoObjectLayerSizes) {
  EXPECT_EQ(SizeOf(Concat({kConfig640, IVop(10, 1)})), std::make_pair(640, 480));
  EXPECT_EQ(SizeOf(BuildVol({})), std::make_pair(640, 480));
  VolFields f;
  f.layerIdentifier = true;
  f.aspect = 0xF;
  f.controlParameters = true;
  f.vbv = true;
  f.fixedRate = true;
  f.resolution = 30000;
  f.width = 1276;  // not whole macroblocks: reported exactly
  f.height = 718;
  EXPECT_EQ(SizeOf(BuildVol(f)), std::make_pair(1276, 718));
  f.resolution = 1;  // one bit for the increment
  EXPECT_EQ(SizeOf(BuildVol(f)), std::make_pair(1276, 718));
}

TEST(MP4Parser, BrokenLayersFail) {
  VolFields f;
  f.breakLastMarker = true;
  EXPECT_EQ(SizeOf(BuildVol(f)).first, -1);
  f = VolFields{};
  f.shape = 1;  // binary shape
  EXPECT_EQ(SizeOf(BuildVol(f)).first, -1);
  f = VolFields{};
  f.width = 0;
  EXPECT_EQ(SizeOf(BuildVol(f)).first, -1);
  f = VolFields{};
  f.resolution = 0;
  EXPECT_EQ(SizeOf(BuildVol(f)).first, -1);
  EXPECT_EQ(SizeOf(IVop(20, 1)).first, -1);    // a VOP without its layer header
  EXPECT_EQ(SizeOf(Filler(40, 2)).first, -1);  // no start code at all
  const Bytes good = BuildVol({});
  for (size_t n = 0; n + 1 < good.size(); ++n) {
    const Bytes cut(good.begin(), good.begin() + n);
    EXPECT_EQ(SizeOf(cut).first, -1) << n;
  }
}

TEST(MP4Parser, H263SourceFormats) {
  EXPECT_EQ(SizeOf(H263Picture(1)), std::make_pair(128, 96));
  EXPECT_EQ(SizeOf(H263Picture(2)), std::make_pair(176, 144));
  EXPECT_EQ(SizeOf(H263Picture(3)), std::make_pair(352, 288));
  EXPECT_EQ(SizeOf(H263Picture(4)), std::make_pair(704, 576));
  EXPECT_EQ(SizeOf(H263Picture(5)), std::make_pair(1408, 1152));
  EXPECT_EQ(SizeOf(H263Picture(7, 3)), std::make_pair(352, 288));
  EXPECT_EQ(SizeOf(H263Picture(7, 6, 159, 120)), std::make_pair(640, 480));
  EXPECT_EQ(SizeOf(H263Picture(0)).first, -1);
  EXPECT_EQ(SizeOf(H263Picture(6)).first, -1);
  EXPECT_EQ(SizeOf(H263Picture(7, 6, 159, 0)).first, -1);
  EXPECT_EQ(SizeOf(H263Picture(7, 7)).first, -1);
}

class Mpeg4Depacketizer : public DepacketizerFixture<CMpeg4RTPMediaParser> {};

TEST_F(Mpeg4Depacketizer, KeyFramesCarryTheDescribedConfiguration) {
  parser.SetParameterSets({}, {}, kConfig640);
  Feed(1000, true, PVop(100, 1));  // no key frame yet
  EXPECT_TRUE(client.frames.empty());

  const Bytes i1 = IVop(1395, 2), i2 = Filler(1400, 3), i3 = Filler(200, 4);
  Feed(2000, false, i1);
  Feed(2000, false, i2);
  Feed(2000, true, i3);
  ASSERT_EQ(client.frames.size(), 1u);
  EXPECT_EQ(client.frames[0].code, "DIVX");
  EXPECT_EQ(client.frames[0].data, Concat({kConfig640, i1, i2, i3}));
  EXPECT_EQ(client.frames[0].width, 640);
  EXPECT_EQ(client.frames[0].height, 480);
  EXPECT_EQ(client.frames[0].capacity, 4096u);

  const Bytes p = PVop(300, 5);
  Feed(3000, true, p);
  ASSERT_EQ(client.frames.size(), 2u);
  EXPECT_EQ(client.frames[1].code, "DIVI");
  EXPECT_EQ(client.frames[1].data, p);
  EXPECT_EQ(client.frames[1].width, 640);
}

TEST_F(Mpeg4Depacketizer, InBandConfigurationWins) {
  parser.SetParameterSets({}, {}, kConfig640);
  const Bytes config = BuildVol({.width = 320, .height = 240});
  const Bytes vop = IVop(500, 1);
  Feed(1000, true, Concat({config, vop}));
  ASSERT_EQ(client.frames.size(), 1u);
  EXPECT_EQ(client.frames[0].data, Concat({config, vop}));
  EXPECT_EQ(client.frames[0].width, 320);

  // A short packet with only the configuration is kept for the next key frame, not framed.
  const Bytes other = BuildVol({.width = 176, .height = 144});
  ASSERT_LT(other.size(), 64u);
  Feed(2000, false, other);
  Feed(3000, true, vop);
  ASSERT_EQ(client.frames.size(), 2u);
  EXPECT_EQ(client.frames[1].data, Concat({other, vop}));
  EXPECT_EQ(client.frames[1].width, 176);
  EXPECT_EQ(client.frames[1].height, 144);
}

TEST_F(Mpeg4Depacketizer, LossAndBadKeyFramesWaitForTheNextKeyFrame) {
  parser.SetParameterSets({}, {}, kConfig640);
  Feed(1000, true, IVop(100, 1));
  ASSERT_EQ(client.frames.size(), 1u);
  Feed(2000, false, PVop(100, 2));
  ++sequence;
  Feed(2000, true, Filler(100, 3));
  Feed(3000, true, PVop(100, 4));
  EXPECT_EQ(client.frames.size(), 1u);

  // A key frame whose configuration gives no size is dropped.
  parser.SetParameterSets({}, {}, Filler(30, 1));
  Feed(4000, true, IVop(100, 5));
  Feed(5000, true, PVop(100, 6));
  EXPECT_EQ(client.frames.size(), 1u);

  parser.SetParameterSets({}, {}, kConfig640);
  Feed(6000, true, IVop(100, 7));
  Feed(7000, true, PVop(100, 8));
  EXPECT_EQ(client.frames.size(), 3u);

  client.accept = false;
  Feed(8000, true, PVop(100, 9));
  client.accept = true;
  Feed(9000, true, PVop(100, 10));
  EXPECT_EQ(client.frames.size(), 3u);

  allocator.withoutMemory = true;
  Feed(10000, true, IVop(100, 11));
  allocator.withoutMemory = false;
  EXPECT_EQ(driver.Count("norvale::CMpeg4RTPMediaParser::ProcessFrame: Data copying error, device 127.0.0.1:80"), 1u);
}

// A group-of-VOPs header (with or without the configuration in front) before an I-VOP, in the
// VOP's packet or in one of its own. The second frame has no marker bit: the next time stamp ends it.
class Mpeg4Headers : public DepacketizerFixture<CMpeg4RTPMediaParser>,
                     public ::testing::WithParamInterface<std::tuple<bool, bool>> {};

TEST_P(Mpeg4Headers, AGroupHeaderInFrontOfAnIVopMakesAKeyFrame) {
  const auto [inBandConfig, ownPacket] = GetParam();
  const Bytes gov = {0, 0, 1, 0xB3, 0x00, 0x10, 0x07}, config = BuildVol({.width = 320, .height = 240});
  const Bytes vop = IVop(500, 1), headers = inBandConfig ? Concat({config, gov}) : gov;
  if (!inBandConfig) parser.SetParameterSets({}, {}, config);
  for (uint32_t ts = 1000; ts <= 2000; ts += 1000) {
    if (ownPacket) Feed(ts, false, headers);
    Feed(ts, ts == 1000, ownPacket ? vop : Concat({headers, vop}));
  }
  Feed(3000, true, PVop(100, 2));
  ASSERT_EQ(client.frames.size(), 3u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(client.frames[i].code, "DIVX");
    EXPECT_EQ(client.frames[i].data, Concat({config, gov, vop}));
    EXPECT_EQ(client.frames[i].width, 320);
  }
  EXPECT_EQ(client.frames[1].rtpTimestamp, 2000u);
}

INSTANTIATE_TEST_SUITE_P(Layouts, Mpeg4Headers, ::testing::Combine(::testing::Bool(), ::testing::Bool()));

}  // namespace
}  // namespace zephrin::test
