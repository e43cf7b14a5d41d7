#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "streaming/CRTPReorderBuffer.h"

namespace {

using norvale::CRTPReorderBuffer;
using Entry = CRTPReorderBuffer::Entry;

// Packets arrive in the order given; an arrival of kTick advances the clock by 10 ms (and gives the
// buffer the chance to give up a gap, as the receiver's wait does).
constexpr int kTick = -1;

struct ArrivalCase {
  const char* name;
  std::vector<int> arrivals;
  std::vector<int> handedOn;
  uint64_t duplicates;
};

class ReorderArrivals : public ::testing::TestWithParam<ArrivalCase> {};

TEST_P(ReorderArrivals, PacketsLeaveInSequenceOrderWithDuplicatesDropped) {
  CRTPReorderBuffer buffer;
  std::vector<std::unique_ptr<Entry>> entries;
  std::vector<Entry*> ready, spent;
  std::vector<int> handedOn;
  uint32_t now = 0xFFFFFFF0u;  // the clock wraps on the way
  for (int arrival : GetParam().arrivals) {
    if (arrival == kTick) {
      now += 10;
      buffer.Expire(now, ready);
    } else {
      entries.push_back(std::make_unique<Entry>());
      entries.back()->packet.sequenceNumber = static_cast<uint16_t>(arrival);
      buffer.Offer(entries.back().get(), now, ready, spent);
    }
    for (Entry* entry : ready) handedOn.push_back(entry->packet.sequenceNumber);
    ready.clear();
    ASSERT_LE(buffer.Held(), CRTPReorderBuffer::kSlots);
  }
  EXPECT_EQ(handedOn, GetParam().handedOn);
  EXPECT_EQ(buffer.Duplicates(), GetParam().duplicates);
  EXPECT_EQ(spent.size(), GetParam().duplicates);
  // Nothing is held for ever: every gap is given up in time.
  for (int i = 0; i < 6; ++i) buffer.Expire(now += 10, ready);
  EXPECT_EQ(buffer.Held(), 0u);
  EXPECT_EQ(buffer.TimeToDeadline(now), CRTPReorderBuffer::kNoDeadline);
}

std::vector<int> Run(int first, int last) {
  std::vector<int> out;
  for (int i = first; i <= last; ++i) out.push_back(i);
  return out;
}

std::vector<int> Join(std::initializer_list<std::vector<int>> parts) {
  std::vector<int> out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Orders, ReorderArrivals,
    ::testing::Values(
        ArrivalCase{"InOrder", {1, 2, 3}, {1, 2, 3}, 0},
        ArrivalCase{"Late", {1, 2, 4, 5, 3, 6, kTick, 8, 7}, {1, 2, 3, 4, 5, 6, 7, 8}, 0},
        ArrivalCase{"Duplicated", {1, 2, 2, 4, 4, 3, 3, 1}, {1, 2, 3, 4}, 4},
        // Given up after 50 ms: what was held goes on from the lowest, a later straggler is dropped.
        ArrivalCase{"Lost", {1, 2, 4, 6, kTick, kTick, kTick, kTick, 5, kTick, 3, 7}, {1, 2, 4, 5, 6, 7}, 1},
        // The second gap has waited since its first held packet came.
        ArrivalCase{"TwoGaps", {1, 3, kTick, kTick, kTick, 5, kTick, kTick, kTick, kTick, kTick}, {1, 3, 5}, 0},
        ArrivalCase{"Wrap", {65534, 0, 65535, 2, 1}, {65534, 65535, 0, 1, 2}, 0},
        // A full window gives the gap up at once.
        ArrivalCase{"WindowFull", Join({{1}, Run(3, 66), {67}}), Join({{1}, Run(3, 67)}), 0},
        ArrivalCase{"FarAhead", {10, 11, 13, 5000, 5001}, {10, 11, 13, 5000, 5001}, 0},
        ArrivalCase{"FarBehind", {30000, 30002, 10, 11}, {30000, 30002, 10, 11}, 0},
        // A sender that starts over a little behind is followed after a window of drops.
        ArrivalCase{"RestartNearBehind", Join({{1000}, Run(900, 1000)}), Join({{1000}, Run(964, 1000)}), 64}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
