#pragma once
// The host's digital I/O interface for one device: the last known state of every input and output,
// an input poller, a queue that switches outputs one at a time, and failure logging once per run of
// failures. A camera family supplies how inputs are read and outputs switched.
#include <atomic>
#include <cstdint>
#include <map>
#include <string>

#include "host/HostInterfaces.h"
#include "runtime/CFailureLatch.h"
#include "runtime/CQueueThread.h"
#include "runtime/CTickThread.h"
#include "runtime/IDriver.h"
#include "runtime/RecursiveLock.h"

namespace norvale {

// States of an input or output: the host's own values.
using ipcapture::IOStateActive;
using ipcapture::IOStateInactive;
using ipcapture::IOStateUndetermined;

// One queued output change.
class COutputState {
 public:
  COutputState(uint32_t index, uint32_t state) : index(index), state(state) {}
  virtual ~COutputState() = default;
  uint32_t index;
  uint32_t state;
};

class CIOBase : public ipcapture::ICaptureIOApi {
 public:
  // Counts beyond this are not a camera's I/O; the state maps never grow past it.
  static constexpr uint32_t kMaxIOCount = 256;

  explicit CIOBase(IDriver* driver);
  virtual ~CIOBase();  // slot 0
  CIOBase(const CIOBase&) = delete;
  CIOBase& operator=(const CIOBase&) = delete;

  bool SetCallback(ipcapture::IOSink* sink) override;            // slot 1
  bool StartIO() override;                                       // slot 2
  bool StopIO() override;                                        // slot 3
  uint32_t GetInputCount() override;                             // slot 4
  uint32_t GetOutputCount() override;                            // slot 5
  bool SetOutputState(uint32_t index, uint32_t state) override;  // slot 6

  // The output worker's handler: switches an output whose requested state differs from its last one.
  virtual void ApplyOutputState(uint32_t index, uint32_t state);  // slot 7

 protected:
  virtual bool SetCameraOutput(uint32_t index, uint32_t state) = 0;  // slot 8
  virtual bool ReadCameraInputs(uint32_t count) = 0;                 // slot 9
  virtual void OnStartIO() {}                                        // slot 10
  virtual void OnStopIO() {}                                         // slot 11

  // Stores an input's new state and tells the host when it changed.
  void RecordInputState(uint32_t index, uint32_t state);
  IDriver* Driver() const { return driver_; }
  bool InputStopRequested() { return inputPoller_.StopRequested(); }
  bool OutputStopRequested() { return outputWorker_.StopRequested(); }
  // Stops both workers; a derived class calls it from its destructor, before its own parts go. A
  // worker that outlives its termination is waited for, so it never runs on freed parts.
  void StopWorkers();

 private:
  class TTickThread : public CTickThread {
   public:
    explicit TTickThread(CIOBase& owner);
    ~TTickThread() override { FinalStop(2000); }
    void WaitUntilEnded() { FinalStop(0); }

   protected:
    void Tick() override;

   private:
    CIOBase& owner_;
  };

  class TOutputHandler : public CQueueThread<COutputState> {
   public:
    explicit TOutputHandler(CIOBase& owner);
    ~TOutputHandler() override {
      if (!StopQueue()) FinalStop(0);
    }
    void WaitUntilEnded() { FinalStop(0); }
    // Drops what is queued and stops within the limit (terminating an overrunning thread).
    bool StopQueue() override;

   protected:
    void HandleWorkItem(COutputState* item) override;

   private:
    CIOBase& owner_;
  };

  void ResetStates();
  void GetInputStatesWrapper();
  bool SetOutputStateWrapper(uint32_t index, uint32_t state);
  void NotifyFailure();
  std::string ThreadName(const char* kind);

  IDriver* driver_;
  std::atomic<ipcapture::IOSink*> sink_{nullptr};
  RecursiveLock lock_;
  std::map<uint32_t, uint32_t> inputs_;
  std::map<uint32_t, uint32_t> outputs_;
  // Serialises StartIO and StopIO; never held by the workers.
  RecursiveLock controlLock_;
  // Whether outputs may be queued: set once the output worker runs, cleared first by a stop; lock_.
  bool outputRunning_ = false;
  CFailureLatch inputFailures_;   // a failed input read is logged once per run of failures
  CFailureLatch outputFailures_;  // likewise a failed output change
  TTickThread inputPoller_;
  TOutputHandler outputWorker_;
};

}  // namespace norvale
