#pragma once
// A rude recording host. At every call the driver makes into it (a frame, a signal loss, a log line,
// an I/O change) a seeded random choice makes it block for longer than the driver's stop limits, call
// the driver from inside the callback, or have another thread call the driver meanwhile. What it calls
// is up to the session that owns the driver (the performer). A slot the host contract does not list is
// reported as a violation, as by the strict host objects. A capability query's callbacks do the same,
// but from inside they end the query's module.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "host/HostInterfaces.h"
#include "support/CapabilityRecorder.h"
#include "support/HostContract.h"

namespace zephrin::test {

class RudeHost {
 public:
  // What the host asks of the driver.
  enum class Call {
    StopCapture,
    StartCapture,
    ChangeResolution,
    StopStream,
    StartStream,
    Status,
    Ptz,
    Output,
    CloseDriver,
    DeleteDriver
  };
  static constexpr int kCalls = 10;
  static const char* Name(Call call);
  // Performs the call; inCallback says whether it comes from inside a driver's callback.
  using Performer = std::function<void(Call call, bool inCallback)>;

  struct Options {
    uint32_t seed = 1;
    uint32_t blockMs = 12000;     // longer than any stop limit of the driver
    int blockPerMille = 3;        // callbacks that block
    int reenterPerMille = 30;     // callbacks that call the driver from inside
    int concurrentPerMille = 30;  // callbacks during which another thread calls the driver
    size_t maxThreads = 4;        // concurrent callers alive at once
  };

  explicit RudeHost(const Options& options);
  ~RudeHost() { Calm(); }
  RudeHost(const RudeHost&) = delete;
  RudeHost& operator=(const RudeHost&) = delete;

  void SetPerformer(Performer performer);
  // Every callback of the rude objects comes here; one given its own call makes it when it calls the
  // driver from inside.
  using OwnCall = std::function<void()>;
  void OnCallback(const OwnCall& own = nullptr);
  // Ends the rudeness: blocked callbacks return, the other threads are joined.
  void Calm();
  // A quiet host is polite until told otherwise (callbacks already blocked stay so); its calls from
  // other threads have returned when quieting it returns.
  void SetQuiet(bool quiet) {
    quiet_ = quiet;
    if (quiet) JoinFinished(true);
  }
  // The session times each of its calls into the driver.
  void NoteCall(const std::string& what, double ms);
  double LongestMs(std::string* what);

  std::atomic<size_t> blocks{0}, reentries{0}, concurrent{0};

 private:
  void JoinFinished(bool all);

  Options options_;
  Performer performer_;
  std::mutex mutex_;
  std::condition_variable calmed_;
  // Held by gateHolder_ until Calm: a blocked callback waits for it in a mutex, where a driver that
  // terminates its thread cannot reach it (a condition variable or a sleep would let it).
  std::timed_mutex gate_;
  std::thread gateHolder_;
  std::mt19937 random_;
  bool calm_ = false;
  std::atomic<bool> quiet_{false};
  std::vector<std::pair<std::thread, std::shared_ptr<std::atomic<bool>>>> callers_;  // and whether done
  double longestMs_ = 0;
  std::string longestWhat_;
};

// The log sink: keeps counts and the first lines of level 1 and 2, never every line (a long run's
// memory stays the driver's). Overruns counts the lines of threads that overran their stop.
class RudeLogSink : public norvale::ipcapture::LogSink {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(RudeLogSink);
  explicit RudeLogSink(RudeHost& host) : host_(host) {}
  void Write(const CDebugInfoIf* record) override;
  size_t AtLevel(uint8_t level);
  size_t Overruns();
  std::vector<std::string> Notable();  // the first 40 lines of level 1 and 2
  std::vector<std::string> Recent();   // the last 12 lines of any level

 private:
  RudeHost& host_;
  std::mutex mutex_;
  size_t levels_[8] = {};
  size_t overruns_ = 0;
  std::vector<std::string> notable_;
  std::deque<std::string> recent_;
};

class RudeFrameSink : public norvale::ipcapture::FrameSink {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(RudeFrameSink);
  explicit RudeFrameSink(RudeHost& host) : host_(host) {}
  bool OnFrame(norvale::ipcapture::FrameBuffer* frame) override;
  void Reserved2() override { HostContract::Violation("FrameSink", 2); }
  void OnSignalLost() override {
    ++signalLost;
    host_.OnCallback();
  }
  std::atomic<size_t> frames{0}, signalLost{0}, nullFrames{0};
  std::atomic<int> stallMs{0};  // every frame is held this long, as a busy recorder does
  // Counted up by the session as a delete of the driver starts and as it returns (odd while one runs).
  const std::atomic<uint64_t>* deletes = nullptr;

  // Hands back to the allocator the buffers of frames held here while the driver was deleted: a
  // driver whose delete returned first does not give them back (they are the host's), one that
  // waited has (the allocator then no longer holds them). What was handed back, counted.
  template <class Allocator>
  size_t ReclaimKept(Allocator& allocator) {
    std::lock_guard<std::mutex> lock(keptMutex_);
    size_t reclaimed = 0;
    for (norvale::ipcapture::FrameBuffer* buffer : kept_)
      if (allocator.Holds(buffer)) {
        allocator.Release(buffer);
        ++reclaimed;
      }
    kept_.clear();
    return reclaimed;
  }

 private:
  RudeHost& host_;
  std::mutex keptMutex_;
  std::vector<norvale::ipcapture::FrameBuffer*> kept_;
};

class RudeIOSink : public norvale::ipcapture::IOSink {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(RudeIOSink);
  explicit RudeIOSink(RudeHost& host) : host_(host) {}
  void InputStateChanged(uint32_t, uint32_t) override { host_.OnCallback(); }
  void IOFailed() override { host_.OnCallback(); }

 private:
  RudeHost& host_;
};

// A capability query's callback and sink, recording as the strict ones do; own is what the host does
// to the query from inside them (it ends its module).
class RudeCapabilityCallback : public RecordingCapabilityCallback {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(RudeCapabilityCallback);
  RudeCapabilityCallback(RudeHost& host, RudeHost::OwnCall own) : host_(host), own_(std::move(own)) {}
  void QuerySucceeded() override { host_.OnCallback(own_), RecordingCapabilityCallback::QuerySucceeded(); }
  void QueryFailed(int32_t reason, const char* text) override {
    host_.OnCallback(own_), RecordingCapabilityCallback::QueryFailed(reason, text);
  }
  RudeHost& host_;
  RudeHost::OwnCall own_;
};

class RudeCapabilitySink : public RecordingCapabilitySink {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(RudeCapabilitySink);
  RudeCapabilitySink(RudeHost& host, RudeHost::OwnCall own) : host_(host), own_(std::move(own)) {}
  void SetCapability(uint32_t id, uint32_t value) override {
    RecordingCapabilitySink::SetCapability(id, value), host_.OnCallback(own_);
  }
  void SetModelName(const char* text) override { RecordingCapabilitySink::SetModelName(text), host_.OnCallback(own_); }
  RudeHost& host_;
  RudeHost::OwnCall own_;
};

}  // namespace zephrin::test
