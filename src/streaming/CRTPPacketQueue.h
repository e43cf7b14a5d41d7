#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/Socket.h"
#include "runtime/RecursiveLock.h"
#include "streaming/CRTPPacket.h"

namespace norvale {

// The first-in first-out queue between a UDP client's thread and the thread that delivers the
// packets. Datagrams arrive and leave in batches, each batch under one lock. Entries are recycled:
// a packet's buffers are reused by later packets, so steady reception allocates nothing. At most
// `limit` packets wait; a full queue gives up its oldest packet for each new one.
class CRTPPacketQueue {
 public:
  struct Entry {
    platform::SocketAddress from;
    CRTPPacket packet;
  };
  struct PushResult {
    int queued = 0;           // packets appended
    int dropped = 0;          // older packets given up to make room
    bool runStarted = false;  // this push began a run of drops (the previous push dropped none)
  };

  explicit CRTPPacketQueue(size_t limit);
  CRTPPacketQueue(const CRTPPacketQueue&) = delete;
  CRTPPacketQueue& operator=(const CRTPPacketQueue&) = delete;

  void SetLimit(size_t packets);
  size_t Limit();
  // Parses each datagram into a recycled entry and appends the RTP packets among them, in order;
  // anything that is not an RTP packet is left out.
  PushResult Push(const platform::Datagram* datagrams, int count);
  // Moves up to kTakeLimit of the oldest entries into out, in order. out must be empty (Recycle).
  void Take(std::vector<Entry*>& out);
  // Gives taken entries back for reuse and empties the list.
  void Recycle(std::vector<Entry*>& taken);
  // Gives up every queued packet (not counted as dropped) and ends a run of drops.
  void Clear();
  // Clear, and takes back every entry a reader still holds: only once no reader is left. The
  // entries (and their buffers) then serve the next reader, so a queue kept from one reader to the
  // next allocates only for more packets than it ever held.
  void Reclaim();

  size_t Size();
  uint64_t Dropped() const { return dropped_; }
  // Entries created so far: at most the limit plus one take, plus those a reader keeps out for a
  // while (the receiver's reorder stage holds up to its slot count).
  size_t Allocated();

  static constexpr size_t kTakeLimit = 64;

 private:
  Entry* Acquire();  // under lock_
  void Compact();    // under lock_

  RecursiveLock lock_;
  size_t limit_;
  std::vector<std::unique_ptr<Entry>> store_;  // every entry ever created
  std::vector<Entry*> free_;
  std::vector<Entry*> queue_;  // waiting packets from head_ on
  size_t head_ = 0;
  bool dropping_ = false;
  std::atomic<uint64_t> dropped_{0};
};

}  // namespace norvale
