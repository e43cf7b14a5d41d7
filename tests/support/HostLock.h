#pragma once
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace zephrin::test {

// A mutex of the host's that the test takes on one thread and may give back from another. A plain
// mutex may only be unlocked by its owner, so a thread of this object's own holds it in between. A
// host callback waiting for it blocks in the mutex itself, at no point where a thread can be
// terminated, as a callback blocked on a host mutex does.
class HostLock {
 public:
  ~HostLock() { unlock(); }
  void lock() {
    std::atomic<bool> taken{false};
    release_ = false;
    holder_ = std::thread([this, &taken] {
      std::lock_guard<std::mutex> hold(mutex_);
      taken = true;
      std::unique_lock<std::mutex> wait(signalMutex_);
      released_.wait(wait, [this] { return release_; });
    });
    while (!taken) std::this_thread::yield();
  }
  void unlock() {
    if (!holder_.joinable()) return;
    {
      std::lock_guard<std::mutex> guard(signalMutex_);
      release_ = true;
    }
    released_.notify_all();
    holder_.join();
  }
  // Waits until the mutex is free, as a host callback that needs it does.
  void Pass() { std::lock_guard<std::mutex> wait(mutex_); }

 private:
  std::mutex mutex_;
  std::mutex signalMutex_;
  std::condition_variable released_;
  bool release_ = false;
  std::thread holder_;
};

}  // namespace zephrin::test
