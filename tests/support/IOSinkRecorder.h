#pragma once
// The host's I/O sink: records every input change and counts failures.
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "host/HostInterfaces.h"

namespace zephrin::test {

class RecordingIOSink : public norvale::ipcapture::IOSink {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(RecordingIOSink);
  struct Change {
    uint32_t input;
    uint32_t state;
  };

  void InputStateChanged(uint32_t input, uint32_t state) override;
  void IOFailed() override;

  std::vector<Change> Changes();
  size_t Failures();
  void Clear();
  bool WaitForChanges(size_t count, uint32_t ms);
  bool WaitForFailures(size_t count, uint32_t ms);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Change> changes_;
  size_t failures_ = 0;
};

}  // namespace zephrin::test
