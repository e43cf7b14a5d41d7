#pragma once
#include <deque>
#include <memory>

#include "platform/Guard.h"
#include "runtime/CBaseThread.h"
#include "runtime/RecursiveLock.h"

namespace norvale {

// A worker that executes owned work items one at a time, in the order they were pushed.
template <typename T>
class CQueueThread : public CBaseThread {
 public:
  explicit CQueueThread(IDriver* driver = nullptr) : CBaseThread(driver) {}
  ~CQueueThread() override {
    JoinThread(5000);
    Clear();
  }

  virtual bool StartQueue(const std::string& name) {  // slot 6
    itemEvent_.Reset();
    return StartThread(name);
  }

  virtual bool StopQueue() {  // slot 7
    StopEvent().Set();
    Clear();
    return JoinThread(5000);
  }

  // Takes ownership; refused (and deleted) once the queue is stopping.
  bool Push(T* item) {
    std::unique_ptr<T> owned(item);
    if (StopEvent().Wait(0)) return false;
    {
      RecursiveLockGuard guard(lock_);
      queue_.push_back(owned.release());
    }
    itemEvent_.Set();
    return true;
  }

  size_t QueuedCount() {
    RecursiveLockGuard guard(lock_);
    return queue_.size();
  }

 protected:
  virtual void HandleWorkItem(T* item) = 0;  // slot 5

  // Under the queue lock, for subclasses that bound or reorder their queue.
  RecursiveLock& QueueLock() { return lock_; }
  std::deque<T*>& Queue() { return queue_; }

  void ThreadBody() override {
    CEvent* events[2] = {&StopEvent(), &itemEvent_};
    while (!StopEvent().Wait(0)) {
      if (CEvent::WaitAny(events, 2, 1000) != 1) continue;
      for (;;) {
        std::unique_ptr<T> item(TakeFirst());
        if (!item) break;
        if (StopEvent().Wait(0)) continue;  // stopping: drop without handling
        try {
          HandleWorkItem(item.get());
        }
        ZEPHRIN_RETHROW_CANCELLATION catch (...) {
          // A failing item never stops the queue.
        }
      }
    }
  }

 private:
  T* TakeFirst() {
    RecursiveLockGuard guard(lock_);
    if (queue_.empty()) return nullptr;
    T* item = queue_.front();
    queue_.pop_front();
    return item;
  }
  void Clear() {
    RecursiveLockGuard guard(lock_);
    for (T* item : queue_) delete item;
    queue_.clear();
  }

  CEvent itemEvent_;
  RecursiveLock lock_;
  std::deque<T*> queue_;
};

}  // namespace norvale
