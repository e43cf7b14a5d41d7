#include "streaming/CRTPPacketQueue.h"

#include <algorithm>

namespace norvale {

CRTPPacketQueue::CRTPPacketQueue(size_t limit) : limit_(limit == 0 ? 1 : limit) {}

void CRTPPacketQueue::SetLimit(size_t packets) {
  RecursiveLockGuard guard(lock_);
  limit_ = packets == 0 ? 1 : packets;
}

size_t CRTPPacketQueue::Limit() {
  RecursiveLockGuard guard(lock_);
  return limit_;
}

CRTPPacketQueue::Entry* CRTPPacketQueue::Acquire() {
  if (!free_.empty()) {
    Entry* e = free_.back();
    free_.pop_back();
    return e;
  }
  store_.push_back(std::make_unique<Entry>());
  return store_.back().get();
}

CRTPPacketQueue::PushResult CRTPPacketQueue::Push(const platform::Datagram* datagrams, int count) {
  PushResult result;
  if (!datagrams || count <= 0) return result;
  RecursiveLockGuard guard(lock_);
  for (int i = 0; i < count; ++i) {
    const platform::Datagram& d = datagrams[i];
    Entry* e = Acquire();
    if (!e->packet.Parse(d.buffer, d.size)) {
      free_.push_back(e);
      continue;
    }
    e->from = d.from;
    bool dropped = false;
    while (queue_.size() - head_ >= limit_) {
      free_.push_back(queue_[head_++]);
      ++result.dropped;
      dropped = true;
    }
    if (dropped) Compact();
    if (dropped && !dropping_) result.runStarted = true;
    dropping_ = dropped;
    queue_.push_back(e);
    ++result.queued;
  }
  dropped_ += static_cast<uint64_t>(result.dropped);
  return result;
}

void CRTPPacketQueue::Take(std::vector<Entry*>& out) {
  RecursiveLockGuard guard(lock_);
  const size_t n = std::min(queue_.size() - head_, kTakeLimit);
  out.insert(out.end(), queue_.begin() + static_cast<std::ptrdiff_t>(head_),
             queue_.begin() + static_cast<std::ptrdiff_t>(head_ + n));
  head_ += n;
  if (head_ == queue_.size()) {
    queue_.clear();  // keeps its capacity
    head_ = 0;
  } else {
    Compact();
  }
}

void CRTPPacketQueue::Compact() {
  // Entries before head_ are gone; they are cut off once they make up half of the vector, so the
  // vector stays within twice the queue's length however long a stall lasts.
  if (head_ >= 64 && head_ * 2 >= queue_.size()) {
    queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(head_));
    head_ = 0;
  }
}

void CRTPPacketQueue::Recycle(std::vector<Entry*>& taken) {
  if (taken.empty()) return;
  {
    RecursiveLockGuard guard(lock_);
    free_.insert(free_.end(), taken.begin(), taken.end());
  }
  taken.clear();
}

void CRTPPacketQueue::Clear() {
  RecursiveLockGuard guard(lock_);
  free_.insert(free_.end(), queue_.begin() + static_cast<std::ptrdiff_t>(head_), queue_.end());
  queue_.clear();
  head_ = 0;
  dropping_ = false;
}

void CRTPPacketQueue::Reclaim() {
  RecursiveLockGuard guard(lock_);
  queue_.clear();
  head_ = 0;
  dropping_ = false;
  free_.clear();
  for (const auto& entry : store_) free_.push_back(entry.get());
}

size_t CRTPPacketQueue::Size() {
  RecursiveLockGuard guard(lock_);
  return queue_.size() - head_;
}

size_t CRTPPacketQueue::Allocated() {
  RecursiveLockGuard guard(lock_);
  return store_.size();
}

}  // namespace norvale
