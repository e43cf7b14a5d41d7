// The bit reader's error is sticky: parsers read a run of fields and check once, so a failed read
// must poison every later one instead of handing out bits from wherever the reader stopped.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "streaming/CBitReader.h"

namespace zephrin::test {
namespace {

using norvale::CBitReader;

TEST(BitReader, ReadsFieldsAndExpGolombCodesInOrder) {
  // 101 | 1 (ue 0) | 010 (ue 1) | 011 (se -1) | 00100 (ue 3) | 1 (marker) | padding
  const std::vector<uint8_t> data = {0b10110100, 0b11001001, 0b00000000};
  CBitReader r(data.data(), data.size());
  EXPECT_EQ(r.Bits(3), 5u);
  EXPECT_EQ(r.UE(), 0u);
  EXPECT_EQ(r.UE(), 1u);
  EXPECT_EQ(r.SE(), -1);
  EXPECT_EQ(r.UE(), 3u);
  r.Marker();
  EXPECT_TRUE(r.Ok());
}

TEST(BitReader, AFailedReadPoisonsEveryLaterRead) {
  const std::vector<uint8_t> data = {0xFF, 0xFF};
  CBitReader r(data.data(), data.size());
  EXPECT_EQ(r.Bits(12), 0xFFFu);
  EXPECT_EQ(r.Bits(8), 0u) << "only 4 bits are left";
  EXPECT_FALSE(r.Ok());
  EXPECT_EQ(r.Bits(4), 0u) << "the 4 bits still there are not handed out after the error";
  EXPECT_EQ(r.Bit(), 0u);
  EXPECT_EQ(r.UE(), 0u);
  EXPECT_FALSE(r.Ok());

  r.Init(data.data(), data.size());
  EXPECT_TRUE(r.Ok()) << "a new start clears the error";
  EXPECT_EQ(r.Bits(16), 0xFFFFu);
}

TEST(BitReader, RangeMarkerAndLengthViolationsSetTheError) {
  const std::vector<uint8_t> ue4 = {0b00101000};  // ue 4
  CBitReader r(ue4.data(), ue4.size());
  EXPECT_EQ(r.UE(3), 0u);
  EXPECT_FALSE(r.Ok());

  const std::vector<uint8_t> zero = {0x00};
  r.Init(zero.data(), zero.size());
  r.Marker();
  EXPECT_FALSE(r.Ok()) << "a marker bit of 0";

  const std::vector<uint8_t> se = {0b00111000};  // se -3
  r.Init(se.data(), se.size());
  EXPECT_EQ(r.SE(-2, 2), 0);
  EXPECT_FALSE(r.Ok());

  // 33 leading zeros: no 32-bit value has such a code.
  const std::vector<uint8_t> longCode = {0, 0, 0, 0, 0x40, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  r.Init(longCode.data(), longCode.size());
  r.UE();
  EXPECT_FALSE(r.Ok());

  r.Init(zero.data(), zero.size());
  r.Fail();
  EXPECT_EQ(r.Bits(1), 0u);
  EXPECT_FALSE(r.Ok());
}

TEST(BitReader, EmulationPreventionBytesAreSteppedOverOnlyWhenAsked) {
  const std::vector<uint8_t> data = {0x00, 0x00, 0x03, 0x01};
  CBitReader raw(data.data(), data.size(), true);
  EXPECT_EQ(raw.Bits(24), 0x000001u);
  EXPECT_TRUE(raw.Ok());
  EXPECT_EQ(raw.Bits(1), 0u);
  EXPECT_FALSE(raw.Ok()) << "the 03 byte does not count as data";

  CBitReader plain(data.data(), data.size());
  EXPECT_EQ(plain.Bits(32), 0x00000301u);
  EXPECT_TRUE(plain.Ok());
}

}  // namespace
}  // namespace zephrin::test
