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

// Until a wall-clock time: the thread sanitizer follows this lock, not the steady-clock one.
void WaitAtGate(std::timed_mutex& gate, uint32_t ms) {
  if (gate.try_lock_until(std::chrono::system_clock::now() + std::chrono::milliseconds(ms))) gate.unlock();
}
}  // namespace

const char* RudeHost::Name(Call call) {
  static const char* const kNames[kCalls] = {
      "StopCapture", "StartCapture", "ChangeResolution", "StopStream", "StartStream",
      "Status",      "PTZ",          "SetOutputState",   "Close",      "Delete"};
  return kNames[static_cast<int>(call) % kCalls];
}

RudeHost::RudeHost(const Options& options) : options_(options), random_(options.seed) {
  std::atomic<bool> taken{false};
  gateHolder_ = std::thread([this, &taken] {
    std::lock_guard<std::timed_mutex> hold(gate_);
    taken = true;
    std::unique_lock<std::mutex> lock(mutex_);
    calmed_.wait(lock, [this] { return calm_; });
  });
  while (!taken) std::this_thread::yield();
}

void RudeHost::SetPerformer(Performer performer) {
  std::lock_guard<std::mutex> lock(mutex_);
  performer_ = std::move(performer);
}

void RudeHost::JoinFinished(bool all) {
  std::vector<std::thread> finished;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = callers_.begin(); it != callers_.end();) {
      if (all || it->second->load()) {
        finished.push_back(std::move(it->first));
        it = callers_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (std::thread& caller : finished) caller.join();
}

void RudeHost::OnCallback(const OwnCall& own) {
  if (tRudeDepth > 0) return;
  Depth depth;
  enum { Polite, Block, ReEnter, Concurrent } what = Polite;
  Call call;
  uint32_t stayMs;
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
    call = static_cast<Call>(random_() % kCalls);
    stayMs = random_() % 50;
    performer = performer_;
  }
  if (what == Block) {
    ++blocks;
    WaitAtGate(gate_, options_.blockMs);
  } else if (what == ReEnter) {
    ++reentries;
    if (own)
      own();
    else
      performer(call, true);
  } else if (what == Concurrent) {
    JoinFinished(false);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (callers_.size() >= options_.maxThreads) return;
      ++concurrent;
      auto done = std::make_shared<std::atomic<bool>>(false);
      callers_.emplace_back(std::thread([performer, call, done] {
                              Depth inner;
                              performer(call, false);
                              *done = true;
                            }),
                            done);
    }
    // The callback stays a moment, so that the other thread's call overlaps it.
    WaitAtGate(gate_, stayMs);
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

void RudeHost::NoteCall(const std::string& what, double ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (ms <= longestMs_) return;
  longestMs_ = ms;
  longestWhat_ = what;
}

double RudeHost::LongestMs(std::string* what) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (what) *what = longestWhat_;
  return longestMs_;
}

void RudeLogSink::Write(const CDebugInfoIf* record) {
  if (record) {
    const uint8_t level = record->GetLevel();
    const std::string line = record->GetText() ? record->GetText() : "";
    std::lock_guard<std::mutex> lock(mutex_);
    ++levels_[level & 7];
    if (line.find("was not stopped during") != std::string::npos ||
        line.find("could not be terminated") != std::string::npos)
      ++overruns_;
    std::string numbered = std::to_string(level) + " " + line;
    if ((level == 1 || level == 2) && notable_.size() < 40) notable_.push_back(numbered);
    if (recent_.size() == 12) recent_.pop_front();
    recent_.push_back(std::move(numbered));
  }
  host_.OnCallback();
}

size_t RudeLogSink::AtLevel(uint8_t level) {
  std::lock_guard<std::mutex> lock(mutex_);
  return levels_[level & 7];
}

size_t RudeLogSink::Overruns() {
  std::lock_guard<std::mutex> lock(mutex_);
  return overruns_;
}

std::vector<std::string> RudeLogSink::Notable() {
  std::lock_guard<std::mutex> lock(mutex_);
  return notable_;
}

std::vector<std::string> RudeLogSink::Recent() {
  std::lock_guard<std::mutex> lock(mutex_);
  return {recent_.begin(), recent_.end()};
}

bool RudeFrameSink::OnFrame(norvale::ipcapture::FrameBuffer* frame) {
  if (!frame) {
    ++nullFrames;
    return false;
  }
  ++frames;
  const uint64_t deletesBefore = deletes ? deletes->load() : 0;
  const auto start = std::chrono::steady_clock::now();
  if (const int stall = stallMs.load(); stall > 0) {
    // A wait on a condition, not a sleep: the thread sanitizer follows a thread terminated inside it.
    std::mutex mutex;
    std::condition_variable never;
    std::unique_lock<std::mutex> lock(mutex);
    never.wait_for(lock, std::chrono::milliseconds(stall), [] { return false; });
  }
  host_.OnCallback();
  // Only a call held past a stop limit (the shortest a test gives is 200 ms) can outlast a delete.
  const bool held = std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(100);
  if (held && deletes && (deletesBefore % 2 == 1 || deletes->load() != deletesBefore)) {
    std::lock_guard<std::mutex> lock(keptMutex_);
    kept_.push_back(frame);
  }
  return true;
}

}  // namespace zephrin::test
