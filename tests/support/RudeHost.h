#pragma once
// A rude recording host. At every call the driver makes into it (a frame, a signal loss, a log line,
// an I/O change) a seeded random choice makes the host block for longer than the
// driver's stop limits, call back into the driver from inside the callback, or have another thread
// call the driver at that moment. What it calls is up to the session that owns the driver (the
// performer). The objects are as strict as the recording ones: a slot the host contract does not list
// is reported as a violation.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "host/HostInterfaces.h"
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
    DeleteDriver,
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
  ~RudeHost();
  RudeHost(const RudeHost&) = delete;
  RudeHost& operator=(const RudeHost&) = delete;

  void SetPerformer(Performer performer);
  // Every callback of the rude objects comes here.
  void OnCallback();
  // Ends the rudeness: blocked callbacks return, concurrent callers are joined.
  void Calm();
  // A quiet host is polite until told otherwise (callbacks already blocked stay so).
  void SetQuiet(bool quiet) { quiet_ = quiet; }

  // The session times each of its calls into the driver.
  void NoteCall(const char* what, double ms);
  double LongestMs(std::string* what);
  size_t Blocks() const { return blocks_; }
  size_t ReEntries() const { return reentries_; }
  size_t ConcurrentCalls() const { return concurrent_; }

 private:
  Call RandomCall();
  void JoinFinished(bool all);

  Options options_;
  Performer performer_;
  std::mutex mutex_;
  std::condition_variable calmed_;
  std::timed_mutex gate_;  // held by gateHolder_ until Calm
  std::thread gateHolder_;
  std::mt19937 random_;
  bool calm_ = false;
  std::atomic<bool> quiet_{false};
  struct Caller {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::vector<Caller> callers_;
  double longestMs_ = 0;
  std::string longestWhat_;
  std::atomic<size_t> blocks_{0};
  std::atomic<size_t> reentries_{0};
  std::atomic<size_t> concurrent_{0};
};

// The log sink: keeps counts and the first lines of level 1 and 2, never every line (a long run's
// memory stays the driver's).
class RudeLogSink : public norvale::ipcapture::LogSink {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(RudeLogSink);
  explicit RudeLogSink(RudeHost& host) : host_(host) {}
  void Write(const CDebugInfoIf* record) override;

  size_t Lines();
  size_t Count(const std::string& fragment);  // of the fragments being watched
  void Watch(const std::string& fragment);
  size_t AtLevel(uint8_t level);
  std::vector<std::string> Notable();  // the first 40 lines of level 1 and 2

 private:
  RudeHost& host_;
  std::mutex mutex_;
  size_t lines_ = 0;
  size_t levels_[8] = {};
  std::vector<std::pair<std::string, size_t>> watched_;
  std::vector<std::string> notable_;
};

class RudeFrameSink : public norvale::ipcapture::FrameSink {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(RudeFrameSink);
  explicit RudeFrameSink(RudeHost& host) : host_(host) {}
  bool OnFrame(norvale::ipcapture::FrameBuffer* frame) override;
  void Reserved2() override { HostContract::Violation("FrameSink", 2); }
  void OnSignalLost() override;

  size_t FrameCount() const { return frames_; }
  size_t SignalLostCount() const { return signalLost_; }
  size_t NullFrames() const { return nullFrames_; }
  std::atomic<int> stallMs{0};  // every frame is held this long, as a busy recorder does

 private:
  RudeHost& host_;
  std::atomic<size_t> frames_{0};
  std::atomic<size_t> signalLost_{0};
  std::atomic<size_t> nullFrames_{0};
};

class RudeIOSink : public norvale::ipcapture::IOSink {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(RudeIOSink);
  explicit RudeIOSink(RudeHost& host) : host_(host) {}
  void InputStateChanged(uint32_t, uint32_t) override {
    ++calls_;
    host_.OnCallback();
  }
  void IOFailed() override {
    ++calls_;
    host_.OnCallback();
  }
  size_t Calls() const { return calls_; }

 private:
  RudeHost& host_;
  std::atomic<size_t> calls_{0};
};

}  // namespace zephrin::test
