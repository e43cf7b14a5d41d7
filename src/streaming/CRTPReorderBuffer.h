#pragma once
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "streaming/CRTPPacketQueue.h"

namespace norvale {

// Puts the packets of one UDP stream back into sequence order (16-bit wrap) before they reach the
// depacketizer. A packet that is the next one expected passes at once; one a little ahead is held
// (its queue entry is kept, nothing is copied) until the packets before it arrive. A gap is held open
// for at most kHoldTime ms or until kSlots packets wait behind it, then declared lost: the held
// packets go on from the lowest, and the depacketizer sees the gap. A packet already handed on or
// already held is dropped and counted as a duplicate (a packet arriving after its gap was given up
// is behind what was handed on and counted with them). A jump beyond the window either way (a
// restarted sender) hands on what is held and starts over from the new packet.
//
// Used by one thread only, but Duplicates() may be read from any thread.
class CRTPReorderBuffer {
 public:
  using Entry = CRTPPacketQueue::Entry;

  // Packets held at most, and how far ahead of the expected one a packet may be to be held.
  static constexpr uint16_t kSlots = 64;
  // How long a gap stays open. Jitter that reorders packets is a few milliseconds on a real network
  // (a 25 fps camera sends a frame every 40 ms, so 50 ms covers more than a frame time of delay)
  // while the frames behind the gap wait that long at most: live video stays live, and a real loss
  // still reaches the key-frame wait within about a frame.
  static constexpr uint32_t kHoldTime = 50;
  // How far behind the expected packet a packet is still taken for a late copy; further back it
  // means the sender started over.
  static constexpr uint16_t kLateLimit = 1024;
  static constexpr uint32_t kNoDeadline = 0xFFFFFFFFu;

  CRTPReorderBuffer() { slots_.fill(nullptr); }
  CRTPReorderBuffer(const CRTPReorderBuffer&) = delete;
  CRTPReorderBuffer& operator=(const CRTPReorderBuffer&) = delete;

  // Takes one packet in arrival order at time now (ms, wrapping). Entries to hand on now, in sequence
  // order, are appended to ready (a gap whose time has passed is given up first); an entry dropped
  // as a duplicate is appended to spent. A held entry stays here until it is handed on.
  void Offer(Entry* entry, uint32_t now, std::vector<Entry*>& ready, std::vector<Entry*>& spent);
  // Gives up every gap whose time has passed, appending what it releases to ready.
  void Expire(uint32_t now, std::vector<Entry*>& ready);
  // Milliseconds until the open gap is given up (0 when due), kNoDeadline when no gap is open.
  uint32_t TimeToDeadline(uint32_t now) const;

  size_t Held() const { return held_; }
  uint64_t Duplicates() const { return duplicates_.load(std::memory_order_relaxed); }

 private:
  Entry*& Slot(uint16_t sequence) { return slots_[sequence % kSlots]; }
  // Declares the lowest gap lost: expects the lowest packet held and hands on what follows on.
  void GiveUpGap(std::vector<Entry*>& ready);
  // Hands on the held packets that now follow on without a gap.
  void PassConsecutive(std::vector<Entry*>& ready);
  // Hands on everything held, lowest first, and expects what follows the entry given (if any).
  void StartOver(Entry* entry, std::vector<Entry*>& ready);
  void UpdateDeadline();

  bool started_ = false;
  uint16_t expected_ = 0;
  std::array<Entry*, kSlots> slots_;
  std::array<uint32_t, kSlots> arrival_{};
  size_t held_ = 0;
  uint32_t deadline_ = 0;   // while held_ > 0
  uint32_t behindRun_ = 0;  // packets in a row that were behind
  std::atomic<uint64_t> duplicates_{0};
};

}  // namespace norvale
