#pragma once
// A frame buffer in the host's memory: the one buffer every stand-in host here hands the driver.
#include <cstdint>
#include <vector>

#include "host/HostInterfaces.h"
#include "hostobjects/HostContract.h"

namespace zephrin::hostobjects {

// Offers the slots a recording host promises; the others are the contract's reserved places. What
// the driver wrote is read from the public fields.
class MemoryFrameBuffer : public norvale::ipcapture::FrameBuffer {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(MemoryFrameBuffer);
  // A buffer without memory answers GetData with null.
  explicit MemoryFrameBuffer(uint32_t capacity_, bool withoutMemory = false) : capacity(capacity_) {
    if (!withoutMemory) data.resize(capacity_);
  }

  void Reserved1() override { HostContract::Violation("FrameBuffer", 1); }
  uint8_t* GetData() override { return data.empty() ? nullptr : data.data(); }
  void Reserved3() override { HostContract::Violation("FrameBuffer", 3); }
  void SetLength(uint32_t bytes) override { length = bytes; }
  void Reserved5() override { HostContract::Violation("FrameBuffer", 5); }
  void SetTime(const norvale::ipcapture::SystemTimeRecord* in) override {
    if (!in) return;
    time = *in;
    timeSet = true;
  }
  void Reserved7() override { HostContract::Violation("FrameBuffer", 7); }
  void Reserved8() override { HostContract::Violation("FrameBuffer", 8); }
  void Reserved9() override { HostContract::Violation("FrameBuffer", 9); }
  void SetCode(uint32_t fourCC) override { code = fourCC; }
  void Reserved11() override { HostContract::Violation("FrameBuffer", 11); }
  void SetHeight(uint16_t h) override { height = h; }
  void Reserved13() override { HostContract::Violation("FrameBuffer", 13); }
  void SetWidth(uint16_t w) override { width = w; }
  void Reserved15() override { HostContract::Violation("FrameBuffer", 15); }
  void SetSizeClass(uint32_t c) override { sizeClass = c; }

  uint32_t capacity;
  std::vector<uint8_t> data;
  uint32_t length = 0;
  norvale::ipcapture::SystemTimeRecord time{};
  bool timeSet = false;
  uint32_t code = 0;
  uint16_t height = 0;
  uint16_t width = 0;
  uint32_t sizeClass = 0;
};

}  // namespace zephrin::hostobjects
