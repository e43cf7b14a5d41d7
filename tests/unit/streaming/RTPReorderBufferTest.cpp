#include <gtest/gtest.h>

#include <string>

#include "streaming/CRTPReorderBuffer.h"

namespace {

using norvale::CRTPReorderBuffer;

constexpr int kTick = -1;  // an arrival that advances the clock by 10 ms

struct ArrivalCase {
  const char* name;
  std::vector<int> arrivals;
  std::vector<int> handedOn;
  size_t duplicates;
};

std::vector<int> Ranges(std::initializer_list<std::pair<int, int>> ranges) {
  std::vector<int> out;
  for (auto [first, last] : ranges)
    while (first <= last) out.push_back(first++);
  return out;
}

class ReorderArrivals : public ::testing::TestWithParam<ArrivalCase> {};

TEST_P(ReorderArrivals, PacketsLeaveInSequenceOrderWithDuplicatesDropped) {
  CRTPReorderBuffer buffer;
  std::vector<CRTPReorderBuffer::Entry> entries(GetParam().arrivals.size());
  std::vector<CRTPReorderBuffer::Entry*> ready, spent;
  uint32_t now = 0xFFFFFFF0u;  // the clock wraps on the way
  for (size_t i = 0; i < entries.size(); ++i) {
    entries[i].packet.sequenceNumber = static_cast<uint16_t>(GetParam().arrivals[i]);
    if (GetParam().arrivals[i] == kTick)
      buffer.Expire(now += 10, ready);
    else
      buffer.Offer(&entries[i], now, ready, spent);
  }
  std::vector<int> handedOn;
  for (auto* entry : ready) handedOn.push_back(entry->packet.sequenceNumber);
  EXPECT_EQ(handedOn, GetParam().handedOn);
  EXPECT_EQ(buffer.Duplicates(), GetParam().duplicates);
  // Every gap is given up in time.
  buffer.Expire(now + CRTPReorderBuffer::kHoldTime, ready);
  EXPECT_EQ(buffer.Held(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Orders, ReorderArrivals,
    ::testing::Values(
        ArrivalCase{"Late", {1, 2, 4, 5, 3, 6, kTick, 8, 7}, {1, 2, 3, 4, 5, 6, 7, 8}, 0},
        ArrivalCase{"Duplicated", {1, 2, 2, 4, 4, 3, 3, 1}, {1, 2, 3, 4}, 4},
        // Given up after 50 ms: what was held goes on from the lowest, a later straggler is dropped.
        ArrivalCase{"Lost", {1, 2, 4, 6, kTick, kTick, kTick, kTick, 5, kTick, 3, 7}, {1, 2, 4, 5, 6, 7}, 1},
        // The second gap has waited since its first held packet came.
        ArrivalCase{"TwoGaps", {1, 3, kTick, kTick, kTick, 5, kTick, kTick, kTick, kTick, kTick}, {1, 3, 5}, 0},
        ArrivalCase{"Wrap", {65534, 0, 65535, 2, 1}, {65534, 65535, 0, 1, 2}, 0},
        ArrivalCase{"WindowFull", Ranges({{1, 1}, {3, 67}}), Ranges({{1, 1}, {3, 67}}), 0},
        ArrivalCase{"FarAhead", {10, 11, 13, 5000, 5001}, {10, 11, 13, 5000, 5001}, 0},
        ArrivalCase{"FarBehind", {30000, 30002, 10, 11}, {30000, 30002, 10, 11}, 0},  // a sender that starts over
        ArrivalCase{"RestartNearBehind", Ranges({{1000, 1000}, {900, 1000}}), Ranges({{1000, 1000}, {964, 1000}}), 64}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
