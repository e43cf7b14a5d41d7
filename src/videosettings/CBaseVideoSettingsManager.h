#pragma once
#include <cstdint>
#include <map>
#include <vector>

#include "runtime/CBaseThread.h"
#include "runtime/CEvent.h"
#include "runtime/RecursiveLock.h"
#include "runtime/TSmartPtr.h"
#include "videosettings/IVideoSettingsManager.h"

namespace norvale {

// The latest request of one stream kind: the channel's stream request and its codec.
struct StreamRecord {
  ChannelSettings settings;
  int32_t codec = 0;  // 1 JPEG, 2 MPEG-4, 3 H.264
};

// The camera-independent part of a video settings manager: keeps the latest request of every stream
// kind and runs configuration rounds on its own thread. Callers that queue before the worker wakes
// are all served by one round and all receive its result.
//
// The most derived class starts the worker (StartWorker) at the end of its constructor and stops it
// (StopWorker) first thing in its destructor, because the worker calls its Synchronize.
class CBaseVideoSettingsManager : public IVideoSettingsManager, public CBaseThread {
 public:
  // What a waiting caller and the worker share: the round's outcome and the event that announces it.
  struct SynchronizingItem {
    CManualEvent event;
    uint8_t result = 0;  // written before event is set, read after it was seen
  };

  static constexpr uint32_t kCallerLimit = 60000;  // ms a caller waits for its round
  static constexpr uint32_t kWorkerPoll = 5000;    // ms the idle worker sleeps between looks
  static constexpr uint32_t kStopLimit = 5000;     // ms the worker has to end when stopped

  CBaseVideoSettingsManager(IDriver* driver, uint32_t camera);
  ~CBaseVideoSettingsManager() override;

  bool Apply(CEvent* stopEvent, int32_t codec, const ChannelSettings& settings) override;
  void Reset(bool keep) override;

  // Slot 3: one configuration round for the stored requests; runs on the worker thread.
  virtual bool Synchronize() = 0;
  // Slot 4: the camera family forgets what it keeps between rounds.
  virtual void OnReset(bool keep);

  uint32_t CameraIndex() const { return camera_; }
  // A copy of the stored requests, by stream kind.
  std::map<int32_t, StreamRecord> StreamRecords();

 protected:
  bool StartWorker(const std::string& name);
  // Answers every waiting caller with false and stops the worker; safe to call repeatedly.
  void StopWorker();
  // Called by StopWorker after the stop event is set and before the worker is waited for: abandons
  // the camera request the worker may be inside. Runs on the stopping thread.
  virtual void CancelWork();
  // How long Apply waits for its round (kCallerLimit unless changed).
  void SetCallerLimit(uint32_t ms) { callerLimit_ = ms; }

  void ThreadBody() override;

 private:
  bool Queue(const TSmartPtr<SynchronizingItem>& item);
  std::vector<TSmartPtr<SynchronizingItem>> TakePending();
  static void Signal(const std::vector<TSmartPtr<SynchronizingItem>>& items, bool result);
  bool RunRound();

  uint32_t camera_;
  RecursiveLock recordLock_;
  std::map<int32_t, StreamRecord> records_;
  CEvent workEvent_;  // auto-reset
  RecursiveLock pendingLock_;
  std::vector<TSmartPtr<SynchronizingItem>> pending_;
  uint32_t callerLimit_ = kCallerLimit;
};

}  // namespace norvale
