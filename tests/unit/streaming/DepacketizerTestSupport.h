#pragma once
// Shared pieces of the depacketizer tests: packets built field by field, and a fixture wiring a
// depacketizer to a recording driver, allocator and client.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "streaming/CRTPPacket.h"
#include "support/FakeDriver.h"
#include "support/MemoryFrameAllocator.h"

namespace zephrin::test {

using Bytes = std::vector<uint8_t>;

inline norvale::CRTPPacket MakePacket(uint16_t sequence, uint32_t timestamp, bool marker, const Bytes& payload) {
  norvale::CRTPPacket packet;
  packet.sequenceNumber = sequence;
  packet.timestamp = timestamp;
  packet.marker = marker;
  packet.payloadType = 96;
  packet.payload = payload;
  return packet;
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline Bytes Filler(size_t size, uint8_t seed) {
  Bytes out(size);
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(seed + i * 7 + 0x40);  // never 00 00 01
  return out;
}

// Writes bit fields most significant bit first, with Exp-Golomb codes, for building headers.
class BitWriter {
 public:
  void Put(uint64_t value, unsigned bits) {
    for (unsigned i = bits; i-- > 0;) PutBit((value >> i) & 1);
  }
  void PutBit(unsigned bit) {
    if (used_ == 0) bytes_.push_back(0);
    if (bit) bytes_.back() |= static_cast<uint8_t>(0x80 >> used_);
    used_ = (used_ + 1) % 8;
  }
  void UE(uint32_t value) {
    const uint64_t code = uint64_t{value} + 1;
    unsigned bits = 0;
    while ((code >> bits) > 1) ++bits;
    Put(0, bits);
    Put(code, bits + 1);
  }
  void SE(int32_t value) {
    UE(value > 0 ? static_cast<uint32_t>(2 * int64_t{value} - 1) : static_cast<uint32_t>(-2 * int64_t{value}));
  }
  // Stop bit and zero alignment, as a NAL unit payload ends.
  Bytes Finish() {
    PutBit(1);
    while (used_ != 0) PutBit(0);
    return bytes_;
  }
  Bytes Aligned() {
    while (used_ != 0) PutBit(0);
    return bytes_;
  }

 private:
  Bytes bytes_;
  unsigned used_ = 0;
};

template <typename Parser>
class DepacketizerFixture : public ::testing::Test {
 protected:
  DepacketizerFixture() : parser(&driver) {
    driver.frameAllocator = &allocator;
    parser.SetClient(&client);
  }
  void Feed(const norvale::CRTPPacket& packet) { parser.ProcessPacket(packet); }
  void Feed(uint32_t timestamp, bool marker, const Bytes& payload) {
    Feed(MakePacket(sequence++, timestamp, marker, payload));
  }
  // Every buffer taken from the allocator went back exactly once.
  void ExpectBalanced() {
    EXPECT_EQ(allocator.Outstanding(), 0u);
    EXPECT_EQ(allocator.badReleases, 0u);
    EXPECT_EQ(allocator.allocations, allocator.releases);
  }
  void TearDown() override { ExpectBalanced(); }

  FakeDriver driver;
  MemoryFrameAllocator allocator;
  RecordingParserClient client;
  Parser parser;
  uint16_t sequence = 1000;
};

}  // namespace zephrin::test
