#include "streaming/CRTPMediaParser.h"

#include <cstring>
#include <string>

#include "platform/Guard.h"
#include "runtime/DeviceInfo.h"

namespace norvale {

using ipcapture::FrameAllocator;
using ipcapture::FrameBuffer;

CRTPMediaParser::CRTPMediaParser(IDriver* driver) : driver_(driver) {}

CRTPMediaParser::~CRTPMediaParser() = default;

void CRTPMediaParser::ProcessPacket(const CRTPPacket& packet) {
  try {
    const bool gap = !firstPacket_ && packet.sequenceNumber != static_cast<uint16_t>(lastSequence_ + 1);
    firstPacket_ = false;
    lastSequence_ = packet.sequenceNumber;
    if (gap) Reset();
    if (skipToFrameEnd_) {
      if (packet.marker) skipToFrameEnd_ = false;
      return;
    }
    overflowed_ = false;
    HandlePacket(packet);
    if (overflowed_ && !packet.marker) skipToFrameEnd_ = true;
  } ZEPHRIN_RETHROW_CANCELLATION catch (...) {
    Reset();
  }
}

void CRTPMediaParser::Reset() {
  frame_.clear();
  width_ = 0;
  height_ = 0;
}

void CRTPMediaParser::SetParameterSets(const std::vector<uint8_t>& sps, const std::vector<uint8_t>& pps,
                                       const std::vector<uint8_t>& config) {
  sps_ = sps;
  pps_ = pps;
  config_ = config;
}

uint32_t CRTPMediaParser::CapacityClass(size_t n) {
  if (n <= 4096) return 4096;
  if (n <= 16384) return 16384;
  if (n <= 32768) return 32768;
  if (n <= 131072) return 131072;
  return n > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(n);
}

uint32_t CRTPMediaParser::SizeClass(uint16_t width, uint16_t height) {
  if (width < 200) return 1;
  if (width < 400) return 2;
  if (width < 1024 && height * 2 < width) return 3;
  return 4;
}

bool CRTPMediaParser::CheckBufferSize() {
  if (frame_.size() <= kMaxFrameSize) return true;
  overflowed_ = true;
  if (driver_) {
    const DEVICE_INFO* info = driver_->GetDeviceInfo();
    driver_->Log(LogError, "%s: Frame buffer overflow detected, device %s:%u",
                 "norvale::CRTPMediaParser::CheckBufferSize", info ? info->address.c_str() : "",
                 info ? static_cast<unsigned>(info->port) : 0u);
  }
  return false;
}

void CRTPMediaParser::CompleteFrame(uint32_t timestamp) {
  ProcessFrame(timestamp);
  frame_.clear();
}

CRTPMediaParser::HandOver CRTPMediaParser::Deliver(uint32_t fourCC, uint32_t capacity, const uint8_t* head,
                                                   size_t headSize, const uint8_t* body, size_t bodySize,
                                                   uint32_t timestamp) {
  if (!client_ || headSize + bodySize == 0) return HandOver::Skipped;
  FrameAllocator* allocator = driver_ ? driver_->GetFrameAllocator() : nullptr;
  if (!allocator) return HandOver::Skipped;
  const std::string stream = client_->GetStreamName();
  FrameBuffer* buffer = allocator->Allocate(fourCC, capacity, stream.c_str());
  if (!buffer) return HandOver::AllocationFailed;

  // The buffer goes back to the allocator however this ends, exceptions included.
  struct Release {
    FrameAllocator* allocator;
    FrameBuffer* buffer;
    ~Release() { allocator->Release(buffer); }
  } release{allocator, buffer};

  const size_t total = headSize + bodySize;
  uint8_t* data = buffer->GetData();
  if (!data || total > capacity || buffer->GetCapacity() < total) return HandOver::CopyFailed;
  if (headSize) std::memcpy(data, head, headSize);
  if (bodySize) std::memcpy(data + headSize, body, bodySize);
  buffer->SetLength(static_cast<uint32_t>(total));
  ipcapture::SystemTimeRecord time{};
  client_->ConvertTime(timestamp, &time);
  buffer->SetTime(&time);
  buffer->SetWidth(width_);
  buffer->SetHeight(height_);
  buffer->SetSizeClass(SizeClass(width_, height_));
  buffer->SetCode(fourCC);
  return client_->OnFrameCompleted(buffer) ? HandOver::Delivered : HandOver::Refused;
}

}  // namespace norvale
