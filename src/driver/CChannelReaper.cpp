#include "driver/CChannelReaper.h"

#include <algorithm>
#include <utility>

#include "runtime/CBaseThread.h"
#include "runtime/CEvent.h"

namespace norvale {

class CChannelReaper::Batch : public CBaseThread {
 public:
  Batch(IDriver* driver, std::vector<ICameraChannel*> channels) : CBaseThread(driver), channels_(std::move(channels)) {}
  ~Batch() override { JoinThread(platform::kInfinite); }

  // Runs the batch on this thread when no thread of its own can be had.
  void RunHere() { ThreadBody(); }
  bool WaitDone(uint32_t ms) { return done_.Wait(ms); }

 protected:
  void ThreadBody() override {
    for (ICameraChannel*& channel : channels_) {
      if (!channel) continue;
      channel->Stop();
      delete std::exchange(channel, nullptr);
    }
    done_.Set();
  }

 private:
  std::vector<ICameraChannel*> channels_;
  CManualEvent done_;
};

CChannelReaper::CChannelReaper(IDriver* driver) : driver_(driver) {}

CChannelReaper::~CChannelReaper() { WaitForAll(); }

uint32_t CChannelReaper::StopLimit() const { return norvale::StopLimit(driver_ ? driver_->GetDeviceInfo() : nullptr); }

bool CChannelReaper::Retire(std::vector<ICameraChannel*> channels, uint32_t waitMs) {
  Collect(false);
  bool any = false;
  for (const ICameraChannel* channel : channels) any = any || channel;
  if (!any) return true;
  auto batch = std::make_shared<Batch>(driver_, std::move(channels));
  if (!batch->StartThread("Channel stop")) {
    batch->RunHere();
    return true;
  }
  // Kept before the wait: a caller that is itself a stream's thread may be terminated while it
  // waits, and its unwinding must not wait for the batch (which may need what the caller holds).
  {
    RecursiveLockGuard guard(lock_);
    batches_.push_back(batch);
  }
  return batch->WaitDone(std::min(waitMs, StopLimit()));
}

size_t CChannelReaper::Collect(bool all) {
  std::vector<std::shared_ptr<Batch>> finished;
  size_t remaining = 0;
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
    remaining = batches_.size();
  }
  // Joined outside the lock: a batch still held in the host must not hold up other retirements.
  finished.clear();
  return remaining;
}

void CChannelReaper::WaitForAll() { Collect(true); }

bool CChannelReaper::Settle(uint32_t ms) {
  const uint32_t start = platform::TickCount();
  while (Collect(false) > 0) {
    if (platform::TickCount() - start >= ms) return false;
    platform::SleepMs(20);
  }
  return true;
}

}  // namespace norvale
