#include "support/IOSinkRecorder.h"

#include <chrono>

namespace zephrin::test {

void RecordingIOSink::InputStateChanged(uint32_t input, uint32_t state) {
  std::lock_guard<std::mutex> lock(mutex_);
  changes_.push_back({input, state});
  changed_.notify_all();
}

void RecordingIOSink::IOFailed() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++failures_;
  changed_.notify_all();
}

std::vector<RecordingIOSink::Change> RecordingIOSink::Changes() {
  std::lock_guard<std::mutex> lock(mutex_);
  return changes_;
}

size_t RecordingIOSink::Failures() {
  std::lock_guard<std::mutex> lock(mutex_);
  return failures_;
}

void RecordingIOSink::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  changes_.clear();
  failures_ = 0;
}

bool RecordingIOSink::WaitForChanges(size_t count, uint32_t ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return changes_.size() >= count; });
}

bool RecordingIOSink::WaitForFailures(size_t count, uint32_t ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return failures_ >= count; });
}

}  // namespace zephrin::test
