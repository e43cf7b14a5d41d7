#include "support/RudeHost.h"

#include <chrono>

namespace zephrin::test {

namespace {
// Rudeness does not nest: a driver call made by a rude callback that calls the host again on the same
// thread gets a polite host.
thread_local int tRudeDepth = 0;
struct Depth {
  Depth() { ++tRudeDepth; }
  ~Depth() { --tRudeDepth; }
};
}  // namespace

const char* RudeHost::Name(Call call) {
  static const char* const kNames[kCalls] = {
      "StopCapture", "StartCapture", "ChangeResolution", "StopStream", "StartStream",
      "Status",      "PTZ",          "SetOutputState",   "Close",      "Delete"};
  const auto index = static_cast<int>(call);
  return index >= 0 && index < kCalls ? kNames[index] : "?";
}

RudeHost::RudeHost(const Options& options) : options_(options), random_(options.seed) {
  // A blocked callback waits for the gate, which this thread holds until the host calms down: a wait
  // in a mutex, where a driver that terminates its thread cannot reach it (a condition variable or a
  // sleep would let it).
  std::atomic<bool> taken{false};
  gateHolder_ = std::thread([this, &taken] {
    std::lock_guard<std::timed_mutex> hold(gate_);
    taken = true;
    std::unique_lock<std::mutex> lock(mutex_);
    calmed_.wait(lock, [this] { return calm_; });
  });
  while (!taken) std::this_thread::yield();
}

RudeHost::~RudeHost() { Calm(); }

void RudeHost::SetPerformer(Performer performer) {
  std::lock_guard<std::mutex> lock(mutex_);
  performer_ = std::move(performer);
}

RudeHost::Call RudeHost::RandomCall() { return static_cast<Call>(random_() % kCalls); }

void RudeHost::JoinFinished(bool all) {
  std::vector<Caller> finished;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = callers_.begin(); it != callers_.end();) {
      if (all || it->done->load()) {
        finished.push_back(std::move(*it));
        it = callers_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (Caller& caller : finished) caller.thread.join();
}

void RudeHost::OnCallback() {
  if (tRudeDepth > 0) return;
  Depth depth;
  enum { Polite, Block, ReEnter, Concurrent } what = Polite;
  Call call = Call::Status;
  uint32_t stayMs = 0;
  Performer performer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (calm_ || quiet_ || !performer_) return;
    const int roll = static_cast<int>(random_() % 1000);
    if (roll < options_.blockPerMille)
      what = Block;
    else if (roll < options_.blockPerMille + options_.reenterPerMille)
      what = ReEnter;
    else if (roll < options_.blockPerMille + options_.reenterPerMille + options_.concurrentPerMille)
      what = Concurrent;
    call = RandomCall();
    stayMs = random_() % 50;
    performer = performer_;
  }
  switch (what) {
    case Polite:
      return;
    case Block: {
      ++blocks_;
      if (gate_.try_lock_for(std::chrono::milliseconds(options_.blockMs))) gate_.unlock();
      return;
    }
    case ReEnter:
      ++reentries_;
      performer(call, true);
      return;
    case Concurrent: {
      JoinFinished(false);
      auto done = std::make_shared<std::atomic<bool>>(false);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (callers_.size() >= options_.maxThreads) return;
        ++concurrent_;
        callers_.push_back(Caller{std::thread([performer, call, done] {
                                    Depth inner;
                                    performer(call, false);
                                    *done = true;
                                  }),
                                  done});
      }
      // The callback stays a moment, so that the other thread's call overlaps it.
      if (gate_.try_lock_for(std::chrono::milliseconds(stayMs))) gate_.unlock();
      return;
    }
  }
}

void RudeHost::Calm() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    calm_ = true;
  }
  calmed_.notify_all();
  if (gateHolder_.joinable()) gateHolder_.join();
  JoinFinished(true);
}

void RudeHost::NoteCall(const char* what, double ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (ms > longestMs_) {
    longestMs_ = ms;
    longestWhat_ = what;
  }
}

double RudeHost::LongestMs(std::string* what) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (what) *what = longestWhat_;
  return longestMs_;
}

// ---- log sink ----------------------------------------------------------------------------------

void RudeLogSink::Write(const CDebugInfoIf* record) {
  if (record) {
    const uint8_t level = record->GetLevel();
    const char* text = record->GetText();
    const std::string line = text ? text : "";
    std::lock_guard<std::mutex> lock(mutex_);
    ++lines_;
    ++levels_[level & 7];
    for (auto& [fragment, count] : watched_)
      if (line.find(fragment) != std::string::npos) ++count;
    if ((level == 1 || level == 2) && notable_.size() < 40) notable_.push_back(std::to_string(level) + " " + line);
  }
  host_.OnCallback();
}

size_t RudeLogSink::Lines() {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

void RudeLogSink::Watch(const std::string& fragment) {
  std::lock_guard<std::mutex> lock(mutex_);
  watched_.emplace_back(fragment, 0);
}

size_t RudeLogSink::Count(const std::string& fragment) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [watched, count] : watched_)
    if (watched == fragment) return count;
  return 0;
}

size_t RudeLogSink::AtLevel(uint8_t level) {
  std::lock_guard<std::mutex> lock(mutex_);
  return levels_[level & 7];
}

std::vector<std::string> RudeLogSink::Notable() {
  std::lock_guard<std::mutex> lock(mutex_);
  return notable_;
}

// ---- frame sink ------------------------------------------------------------

bool RudeFrameSink::OnFrame(norvale::ipcapture::FrameBuffer* frame) {
  if (!frame) {
    ++nullFrames_;
    return false;
  }
  ++frames_;
  const int stall = stallMs.load();
  if (stall > 0) std::this_thread::sleep_for(std::chrono::milliseconds(stall));
  host_.OnCallback();
  return true;
}

void RudeFrameSink::OnSignalLost() {
  ++signalLost_;
  host_.OnCallback();
}

}  // namespace zephrin::test
