#include "streaming/CRTPReorderBuffer.h"

namespace norvale {

void CRTPReorderBuffer::Offer(Entry* entry, uint32_t now, std::vector<Entry*>& ready, std::vector<Entry*>& spent) {
  if (!entry) return;
  if (held_ > 0) Expire(now, ready);
  const uint16_t sequence = entry->packet.sequenceNumber;
  if (!started_) {
    StartOver(entry, ready);
    return;
  }
  const uint16_t ahead = static_cast<uint16_t>(sequence - expected_);
  if (ahead == 0) {
    behindRun_ = 0;
    ready.push_back(entry);
    ++expected_;
    if (held_ > 0) PassConsecutive(ready);
    return;
  }
  if (ahead <= kSlots) {
    behindRun_ = 0;
    // Every packet held lies within kSlots after the expected one, so each has a slot of its own.
    Entry*& slot = Slot(sequence);
    if (slot) {
      spent.push_back(entry);
      duplicates_.fetch_add(1, std::memory_order_relaxed);
      return;
    }
    slot = entry;
    arrival_[sequence % kSlots] = now;
    if (held_++ == 0) deadline_ = now + kHoldTime;
    if (held_ == kSlots) GiveUpGap(ready);
    return;
  }
  const uint16_t behind = static_cast<uint16_t>(expected_ - sequence);
  // A long run of packets behind is a sender that started over a little further back.
  if (behind <= kLateLimit && ++behindRun_ <= kSlots) {
    spent.push_back(entry);
    duplicates_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  StartOver(entry, ready);
}

void CRTPReorderBuffer::Expire(uint32_t now, std::vector<Entry*>& ready) {
  while (held_ > 0 && static_cast<int32_t>(now - deadline_) >= 0) GiveUpGap(ready);
}

uint32_t CRTPReorderBuffer::TimeToDeadline(uint32_t now) const {
  if (held_ == 0) return kNoDeadline;
  const int32_t left = static_cast<int32_t>(deadline_ - now);
  return left > 0 ? static_cast<uint32_t>(left) : 0;
}

void CRTPReorderBuffer::GiveUpGap(std::vector<Entry*>& ready) {
  for (uint16_t distance = 1; distance <= kSlots; ++distance) {
    const uint16_t sequence = static_cast<uint16_t>(expected_ + distance);
    if (Slot(sequence)) {
      expected_ = sequence;
      break;
    }
  }
  PassConsecutive(ready);
}

void CRTPReorderBuffer::PassConsecutive(std::vector<Entry*>& ready) {
  bool passed = false;
  while (held_ > 0) {
    Entry*& slot = Slot(expected_);
    if (!slot || slot->packet.sequenceNumber != expected_) break;
    ready.push_back(slot);
    slot = nullptr;
    --held_;
    ++expected_;
    passed = true;
  }
  if (passed && held_ > 0) UpdateDeadline();
}

void CRTPReorderBuffer::StartOver(Entry* entry, std::vector<Entry*>& ready) {
  for (uint16_t distance = 1; distance <= kSlots && held_ > 0; ++distance) {
    Entry*& slot = Slot(static_cast<uint16_t>(expected_ + distance));
    if (!slot) continue;
    ready.push_back(slot);
    slot = nullptr;
    --held_;
  }
  held_ = 0;
  started_ = true;
  behindRun_ = 0;
  ready.push_back(entry);
  expected_ = static_cast<uint16_t>(entry->packet.sequenceNumber + 1);
}

void CRTPReorderBuffer::UpdateDeadline() {
  // The gap now open has waited since the oldest packet still held arrived.
  bool found = false;
  uint32_t oldest = 0;
  for (size_t i = 0; i < kSlots; ++i) {
    if (!slots_[i]) continue;
    if (!found || static_cast<int32_t>(arrival_[i] - oldest) < 0) oldest = arrival_[i];
    found = true;
  }
  deadline_ = oldest + kHoldTime;
}

}  // namespace norvale
