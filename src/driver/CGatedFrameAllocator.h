#pragma once
#include <atomic>
#include <cstdint>

#include "driver/CHostGate.h"
#include "host/HostInterfaces.h"

namespace norvale {

// The host's frame allocator as the driver's streams see it: a buffer is asked for and given back
// through the driver object's host gate, which counts the buffer as a call inside the host from its
// allocation to its release. A buffer whose stream was held in the host when the gate closed is not
// given back: the host may have freed its allocator by then.
class CGatedFrameAllocator : public ipcapture::FrameAllocator {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(CGatedFrameAllocator);
  explicit CGatedFrameAllocator(CHostGate& gate) : gate_(gate) {}
  CGatedFrameAllocator(const CGatedFrameAllocator&) = delete;
  CGatedFrameAllocator& operator=(const CGatedFrameAllocator&) = delete;

  void SetHost(ipcapture::FrameAllocator* host) { host_.store(host); }
  bool HasHost() const { return host_.load() != nullptr; }

  void Reserved1() override {}
  ipcapture::FrameBuffer* Allocate(uint32_t fourCC, uint32_t capacity, const char* stream) override;
  void Reserved3() override {}
  void Reserved4() override {}
  void Reserved5() override {}
  void Release(ipcapture::FrameBuffer* buffer) override;

 private:
  CHostGate& gate_;
  std::atomic<ipcapture::FrameAllocator*> host_{nullptr};
};

}  // namespace norvale
