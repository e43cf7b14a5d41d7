#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "channels/ICameraChannel.h"
#include "runtime/IDriver.h"
#include "runtime/RecursiveLock.h"

namespace norvale {

// Stops and frees the channels (and, on Close, the other parts of a driver) the host is done with,
// each batch on a thread of its own, so that the host's stop, restart or close waits for them at most
// a limit. A channel whose thread is held in the host (a frame or log sink that blocks on the host's
// own lock or work) is freed by that thread's batch when the host lets go of it, while the host's
// call has already returned; the stopped channel calls the host's frame sink no more. Only the
// driver's destructor waits for such batches.
class CChannelReaper {
 public:
  explicit CChannelReaper(IDriver* driver);
  ~CChannelReaper();
  CChannelReaper(const CChannelReaper&) = delete;
  CChannelReaper& operator=(const CChannelReaper&) = delete;

  // The device's stop limit.
  uint32_t StopLimit() const;
  // Stops and deletes the channels (null entries are skipped); true when all were freed within
  // waitMs (at most the stop limit).
  bool Retire(std::vector<ICameraChannel*> channels, uint32_t waitMs);
  // Runs the parts (each stops and frees one object) in order on a batch of their own; true when all
  // were done within waitMs (at most the stop limit).
  using Part = std::function<void()>;
  bool RetireParts(std::vector<Part> parts, uint32_t waitMs);
  // Waits, without limit, until every channel handed over is freed.
  void WaitForAll();
  // Waits at most ms for that; false when a channel is still held.
  bool Settle(uint32_t ms);

 private:
  class Batch;
  // Joins and frees the finished batches (all: every batch, waiting for it); how many remain
  // afterwards (a part of a batch may have handed over a batch of its own meanwhile).
  size_t Collect(bool all);

  IDriver* driver_;
  RecursiveLock lock_;
  std::vector<std::shared_ptr<Batch>> batches_;
};

}  // namespace norvale
