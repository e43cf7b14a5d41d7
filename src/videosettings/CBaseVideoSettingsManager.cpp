#include "videosettings/CBaseVideoSettingsManager.h"

#include <utility>

#include "platform/Guard.h"

namespace norvale {

CBaseVideoSettingsManager::CBaseVideoSettingsManager(IDriver* driver, uint32_t camera)
    : CBaseThread(driver), camera_(camera) {}

CBaseVideoSettingsManager::~CBaseVideoSettingsManager() { StopWorker(); }

bool CBaseVideoSettingsManager::StartWorker(const std::string& name) { return StartThread(name); }

void CBaseVideoSettingsManager::StopWorker() {
  StopEvent().Set();
  Signal(TakePending(), false);
  // Asked to stop, the worker is also freed from the camera it may be waiting on; only a worker that
  // still does not end is terminated.
  if (IsRunning()) CancelWork();
  // Called from the destructors only: a worker held in the host (its log sink) is waited for before
  // the members it uses go.
  FinalStop(kStopLimit);
  // Whatever was queued while the worker ended.
  Signal(TakePending(), false);
}

bool CBaseVideoSettingsManager::Apply(CEvent* stopEvent, int32_t codec, const ChannelSettings& settings) {
  try {
    {
      RecursiveLockGuard guard(recordLock_);
      records_[settings.streamKind] = StreamRecord{settings, codec};
    }
    TSmartPtr<SynchronizingItem> item(new SynchronizingItem);
    if (!Queue(item)) return false;
    CEvent* events[3] = {&StopEvent(), &item->event, stopEvent};
    const int count = stopEvent ? 3 : 2;
    return CEvent::WaitAny(events, count, callerLimit_) == 1 && item->result != 0;
  }
  ZEPHRIN_RETHROW_CANCELLATION catch (...) { return false; }
}

void CBaseVideoSettingsManager::Reset(bool keep) {
  if (!keep) {
    RecursiveLockGuard guard(recordLock_);
    records_.clear();
  }
  OnReset(keep);
}

void CBaseVideoSettingsManager::OnReset(bool) {}

void CBaseVideoSettingsManager::CancelWork() {}

std::map<int32_t, StreamRecord> CBaseVideoSettingsManager::StreamRecords() {
  RecursiveLockGuard guard(recordLock_);
  return records_;
}

bool CBaseVideoSettingsManager::Queue(const TSmartPtr<SynchronizingItem>& item) {
  RecursiveLockGuard guard(pendingLock_);
  if (!IsRunning() || StopRequested()) return false;
  pending_.push_back(item);
  workEvent_.Set();
  return true;
}

auto CBaseVideoSettingsManager::TakePending() -> std::vector<TSmartPtr<SynchronizingItem>> {
  RecursiveLockGuard guard(pendingLock_);
  return std::exchange(pending_, {});
}

void CBaseVideoSettingsManager::Signal(const std::vector<TSmartPtr<SynchronizingItem>>& items, bool result) {
  for (const auto& item : items) {
    item->result = result ? 1 : 0;
    item->event.Set();
  }
}

bool CBaseVideoSettingsManager::RunRound() {
  try {
    return Synchronize();
  }
  ZEPHRIN_RETHROW_CANCELLATION catch (...) { return false; }
}

void CBaseVideoSettingsManager::ThreadBody() {
  CEvent* events[2] = {&StopEvent(), &workEvent_};
  for (;;) {
    const int which = CEvent::WaitAny(events, 2, kWorkerPoll);
    if (which == 0) break;
    if (which != 1) continue;
    auto items = TakePending();
    if (items.empty()) continue;
    Signal(items, RunRound());
  }
  Signal(TakePending(), false);
}

}  // namespace norvale
