#include <gtest/gtest.h>

#include <map>

#include "streaming/CJpegRTPMediaParser.h"
#include "unit/streaming/DepacketizerTestSupport.h"

namespace zephrin::test {
namespace {

using norvale::CJpegRTPMediaParser;

// The segments of a JFIF image up to its scan header, and the entropy-coded data after it.
struct Jfif {
  std::vector<std::pair<uint8_t, Bytes>> segments;  // marker and contents after the length field
  Bytes scan;
  bool ok = false;

  const Bytes* Find(uint8_t marker, int index = 0) const {
    for (const auto& s : segments)
      if (s.first == marker && index-- == 0) return &s.second;
    return nullptr;
  }
  int Count(uint8_t marker) const {
    int n = 0;
    for (const auto& s : segments) n += s.first == marker;
    return n;
  }
};

Jfif ParseJfif(const Bytes& image) {
  Jfif out;
  if (image.size() < 4 || image[0] != 0xFF || image[1] != 0xD8) return out;
  size_t pos = 2;
  while (pos + 4 <= image.size()) {
    if (image[pos] != 0xFF) return out;
    const uint8_t marker = image[pos + 1];
    const size_t length = (image[pos + 2] << 8) | image[pos + 3];
    if (length < 2 || pos + 2 + length > image.size()) return out;
    out.segments.emplace_back(marker, Bytes(image.begin() + pos + 4, image.begin() + pos + 2 + length));
    pos += 2 + length;
    if (marker == 0xDA) {
      out.scan.assign(image.begin() + pos, image.end());
      out.ok = true;
      return out;
    }
  }
  return out;
}

Bytes JpegHeader(uint32_t offset, uint8_t type, uint8_t q, uint8_t width8, uint8_t height8) {
  return {0,
          static_cast<uint8_t>(offset >> 16),
          static_cast<uint8_t>(offset >> 8),
          static_cast<uint8_t>(offset),
          type,
          q,
          width8,
          height8};
}

Bytes RestartHeader(uint16_t interval) {
  return {static_cast<uint8_t>(interval >> 8), static_cast<uint8_t>(interval), 0xFF, 0xFF};
}

Bytes QuantHeader(uint8_t mbz, uint8_t precision, const Bytes& tables) {
  Bytes out = {mbz, precision, static_cast<uint8_t>(tables.size() >> 8), static_cast<uint8_t>(tables.size())};
  out.insert(out.end(), tables.begin(), tables.end());
  return out;
}

Bytes ScaledTables(int q) {
  Bytes t(128);
  CJpegRTPMediaParser::MakeTables(q, t.data());
  return t;
}

class JpegDepacketizer : public DepacketizerFixture<CJpegRTPMediaParser> {
 protected:
  // Sends scan data in fragments of at most 1000 bytes; the first one carries extra headers.
  void SendFrame(uint32_t ts, uint8_t type, uint8_t q, uint8_t w8, uint8_t h8, const Bytes& scan,
                 const Bytes& firstExtra = {}, const Bytes& restart = {}) {
    size_t offset = 0;
    do {
      const size_t n = std::min<size_t>(1000, scan.size() - offset);
      Bytes payload = Concat(
          {JpegHeader(static_cast<uint32_t>(offset), type, q, w8, h8), restart, offset == 0 ? firstExtra : Bytes{}});
      payload.insert(payload.end(), scan.begin() + offset, scan.begin() + offset + n);
      offset += n;
      Feed(ts, offset == scan.size(), payload);
    } while (offset < scan.size());
  }
};

TEST_F(JpegDepacketizer, FragmentsBecomeACompleteJfifImage) {
  const Bytes scan = Filler(2500, 3);
  SendFrame(9000, 1, 75, 80, 60, scan);
  ASSERT_EQ(client.frames.size(), 1u);
  const DeliveredFrame& frame = client.frames[0];
  EXPECT_EQ(frame.code, "JPEG");
  EXPECT_EQ(frame.width, 640);
  EXPECT_EQ(frame.height, 480);
  EXPECT_EQ(frame.sizeClass, 4u);
  EXPECT_EQ(frame.capacity, 4096u);  // 2508 bytes received + 1024 for the headers
  EXPECT_EQ(frame.rtpTimestamp, 9000u);

  const Jfif jfif = ParseJfif(frame.data);
  ASSERT_TRUE(jfif.ok);
  EXPECT_EQ(jfif.scan, Concat({scan, {0xFF, 0xD9}}));
  std::vector<uint8_t> order;
  for (const auto& s : jfif.segments) order.push_back(s.first);
  EXPECT_EQ(order, (std::vector<uint8_t>{0xE0, 0xDB, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4, 0xDA}));
  EXPECT_EQ(*jfif.Find(0xE0), (Bytes{'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0}));
  const Bytes tables = ScaledTables(75);
  EXPECT_EQ(*jfif.Find(0xDB, 0), Concat({{0x00}, Bytes(tables.begin(), tables.begin() + 64)}));
  EXPECT_EQ(*jfif.Find(0xDB, 1), Concat({{0x01}, Bytes(tables.begin() + 64, tables.end())}));
  EXPECT_EQ(*jfif.Find(0xC0), (Bytes{8, 0x01, 0xE0, 0x02, 0x80, 3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1}));
  EXPECT_EQ(jfif.Find(0xC4, 0)->size(), 1u + 16 + 12);
  EXPECT_EQ((*jfif.Find(0xC4, 1))[0], 0x10);
  EXPECT_EQ(jfif.Find(0xC4, 1)->size(), 1u + 16 + 162);
  EXPECT_EQ((*jfif.Find(0xC4, 2))[0], 0x01);
  EXPECT_EQ((*jfif.Find(0xC4, 3))[0], 0x11);
  EXPECT_EQ(*jfif.Find(0xDA), (Bytes{3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0}));
  EXPECT_EQ(jfif.Count(0xDD), 0);
}

TEST_F(JpegDepacketizer, ScaledTablesFollowTheQFactor) {
  // Q 50 gives the base tables themselves, in zigzag order.
  const Bytes q50 = ScaledTables(50);
  EXPECT_EQ(Bytes(q50.begin(), q50.begin() + 8), (Bytes{16, 11, 12, 14, 12, 10, 16, 14}));
  EXPECT_EQ(Bytes(q50.begin() + 64, q50.begin() + 72), (Bytes{17, 18, 18, 24, 21, 24, 47, 26}));
  // Low Q scales up and is limited to 255; Q above 99 counts as 99 and never gives 0.
  const Bytes q1 = ScaledTables(1);
  EXPECT_EQ(q1[0], 255);
  const Bytes q200 = ScaledTables(200);
  EXPECT_EQ(q200, ScaledTables(99));
  for (uint8_t v : q200) EXPECT_GE(v, 1);
}

TEST_F(JpegDepacketizer, ExistingEndMarkerIsNotRepeated) {
  const Bytes scan = Concat({Filler(500, 1), {0xFF, 0x00, 0x12, 0xFF, 0xD9}});
  SendFrame(3000, 0, 50, 40, 30, scan);
  ASSERT_EQ(client.frames.size(), 1u);
  const Jfif jfif = ParseJfif(client.frames[0].data);
  ASSERT_TRUE(jfif.ok);
  EXPECT_EQ(jfif.scan, scan);
  EXPECT_EQ((*jfif.Find(0xC0))[7], 0x21);  // type 0: 4:2:2
}

TEST_F(JpegDepacketizer, LargePicturesTakeTheirSizeFromTheRequest) {
  client.requestedSize = {2560, 1920};
  SendFrame(3000, 1, 50, 64, 240, Filler(100, 1));  // 2560 / 8 = 320 does not fit a byte
  ASSERT_EQ(client.frames.size(), 1u);
  EXPECT_EQ(client.frames[0].width, 2560);
  EXPECT_EQ(client.frames[0].height, 1920);
  const Jfif jfif = ParseJfif(client.frames[0].data);
  ASSERT_TRUE(jfif.ok);
  EXPECT_EQ((*jfif.Find(0xC0))[1], 1920 >> 8);
  EXPECT_EQ((*jfif.Find(0xC0))[3], 2560 >> 8);

  client.requestedSize = {0, 0};
  SendFrame(6000, 1, 50, 0, 0, Filler(100, 1));
  ASSERT_EQ(client.frames.size(), 2u);
  EXPECT_EQ(client.frames[1].width, 2048);
  EXPECT_EQ(client.frames[1].height, 2048);

  client.requestedSize = {352, 288};  // not more than twice the header's size
  SendFrame(9000, 1, 50, 40, 30, Filler(100, 1));
  EXPECT_EQ(client.frames[2].width, 320);
  EXPECT_EQ(client.frames[2].height, 240);
  EXPECT_EQ(client.frames[2].sizeClass, 2u);

  SendFrame(12000, 1, 50, 90, 36, Filler(100, 1));  // 720 x 288: wide, half height
  EXPECT_EQ(client.frames[3].sizeClass, 3u);
  SendFrame(15000, 1, 50, 90, 45, Filler(100, 1));  // 720 x 360
  EXPECT_EQ(client.frames[4].sizeClass, 4u);
  SendFrame(18000, 1, 50, 24, 18, Filler(100, 1));  // 192 x 144
  EXPECT_EQ(client.frames[5].sizeClass, 1u);
}

TEST_F(JpegDepacketizer, RestartIntervalAndInBandTables) {
  Bytes tables = Filler(128, 9);
  const Bytes scan = Filler(2200, 4);
  SendFrame(3000, 65, 255, 80, 60, scan, QuantHeader(0, 0, tables), RestartHeader(40));
  ASSERT_EQ(client.frames.size(), 1u);
  const Jfif jfif = ParseJfif(client.frames[0].data);
  ASSERT_TRUE(jfif.ok);
  EXPECT_EQ(*jfif.Find(0xDD), (Bytes{0, 40}));
  EXPECT_EQ(*jfif.Find(0xDB, 0), Concat({{0x00}, Bytes(tables.begin(), tables.begin() + 64)}));
  EXPECT_EQ(*jfif.Find(0xDB, 1), Concat({{0x01}, Bytes(tables.begin() + 64, tables.end())}));
  EXPECT_EQ(jfif.scan, Concat({scan, {0xFF, 0xD9}}));

  // One table serves all three components.
  SendFrame(6000, 1, 200, 80, 60, Filler(100, 1), QuantHeader(0, 0, Filler(64, 2)));
  ASSERT_EQ(client.frames.size(), 2u);
  const Jfif single = ParseJfif(client.frames[1].data);
  ASSERT_TRUE(single.ok);
  EXPECT_EQ(single.Count(0xDB), 1);
  EXPECT_EQ((*single.Find(0xC0))[11], 0);
  EXPECT_EQ((*single.Find(0xC0))[14], 0);

  // Sixteen-bit tables keep their precision.
  SendFrame(9000, 1, 200, 80, 60, Filler(100, 1), QuantHeader(0, 1, Filler(192, 2)));
  ASSERT_EQ(client.frames.size(), 3u);
  const Jfif wide = ParseJfif(client.frames[2].data);
  ASSERT_TRUE(wide.ok);
  EXPECT_EQ(wide.Find(0xDB, 0)->size(), 129u);
  EXPECT_EQ((*wide.Find(0xDB, 0))[0], 0x10);
  EXPECT_EQ(wide.Find(0xDB, 1)->size(), 65u);

  // A length of 0 or a non-zero first byte falls back to the tables of the Q factor (99 at most).
  SendFrame(12000, 1, 255, 80, 60, Filler(100, 1), QuantHeader(0, 0, {}));
  SendFrame(15000, 1, 255, 80, 60, Filler(100, 1), QuantHeader(1, 0, Filler(128, 3)));
  ASSERT_EQ(client.frames.size(), 5u);
  const Bytes q99 = ScaledTables(99);
  for (size_t i : {3u, 4u}) {
    const Jfif fallback = ParseJfif(client.frames[i].data);
    ASSERT_TRUE(fallback.ok);
    EXPECT_EQ(*fallback.Find(0xDB, 0), Concat({{0x00}, Bytes(q99.begin(), q99.begin() + 64)}));
    EXPECT_EQ(fallback.scan, Concat({Filler(100, 1), {0xFF, 0xD9}}));
  }
}

TEST_F(JpegDepacketizer, BrokenHeadersDropTheFrameOnly) {
  const std::vector<std::pair<uint8_t, Bytes>> broken = {
      {255, QuantHeader(0, 0, Filler(100, 1))},  // not one or two whole tables
      {255, {0, 0, 0x10, 0}},                    // tables longer than the packet
      {255, {0, 0}},                             // quantization header cut short
  };
  for (const auto& [q, extra] : broken) {
    Bytes payload = Concat({JpegHeader(0, 1, q, 80, 60), extra});
    Feed(3000, true, payload);
  }
  Feed(3000, true, Concat({JpegHeader(0, 2, 50, 80, 60), Filler(100, 1)}));    // undefined type
  Feed(3000, true, Concat({JpegHeader(0, 129, 50, 80, 60), Filler(100, 1)}));  // dynamic type
  Feed(3000, true, Concat({JpegHeader(0, 64, 50, 80, 60)}));                   // restart header missing
  Feed(3000, true, {0, 0, 0});                                                 // shorter than any header
  EXPECT_TRUE(client.frames.empty());
  SendFrame(6000, 1, 50, 80, 60, Filler(300, 2));
  EXPECT_EQ(client.frames.size(), 1u);
}

TEST_F(JpegDepacketizer, LossDropsTheFrameUntilTheNextFirstFragment) {
  SendFrame(3000, 1, 50, 80, 60, Filler(2500, 1));
  ASSERT_EQ(client.frames.size(), 1u);
  Feed(6000, false, Concat({JpegHeader(0, 1, 50, 80, 60), Filler(1000, 1)}));
  ++sequence;  // the middle fragment is lost
  Feed(6000, true, Concat({JpegHeader(2000, 1, 50, 80, 60), Filler(500, 1)}));
  Feed(9000, true, Concat({JpegHeader(1000, 1, 50, 80, 60), Filler(500, 1)}));  // no first fragment
  EXPECT_EQ(client.frames.size(), 1u);
  SendFrame(12000, 1, 50, 80, 60, Filler(1500, 2));
  ASSERT_EQ(client.frames.size(), 2u);
  EXPECT_EQ(ParseJfif(client.frames[1].data).scan, Concat({Filler(1500, 2), {0xFF, 0xD9}}));

  // A first fragment after a frame whose last packet carried no marker starts afresh.
  Feed(15000, false, Concat({JpegHeader(0, 1, 50, 80, 60), Filler(700, 5)}));
  SendFrame(18000, 1, 50, 80, 60, Filler(300, 6));
  ASSERT_EQ(client.frames.size(), 3u);
  EXPECT_EQ(ParseJfif(client.frames[2].data).scan, Concat({Filler(300, 6), {0xFF, 0xD9}}));
}

TEST_F(JpegDepacketizer, AllocationFailureIsLoggedAndReleasedBuffersBalance) {
  allocator.failAllocation = true;
  SendFrame(3000, 1, 50, 80, 60, Filler(300, 1));
  EXPECT_EQ(driver.Count("norvale::CJpegRTPMediaParser::ProcessFrame: Frame allocation error, device 127.0.0.1:80"),
            1u);
  allocator.failAllocation = false;
  client.throwOnDelivery = true;
  SendFrame(6000, 1, 50, 80, 60, Filler(300, 1));
  client.throwOnDelivery = false;
  SendFrame(9000, 1, 50, 80, 60, Filler(300, 1));
  EXPECT_EQ(client.frames.size(), 1u);
  EXPECT_EQ(allocator.allocations, 2u);
}

}  // namespace
}  // namespace zephrin::test
