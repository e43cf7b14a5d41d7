#include "driver/CChannelReaper.h"

#include <algorithm>
#include <utility>

#include "platform/Guard.h"
#include "runtime/CBaseThread.h"
#include "runtime/CEvent.h"

namespace norvale {

class CChannelReaper::Batch : public CBaseThread {
 public:
  Batch(IDriver* driver, std::vector<Part> parts) : CBaseThread(driver), parts_(std::move(parts)) {}
  ~Batch() override { JoinThread(platform::kInfinite); }

  // Runs the batch on this thread when no thread of its own can be had.
  void RunHere() { ThreadBody(); }
  bool WaitDone(uint32_t ms) { return done_.Wait(ms); }

 protected:
  void ThreadBody() override {
    for (Part& part : parts_) std::exchange(part, nullptr)();
    done_.Set();
  }

 private:
  std::vector<Part> parts_;
  CManualEvent done_;
};

CChannelReaper::CChannelReaper(IDriver* driver) : driver_(driver) {}

CChannelReaper::~CChannelReaper() { WaitForAll(); }

uint32_t CChannelReaper::StopLimit() const { return norvale::StopLimit(driver_); }

bool CChannelReaper::Retire(std::vector<ICameraChannel*> channels, uint32_t waitMs) {
  // Every channel stops calling the host before any is waited for: one whose thread the host holds
  // must not keep the others delivering after the caller's limit.
  for (ICameraChannel* channel : channels)
    if (channel) channel->Silence();
  std::vector<Part> parts;
  for (ICameraChannel* channel : channels)
    if (channel)
      parts.emplace_back([channel] {
        channel->Stop();
        delete channel;
      });
  return RetireParts(std::move(parts), waitMs);
}

bool CChannelReaper::RetireParts(std::vector<Part> parts, uint32_t waitMs) {
  if (parts.empty()) {
    Collect(false);
    return true;
  }
  auto batch = std::make_shared<Batch>(driver_, std::move(parts));
  // Kept from the moment its thread runs, with no point to be terminated in between: a caller that
  // is itself a stream's thread may be terminated while it waits, and its unwinding must neither
  // free the batch under its thread nor wait for it (the batch may need what the caller holds).
  bool started = false;
  bool tried = false;
  const auto keep = [&] {
    RecursiveLockGuard guard(lock_);
    tried = true;
    started = batch->StartThread("Channel stop");
    if (started) batches_.push_back(batch);
  };
  try {
    keep();
  } catch (platform::ThreadCancellation&) {
    // Terminated while waiting for the lock: the batch is still started before the caller unwinds
    // (a terminated thread's waits are not ended early a second time), or its channels would be
    // neither stopped nor freed.
    if (!tried) keep();
    if (!started) batch->RunHere();
    throw;
  }
  // Finished batches are let go only now: a caller terminated while it waits for them (or for the
  // lock) has handed its parts over already.
  Collect(false);
  if (!started) {
    batch->RunHere();
    return true;
  }
  return batch->WaitDone(std::min(waitMs, StopLimit()));
}

size_t CChannelReaper::Collect(bool all) {
  std::vector<std::shared_ptr<Batch>> finished;
  {
    RecursiveLockGuard guard(lock_);
    for (auto it = batches_.begin(); it != batches_.end();) {
      // Only a batch whose thread has ended is let go (unless all are waited for): collecting never
      // waits.
      if (all || !(*it)->IsRunning()) {
        finished.push_back(std::move(*it));
        it = batches_.erase(it);
      } else {
        ++it;
      }
    }
  }
  // Joined outside the lock: a batch still held in the host must not hold up other retirements.
  finished.clear();
  RecursiveLockGuard guard(lock_);
  return batches_.size();
}

void CChannelReaper::WaitForAll() {
  while (Collect(true) > 0) {
  }
}

bool CChannelReaper::Settle(uint32_t ms) {
  const uint32_t start = platform::TickCount();
  while (Collect(false) > 0) {
    if (platform::TimeLeft(start, ms) == 0) return false;
    platform::SleepMs(20);
  }
  return true;
}

}  // namespace norvale
