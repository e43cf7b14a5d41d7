#include "driver/CGatedFrameAllocator.h"

namespace norvale {

ipcapture::FrameBuffer* CGatedFrameAllocator::Allocate(uint32_t fourCC, uint32_t capacity, const char* stream) {
  ipcapture::FrameAllocator* host = host_.load();
  if (!host || !gate_.Enter()) return nullptr;
  // Left here unless a buffer was handed out (its release leaves), also when the call unwinds.
  struct Unless {
    CHostGate& gate;
    ipcapture::FrameBuffer* buffer = nullptr;
    ~Unless() {
      if (!buffer) gate.Leave();
    }
  } leave{gate_};
  leave.buffer = host->Allocate(fourCC, capacity, stream);
  return leave.buffer;
}

void CGatedFrameAllocator::Release(ipcapture::FrameBuffer* buffer) {
  if (!buffer) return;
  // The allocation entered the gate; this leaves it, also when the call unwinds.
  struct Leave {
    CHostGate& gate;
    ~Leave() { gate.Leave(); }
  } leave{gate_};
  ipcapture::FrameAllocator* host = host_.load();
  if (host && !gate_.IsClosed()) host->Release(buffer);
}

}  // namespace norvale
