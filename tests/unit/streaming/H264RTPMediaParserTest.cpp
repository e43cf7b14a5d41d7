#include <gtest/gtest.h>

#include "runtime/StringUtils.h"
#include "streaming/CH264RTPMediaParser.h"
#include "streaming/CH264SpsReader.h"
#include "unit/streaming/DepacketizerTestSupport.h"

namespace zephrin::test {
namespace {

using norvale::CH264RTPMediaParser;
using norvale::CH264SpsReader;
using norvale::HexToBytes;

// Parameter sets of real encoder output (x264): 640x480 High profile, 640x480 Constrained Baseline.
const Bytes kSpsHigh640 = HexToBytes("6764001eacb40501ed80b5060606a5000003000100000300328f162ea0");
const Bytes kPpsHigh640 = HexToBytes("68ef3cb0");
const Bytes kSpsBaseline640 = HexToBytes("6742c01eda0280f6c05a83030352800000030080000019478b1750");
const Bytes kPpsBaseline640 = HexToBytes("68ce3c80");
const Bytes kStart = {0, 0, 1};
const Bytes kDelimiter = {0, 0, 1, 0x09, 0x30};

Bytes FuA(uint8_t nalHeader, bool start, bool end, const Bytes& data) {
  Bytes out = {static_cast<uint8_t>((nalHeader & 0xE0) | 28),
               static_cast<uint8_t>((start ? 0x80 : 0) | (end ? 0x40 : 0) | (nalHeader & 0x1F))};
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

Bytes StapA(std::initializer_list<Bytes> units) {
  Bytes out = {24};
  for (const Bytes& u : units) {
    out.push_back(static_cast<uint8_t>(u.size() >> 8));
    out.push_back(static_cast<uint8_t>(u.size()));
    out.insert(out.end(), u.begin(), u.end());
  }
  return out;
}

// NAL header and a first slice-header byte (first_mb_in_slice 0).
const Bytes kIdrHeader = {0x65, 0x88};
const Bytes kSliceHeader = {0x41, 0x9A};
const Bytes kFirstSlice = {0x88};

class H264Depacketizer : public DepacketizerFixture<CH264RTPMediaParser> {
 protected:
  void SendIdrAsFuA(uint32_t ts, const Bytes& a, const Bytes& b, const Bytes& c) {
    Feed(ts, false, FuA(0x65, true, false, Concat({kFirstSlice, a})));
    Feed(ts, false, FuA(0x65, false, false, b));
    Feed(ts, true, FuA(0x65, false, true, c));
  }
  void SendSlice(uint32_t ts, const Bytes& data) { Feed(ts, true, Concat({kSliceHeader, data})); }
  void SendKeyFrameInBand(uint32_t ts) {
    Feed(ts, false, kSpsHigh640);
    Feed(ts, false, kPpsHigh640);
    Feed(ts, true, Concat({kIdrHeader, Filler(300, 1)}));
  }
};

TEST_F(H264Depacketizer, FragmentedKeyFrameGetsTheDescribedParameterSetsAndEndsWithADelimiter) {
  parser.SetParameterSets(kSpsHigh640, kPpsHigh640, {});
  EXPECT_EQ(parser.Width(), 640);
  EXPECT_EQ(parser.Height(), 480);

  SendSlice(3000, Filler(50, 9));  // a P-frame before any key frame: dropped, but ends a frame
  EXPECT_TRUE(client.frames.empty());

  const Bytes a = Filler(1000, 1), b = Filler(1000, 2), c = Filler(500, 3);
  SendIdrAsFuA(6000, a, b, c);
  ASSERT_EQ(client.frames.size(), 1u);
  const DeliveredFrame& key = client.frames[0];
  EXPECT_EQ(key.code, "H264");
  EXPECT_EQ(key.data, Concat({kStart, kSpsHigh640, kStart, kPpsHigh640, kStart, kIdrHeader, a, b, c, kDelimiter}));
  EXPECT_EQ(key.width, 640);
  EXPECT_EQ(key.height, 480);
  EXPECT_EQ(key.sizeClass, 4u);
  EXPECT_EQ(key.capacity, 4096u);
  EXPECT_EQ(key.rtpTimestamp, 6000u);
  EXPECT_EQ(allocator.requests.back().first, "Zephrin::LiveStream");

  const Bytes p = Filler(20000, 4);
  SendSlice(9000, p);
  ASSERT_EQ(client.frames.size(), 2u);
  EXPECT_EQ(client.frames[1].code, "I264");
  EXPECT_EQ(client.frames[1].data, Concat({kStart, kSliceHeader, p, kDelimiter}));
  EXPECT_EQ(client.frames[1].width, 640);
  EXPECT_EQ(client.frames[1].capacity, 32768u);
}

TEST_F(H264Depacketizer, TheFirstFragmentedKeyFrameTakesTheDescriptionsParameterSets) {
  // The camera sends its parameter sets only in the session description.
  parser.SetParameterSets(kSpsHigh640, kPpsHigh640, {});
  SendIdrAsFuA(3000, Filler(100, 1), Filler(100, 2), Filler(100, 3));
  ASSERT_EQ(client.frames.size(), 1u);
  EXPECT_EQ(client.frames[0].code, "H264");
  EXPECT_EQ(client.frames[0].data, Concat({kStart, kSpsHigh640, kStart, kPpsHigh640, kStart, kIdrHeader, Filler(100, 1),
                                           Filler(100, 2), Filler(100, 3), kDelimiter}));
}

TEST_F(H264Depacketizer, FramesWithoutMarkerBitsEndWhenTheNextTimeStampComes) {
  parser.SetParameterSets(kSpsHigh640, kPpsHigh640, {});
  const Bytes a = Filler(100, 1), p = Filler(40, 3);
  Feed(3000, false, FuA(0x65, true, false, Concat({kFirstSlice, a})));
  Feed(3000, false, FuA(0x65, false, true, p));
  Feed(6000, false, Concat({kSliceHeader, p}));
  ASSERT_EQ(client.frames.size(), 1u);
  EXPECT_EQ(client.frames[0].data,
            Concat({kStart, kSpsHigh640, kStart, kPpsHigh640, kStart, kIdrHeader, a, p, kDelimiter}));
  // A unit still open is no complete frame: it waits for its end.
  Feed(9000, false, FuA(0x41, true, false, Concat({{0x9A}, p})));
  Feed(12000, false, FuA(0x41, false, false, p));
  ASSERT_EQ(client.frames.size(), 2u);
  EXPECT_EQ(client.frames[1].data, Concat({kStart, kSliceHeader, p, kDelimiter}));
}

TEST_F(H264Depacketizer, InBandParameterSetsAreStoredAndPutInFrontOfTheKeyFrame) {
  const Bytes idr = Concat({kIdrHeader, Filler(300, 1)});
  const Bytes sei = {0x06, 0x05, 0x01, 0x80};
  Feed(3000, false, {0x09, 0x10});  // the camera's own delimiter is not passed on
  Feed(3000, false, kSpsBaseline640);
  Feed(3000, false, kPpsBaseline640);
  Feed(3000, false, sei);
  Feed(3000, true, idr);
  ASSERT_EQ(client.frames.size(), 1u);
  EXPECT_EQ(client.frames[0].code, "H264");
  EXPECT_EQ(client.frames[0].data,
            Concat({kStart, kSpsBaseline640, kStart, kPpsBaseline640, kStart, sei, kStart, idr, kDelimiter}));
  EXPECT_EQ(client.frames[0].width, 640);
  EXPECT_EQ(client.frames[0].height, 480);
}

TEST_F(H264Depacketizer, AggregatedUnitsAreAppendedInOrder) {
  const Bytes idr = Concat({kIdrHeader, Filler(200, 1)});
  Feed(3000, true, StapA({kSpsHigh640, kPpsHigh640, idr}));
  ASSERT_EQ(client.frames.size(), 1u);
  EXPECT_EQ(client.frames[0].code, "H264");
  EXPECT_EQ(client.frames[0].data, Concat({kStart, kSpsHigh640, kStart, kPpsHigh640, kStart, idr, kDelimiter}));

  // A size field that ends the payload exactly ends the packet.
  Bytes tail = StapA({Concat({kSliceHeader, Filler(10, 2)})});
  tail.push_back(0);
  tail.push_back(5);
  Feed(6000, true, tail);
  ASSERT_EQ(client.frames.size(), 2u);
  EXPECT_EQ(client.frames[1].data, Concat({kStart, kSliceHeader, Filler(10, 2), kDelimiter}));
}

TEST_F(H264Depacketizer, MalformedPacketsResetAndWaitForTheNextKeyFrame) {
  const std::vector<Bytes> bad = {
      {},                      // empty payload
      {0x41},                  // single NAL unit of one byte
      {24, 0, 9, 0x41, 1, 2},  // aggregated size larger than the rest
      {24, 0},                 // aggregate too short
      {28, 0x85},              // fragment without data
      {25, 0, 1, 2},
      {26, 0, 1, 2},
      {27, 0, 1},
      {29, 0x85, 1, 2},
      {30, 1},
      {31, 1},  // refused types
  };
  for (const Bytes& payload : bad) {
    SCOPED_TRACE(::testing::PrintToString(payload));
    client.frames.clear();
    SendKeyFrameInBand(1000);
    ASSERT_EQ(client.frames.size(), 1u);
    Feed(2000, false, Concat({kSliceHeader, Filler(30, 1)}));
    Feed(2000, false, payload);
    Feed(2000, true, Concat({kSliceHeader, Filler(30, 2)}));
    SendSlice(3000, Filler(30, 3));
    EXPECT_EQ(client.frames.size(), 1u) << "frames after the fault must wait for a key frame";
    SendKeyFrameInBand(4000);
    EXPECT_EQ(client.frames.size(), 2u);
  }
}

TEST_F(H264Depacketizer, LossReorderingAndDuplicatesDropEverythingUntilTheNextKeyFrame) {
  SendKeyFrameInBand(1000);
  ASSERT_EQ(client.frames.size(), 1u);

  // A lost packet in the middle of a frame.
  Feed(MakePacket(sequence++, 2000, false, FuA(0x41, true, false, Filler(100, 1))));
  ++sequence;
  Feed(MakePacket(sequence++, 2000, true, FuA(0x41, false, true, Filler(100, 3))));
  SendSlice(3000, Filler(10, 4));
  EXPECT_EQ(client.frames.size(), 1u);
  SendKeyFrameInBand(4000);
  EXPECT_EQ(client.frames.size(), 2u);

  // The first slice of a key frame is lost; the second one must not pass for a whole key frame.
  Feed(4500, false, FuA(0x65, true, false, Concat({kFirstSlice, Filler(100, 1)})));
  ++sequence;
  Feed(4500, false, FuA(0x65, false, true, Filler(100, 2)));
  Feed(4500, true, Concat({{0x65, 0x40}, Filler(50, 3)}));  // first_mb_in_slice 1
  EXPECT_EQ(client.frames.size(), 2u);
  Feed(4550, false, Concat({{0x65, 0x88}, Filler(50, 3)}));
  ++sequence;
  Feed(4550, true, Concat({{0x65, 0x40}, Filler(50, 4)}));
  EXPECT_EQ(client.frames.size(), 2u);
  SendKeyFrameInBand(4600);
  EXPECT_EQ(client.frames.size(), 3u);
  client.frames.pop_back();

  // A duplicate.
  Feed(MakePacket(sequence, 5000, false, FuA(0x41, true, false, Filler(100, 1))));
  Feed(MakePacket(sequence, 5000, false, FuA(0x41, true, false, Filler(100, 1))));
  Feed(MakePacket(++sequence, 5000, true, FuA(0x41, false, true, Filler(100, 1))));
  ++sequence;
  EXPECT_EQ(client.frames.size(), 2u);

  // Two packets swapped.
  SendKeyFrameInBand(6000);
  ASSERT_EQ(client.frames.size(), 3u);
  Feed(MakePacket(sequence + 1, 7000, true, FuA(0x41, false, true, Filler(100, 2))));
  Feed(MakePacket(sequence, 7000, false, FuA(0x41, true, false, Filler(100, 1))));
  sequence += 2;
  SendSlice(8000, Filler(10, 4));
  EXPECT_EQ(client.frames.size(), 3u);

  // Sequence numbers wrap without a gap.
  sequence = 65534;
  SendKeyFrameInBand(9000);  // the jump to 65534 resets, the key frame still arrives
  SendSlice(10000, Filler(10, 5));
  SendSlice(11000, Filler(10, 6));
  EXPECT_EQ(client.frames.size(), 6u);
  EXPECT_EQ(client.frames.back().code, "I264");
}

TEST_F(H264Depacketizer, RefusedOrFailedDeliveriesReleaseTheBufferAndReset) {
  SendKeyFrameInBand(1000);
  client.accept = false;
  SendSlice(2000, Filler(10, 1));
  client.accept = true;
  SendSlice(3000, Filler(10, 2));
  EXPECT_EQ(client.refused, 1u);
  EXPECT_EQ(client.frames.size(), 1u) << "the frame after a refusal waits for a key frame";

  client.throwOnDelivery = true;
  SendKeyFrameInBand(4000);
  client.throwOnDelivery = false;
  SendSlice(5000, Filler(10, 3));
  EXPECT_EQ(client.frames.size(), 1u);

  allocator.failAllocation = true;
  SendKeyFrameInBand(6000);
  EXPECT_EQ(driver.Count("norvale::CH264RTPMediaParser::ProcessFrame: Data copying error, device 127.0.0.1:80"), 1u);
  allocator.failAllocation = false;

  allocator.withoutMemory = true;
  SendKeyFrameInBand(7000);
  EXPECT_EQ(driver.Count("Data copying error"), 2u);
  allocator.withoutMemory = false;

  SendKeyFrameInBand(8000);
  EXPECT_EQ(client.frames.size(), 2u);
  EXPECT_EQ(allocator.allocations, 5u);
}

TEST_F(H264Depacketizer, WithoutClientOrAllocatorNothingIsAllocated) {
  parser.SetClient(nullptr);
  SendKeyFrameInBand(1000);
  EXPECT_EQ(allocator.allocations, 0u);
  parser.SetClient(&client);
  driver.frameAllocator = nullptr;
  SendKeyFrameInBand(2000);
  EXPECT_TRUE(client.frames.empty());
}

TEST_F(H264Depacketizer, OversizeFrameIsDiscardedWithOneLogLine) {
  SendKeyFrameInBand(1000);
  const Bytes chunk = Filler(1400, 1);
  Feed(2000, false, FuA(0x41, true, false, chunk));
  const size_t packets = norvale::CRTPMediaParser::kMaxFrameSize / chunk.size() + 200;
  for (size_t i = 0; i < packets; ++i) {
    Feed(2000, false, FuA(0x41, false, false, chunk));
    ASSERT_LE(parser.FrameBufferSize(), norvale::CRTPMediaParser::kMaxFrameSize);
  }
  Feed(2000, true, FuA(0x41, false, true, chunk));
  EXPECT_EQ(client.frames.size(), 1u);
  EXPECT_EQ(
      driver.Count("norvale::CRTPMediaParser::CheckBufferSize: Frame buffer overflow detected, device 127.0.0.1:80"),
      1u);
  SendKeyFrameInBand(3000);
  EXPECT_EQ(client.frames.size(), 2u);
}

// ---- SPS picture size ----------------------------------------------------------------------------

struct SpsFields {
  uint32_t profile = 66;
  uint32_t chromaFormat = 1;
  bool separatePlanes = false;
  int scalingLists = 0;  // how many lists are present (each with one delta)
  uint32_t pocType = 0;
  uint32_t pocCycle = 0;
  int32_t pocOffset = 0;
  uint32_t widthMbs = 40;
  uint32_t heightUnits = 30;
  bool frameMbsOnly = true;
  bool cropping = false;
  uint32_t crop[4] = {0, 0, 0, 0};
};

Bytes BuildSps(const SpsFields& f) {
  BitWriter w;
  w.Put(0x67, 8);
  w.Put(f.profile, 8);
  w.Put(0, 8);
  w.Put(30, 8);
  w.UE(0);
  if (f.profile >= 100 || f.profile == 44) {
    w.UE(f.chromaFormat);
    if (f.chromaFormat == 3) w.PutBit(f.separatePlanes);
    w.UE(0);
    w.UE(0);
    w.PutBit(0);
    w.PutBit(f.scalingLists > 0);
    if (f.scalingLists > 0) {
      const int total = f.chromaFormat == 3 ? 12 : 8;
      for (int i = 0; i < total; ++i) {
        const bool present = i < f.scalingLists;
        w.PutBit(present);
        if (present) {
          w.SE(-8);  // next scale 0: the rest of the list repeats
        }
      }
    }
  }
  w.UE(0);  // log2_max_frame_num_minus4
  w.UE(f.pocType);
  if (f.pocType == 0) w.UE(2);
  if (f.pocType == 1) {
    w.PutBit(0);
    w.SE(f.pocOffset);
    w.SE(f.pocOffset);
    w.UE(f.pocCycle);
    for (uint32_t i = 0; i < f.pocCycle; ++i) w.SE(f.pocOffset);
  }
  w.UE(1);
  w.PutBit(0);
  w.UE(f.widthMbs - 1);
  w.UE(f.heightUnits - 1);
  w.PutBit(f.frameMbsOnly);
  if (!f.frameMbsOnly) w.PutBit(0);
  w.PutBit(1);
  w.PutBit(f.cropping);
  if (f.cropping)
    for (uint32_t c : f.crop) w.UE(c);
  w.PutBit(0);  // no VUI
  return w.Finish();
}

// Inserts the emulation prevention bytes an encoder puts into a NAL unit.
Bytes Escape(const Bytes& nal) {
  Bytes out;
  int zeros = 0;
  for (uint8_t b : nal) {
    if (zeros >= 2 && b <= 3) {
      out.push_back(3);
      zeros = 0;
    }
    out.push_back(b);
    zeros = b == 0 ? zeros + 1 : 0;
  }
  return out;
}

std::pair<int, int> SizeOf(const Bytes& sps) {
  uint16_t w = 0, h = 0;
  if (!CH264SpsReader::ReadPictureSize(sps.data(), sps.size(), &w, &h)) return {-1, -1};
  return {w, h};
}

TEST(SpsPictureSize, EncoderParameterSets) {
  EXPECT_EQ(SizeOf(kSpsHigh640), std::make_pair(640, 480));
  EXPECT_EQ(SizeOf(kSpsBaseline640), std::make_pair(640, 480));
  // 1080p in 4:2:0, progressive and interlaced (1088 coded lines, cropped).
  EXPECT_EQ(SizeOf(HexToBytes("67640028acd940780227e5c05a808080a0000003002000000791e30632c0")),
            std::make_pair(1920, 1080));
  EXPECT_EQ(SizeOf(HexToBytes("67640028acd94078044fde02d40404050000030001000003003c9f162d96")),
            std::make_pair(1920, 1080));
  // High 4:4:4 crops in luma samples.
  EXPECT_EQ(SizeOf(HexToBytes("67f4002890d9b280f0044fc4e02d40404050000003001000000303c8f1831960")),
            std::make_pair(1920, 1080));
  EXPECT_EQ(SizeOf(HexToBytes("67f4000d90d9b282c12d80b506060640000003004000000f23c50a6580")), std::make_pair(352, 288));
}

TEST(SpsPictureSize, SyntaxVariants) {
  SpsFields f;
  EXPECT_EQ(SizeOf(BuildSps(f)), std::make_pair(640, 480));
  f.profile = 100;
  f.scalingLists = 8;
  EXPECT_EQ(SizeOf(BuildSps(f)), std::make_pair(640, 480));
  f.profile = 44;  // CAVLC 4:4:4 Intra has the high-profile fields too
  f.chromaFormat = 3;
  f.scalingLists = 12;
  EXPECT_EQ(SizeOf(BuildSps(f)), std::make_pair(640, 480));
  f = SpsFields{};
  f.pocType = 1;
  f.pocCycle = 5;
  f.pocOffset = -3;
  EXPECT_EQ(SizeOf(BuildSps(f)), std::make_pair(640, 480));
  f.pocType = 2;
  f.frameMbsOnly = false;
  f.heightUnits = 15;
  EXPECT_EQ(SizeOf(BuildSps(f)), std::make_pair(640, 480));
  f.cropping = true;
  f.crop[0] = 1;
  f.crop[1] = 2;
  f.crop[3] = 2;  // interlaced: units of 4 lines
  EXPECT_EQ(SizeOf(BuildSps(f)), std::make_pair(634, 472));
}

TEST(SpsPictureSize, EmulationPreventionBytesAreSkipped) {
  // Long runs of zero bits (large picture order offsets) make the encoder escape 00 00 0x.
  int escapedCount = 0;
  for (int shift = 8; shift < 28; ++shift) {
    SpsFields f;
    f.pocType = 1;
    f.pocCycle = 2;
    f.pocOffset = -(1 << shift);
    f.widthMbs = 120;
    f.heightUnits = 68;
    const Bytes raw = BuildSps(f);
    const Bytes escaped = Escape(raw);
    if (raw == escaped) continue;
    ++escapedCount;
    EXPECT_EQ(SizeOf(escaped), std::make_pair(1920, 1088)) << shift;
  }
  EXPECT_GT(escapedCount, 0) << "no test SPS needed emulation prevention";
}

TEST(SpsPictureSize, LyingOrTruncatedFieldsFail) {
  SpsFields f;
  f.pocType = 3;
  EXPECT_EQ(SizeOf(BuildSps(f)).first, -1);
  f = SpsFields{};
  f.pocType = 1;
  f.pocCycle = 256;
  EXPECT_EQ(SizeOf(BuildSps(f)).first, -1);
  f = SpsFields{};
  f.widthMbs = 5000;  // 80000 pixels
  EXPECT_EQ(SizeOf(BuildSps(f)).first, -1);
  f = SpsFields{};
  f.cropping = true;
  f.crop[0] = 200;
  f.crop[1] = 120;  // crops the whole width
  EXPECT_EQ(SizeOf(BuildSps(f)).first, -1);
  f = SpsFields{};
  f.profile = 100;
  f.chromaFormat = 4;
  EXPECT_EQ(SizeOf(BuildSps(f)).first, -1);

  // Every truncation of a valid SPS before its cropping fields fails without reading past the end.
  const Bytes sps = BuildSps(SpsFields{});
  for (size_t n = 0; n + 1 < sps.size(); ++n) {
    const Bytes cut(sps.begin(), sps.begin() + n);
    EXPECT_EQ(SizeOf(cut).first, -1) << n;
  }
  // Exp-Golomb codes longer than 32 bits.
  EXPECT_EQ(SizeOf({0x67, 0x42, 0x00, 0x1e, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0xff}).first, -1);
}

TEST(SpsPictureSize, DescriptionWithoutUsableSpsIsNotStored) {
  FakeDriver driver;
  CH264RTPMediaParser parser(&driver);
  parser.SetParameterSets(Bytes{0x67, 0x42}, kPpsHigh640, {});
  EXPECT_EQ(parser.Width(), 0);
  parser.SetParameterSets(kPpsHigh640, kSpsHigh640, {});  // swapped: the first is no SPS
  EXPECT_EQ(parser.Width(), 0);
  // A good SPS stays when a later description brings a broken one.
  parser.SetParameterSets(kSpsBaseline640, kPpsBaseline640, {});
  EXPECT_EQ(parser.Width(), 640);
  parser.SetParameterSets(Bytes{0x67, 0x42, 0x00}, kPpsHigh640, {});
  EXPECT_EQ(parser.Width(), 640);
}

}  // namespace
}  // namespace zephrin::test
