// The packet queue between the UDP thread and the delivery thread: batches keep their order, drops
// are counted once and announced once per run, and entries are reused instead of allocated anew.
#include <gtest/gtest.h>

#include <vector>

#include "streaming/CRTPPacketQueue.h"
#include "unit/streaming/RtpBytes.h"

namespace norvale {
namespace {

using zephrin::test::BuildRtp;
using zephrin::test::RtpSpec;

// Datagrams as one read of the UDP thread hands them over; the buffers live as long as the batch.
struct Batch {
  std::vector<std::vector<uint8_t>> bytes;
  std::vector<platform::Datagram> datagrams;

  void Add(std::vector<uint8_t> data, uint16_t senderPort = 5000) {
    bytes.push_back(std::move(data));
    platform::Datagram d;
    d.from = platform::SocketAddress::IPv4(0x0100007F, senderPort);
    datagrams.push_back(d);
  }
  void AddRtp(uint16_t sequence) {
    RtpSpec spec;
    spec.sequence = sequence;
    spec.payload.assign(1200, static_cast<uint8_t>(sequence));
    Add(BuildRtp(spec), static_cast<uint16_t>(5000 + sequence));
  }
  const platform::Datagram* Get() {
    for (size_t i = 0; i < datagrams.size(); ++i) {
      datagrams[i].buffer = bytes[i].data();
      datagrams[i].capacity = datagrams[i].size = bytes[i].size();
    }
    return datagrams.data();
  }
  int Count() const { return static_cast<int>(datagrams.size()); }
};

std::vector<uint16_t> TakeSequences(CRTPPacketQueue& queue) {
  std::vector<uint16_t> out;
  std::vector<CRTPPacketQueue::Entry*> taken;
  for (queue.Take(taken); !taken.empty(); queue.Take(taken)) {
    for (auto* e : taken) {
      EXPECT_EQ(e->from.HostPort(), 5000 + e->packet.sequenceNumber) << "sender kept with its packet";
      EXPECT_EQ(e->packet.PayloadLength(), 1200u);
      EXPECT_EQ(e->packet.Payload()[0], static_cast<uint8_t>(e->packet.sequenceNumber));
      out.push_back(e->packet.sequenceNumber);
    }
    queue.Recycle(taken);
    EXPECT_TRUE(taken.empty());
  }
  return out;
}

std::vector<uint16_t> Range(uint16_t first, uint16_t last) {
  std::vector<uint16_t> out;
  for (uint32_t s = first; s <= last; ++s) out.push_back(static_cast<uint16_t>(s));
  return out;
}

TEST(RTPPacketQueue, BatchesKeepArrivalOrderAcrossTakesAndSkipWhatIsNotRTP) {
  CRTPPacketQueue queue(4096);
  Batch first;
  for (uint16_t s = 1; s <= 50; ++s) {
    first.AddRtp(s);
    if (s == 20) first.Add(std::vector<uint8_t>(12, 0x80));  // too short
    if (s == 30) first.Add(std::vector<uint8_t>(40, 0x40));  // version 1
  }
  const auto pushed = queue.Push(first.Get(), first.Count());
  EXPECT_EQ(pushed.queued, 50);
  EXPECT_EQ(pushed.dropped, 0);
  Batch second;
  for (uint16_t s = 51; s <= 150; ++s) second.AddRtp(s);
  queue.Push(second.Get(), second.Count());
  EXPECT_EQ(queue.Size(), 150u);

  // A take hands over at most kTakeLimit packets, the oldest first.
  std::vector<CRTPPacketQueue::Entry*> taken;
  queue.Take(taken);
  ASSERT_EQ(taken.size(), CRTPPacketQueue::kTakeLimit);
  EXPECT_EQ(taken.front()->packet.sequenceNumber, 1);
  queue.Recycle(taken);
  std::vector<uint16_t> rest = TakeSequences(queue);
  EXPECT_EQ(rest, Range(CRTPPacketQueue::kTakeLimit + 1, 150));
  EXPECT_EQ(queue.Dropped(), 0u);
}

TEST(RTPPacketQueue, FullQueueGivesUpTheOldestAndCountsEachDropOnceWithOneRunPerStall) {
  CRTPPacketQueue queue(10);
  Batch a;
  for (uint16_t s = 1; s <= 25; ++s) a.AddRtp(s);
  auto pushed = queue.Push(a.Get(), a.Count());
  EXPECT_EQ(pushed.queued, 25);
  EXPECT_EQ(pushed.dropped, 15);
  EXPECT_TRUE(pushed.runStarted);
  EXPECT_EQ(queue.Size(), 10u);

  // Still full: more drops, but the same run.
  Batch b;
  b.AddRtp(26);
  b.AddRtp(27);
  pushed = queue.Push(b.Get(), b.Count());
  EXPECT_EQ(pushed.dropped, 2);
  EXPECT_FALSE(pushed.runStarted);
  EXPECT_EQ(queue.Dropped(), 17u);
  EXPECT_EQ(TakeSequences(queue), Range(18, 27));

  // The queue drained: the next overflow is a new run.
  Batch c;
  c.AddRtp(28);
  pushed = queue.Push(c.Get(), c.Count());
  EXPECT_FALSE(pushed.runStarted);
  Batch d;
  for (uint16_t s = 29; s <= 40; ++s) d.AddRtp(s);
  pushed = queue.Push(d.Get(), d.Count());
  EXPECT_EQ(pushed.dropped, 3);  // 28 to 40 is 13 packets for 10 places
  EXPECT_TRUE(pushed.runStarted);
  EXPECT_EQ(queue.Dropped(), 20u);
  EXPECT_EQ(TakeSequences(queue), Range(31, 40));

  // Clear is no loss and ends a run.
  Batch e;
  for (uint16_t s = 41; s <= 60; ++s) e.AddRtp(s);
  queue.Push(e.Get(), e.Count());
  queue.Clear();
  EXPECT_EQ(queue.Size(), 0u);
  EXPECT_EQ(queue.Dropped(), 30u);
  Batch f;
  for (uint16_t s = 61; s <= 71; ++s) f.AddRtp(s);
  EXPECT_TRUE(queue.Push(f.Get(), f.Count()).runStarted);
}

TEST(RTPPacketQueue, EntriesAreReusedAndStayBoundedWhileTheConsumerStalls) {
  CRTPPacketQueue queue(100);
  // Steady reception: after the first round no new entry is created.
  for (int round = 0; round < 50; ++round) {
    Batch b;
    for (uint16_t s = 1; s <= 32; ++s) b.AddRtp(static_cast<uint16_t>(round * 32 + s));
    queue.Push(b.Get(), b.Count());
    TakeSequences(queue);
  }
  EXPECT_LE(queue.Allocated(), 33u);

  // The consumer holds a full take and stops: thousands more packets cost no more entries than
  // the queue and that take can hold, and the newest wait in order.
  Batch before;
  for (uint16_t s = 1; s <= 100; ++s) before.AddRtp(s);
  queue.Push(before.Get(), before.Count());
  std::vector<CRTPPacketQueue::Entry*> held;
  queue.Take(held);
  ASSERT_EQ(held.size(), CRTPPacketQueue::kTakeLimit);
  for (int round = 0; round < 100; ++round) {
    Batch b;
    for (uint16_t s = 0; s < 32; ++s) b.AddRtp(static_cast<uint16_t>(1000 + round * 32 + s));
    queue.Push(b.Get(), b.Count());
  }
  EXPECT_LE(queue.Allocated(), 100u + CRTPPacketQueue::kTakeLimit + 1);
  EXPECT_EQ(queue.Size(), 100u);
  EXPECT_EQ(queue.Dropped(), 100u * 32 - 64);  // 36 left of the first 100, then 3200 new, 100 kept
  EXPECT_EQ(held.front()->packet.sequenceNumber, 1) << "a held packet is never reused under its holder";
  EXPECT_EQ(held.back()->packet.sequenceNumber, 64);
  queue.Recycle(held);
  EXPECT_EQ(TakeSequences(queue), Range(1000 + 3200 - 100, 1000 + 3200 - 1));
}

// A queue passed on to the next reader: the entries the last one held out come back, and the next
// reader neither allocates for what the queue has held nor sees a packet of the last one.
TEST(RTPPacketQueue, ReclaimTakesBackWhatTheLastReaderHeld) {
  CRTPPacketQueue queue(200);
  Batch first;
  for (uint16_t s = 1; s <= 80; ++s) first.AddRtp(s);
  queue.Push(first.Get(), first.Count());
  std::vector<CRTPPacketQueue::Entry*> given, held;
  queue.Take(given);
  queue.Recycle(given);
  queue.Take(held);  // never given back: that reader ended
  const size_t allocated = queue.Allocated();
  queue.Reclaim();
  EXPECT_EQ(queue.Size(), 0u);
  Batch next, more;
  for (uint16_t s = 200; s < 280; ++s) next.AddRtp(s);
  for (uint16_t s = 280; s < 300; ++s) more.AddRtp(s);
  queue.Push(next.Get(), next.Count());
  EXPECT_EQ(queue.Allocated(), allocated);
  queue.Push(more.Get(), more.Count());  // beyond what the queue held: no entry serves twice
  EXPECT_EQ(TakeSequences(queue), Range(200, 299));
}

}  // namespace
}  // namespace norvale
