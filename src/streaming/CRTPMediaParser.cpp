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
    if (gap) {
      CountDrop(DropReason::Loss);
      Reset();
    }
    // A camera that never marks a frame's last packet: a new time stamp ends the frame before it.
    const bool newTimestamp = packet.timestamp != frameTimestamp_;
    if (skipToFrameEnd_) {
      if (newTimestamp) {
        skipToFrameEnd_ = false;
      } else {
        if (packet.marker) skipToFrameEnd_ = false;
        return;
      }
    }
    if (newTimestamp && FrameComplete()) CompleteFrame(frameTimestamp_);
    if (frame_.empty()) frameTimestamp_ = packet.timestamp;
    overflowed_ = false;
    HandlePacket(packet);
    if (overflowed_ && !packet.marker) skipToFrameEnd_ = true;
  }
  ZEPHRIN_RETHROW_CANCELLATION catch (...) {
    CountDrop(DropReason::Failed);
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
  // Buffer sizes the host can reuse; a frame above the largest gets exactly its size.
  static constexpr uint32_t kClasses[] = {4096, 16384, 32768, 131072};
  for (uint32_t capacity : kClasses)
    if (n <= capacity) return capacity;
  return n > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(n);
}

uint32_t CRTPMediaParser::SizeClass(uint16_t width, uint16_t height) {
  // Small (below 200 pixels wide), medium (below 400), wide (below 1024 and more than twice as wide
  // as high), large.
  enum : uint32_t { kSmall = 1, kMedium = 2, kWide = 3, kLarge = 4 };
  if (width < 200) return kSmall;
  if (width < 400) return kMedium;
  if (width < 1024 && height * 2 < width) return kWide;
  return kLarge;
}

bool CRTPMediaParser::CheckBufferSize() {
  if (frame_.size() <= kMaxFrameSize) return true;
  overflowed_ = true;
  CountDrop(DropReason::Oversize);
  if (driver_) {
    driver_->Log(LogError, "%s: Frame buffer overflow detected, device %s", ZEPHRIN_FUNCTION,
                 DeviceName(driver_->GetDeviceInfo()).c_str());
  }
  return false;
}

void CRTPMediaParser::CompleteFrame(uint32_t timestamp) {
  ProcessFrame(timestamp);
  frame_.clear();
}

MediaDropCounts CRTPMediaParser::Drops() const {
  auto count = [this](DropReason reason) {
    return drops_[static_cast<size_t>(reason)].load(std::memory_order_relaxed);
  };
  MediaDropCounts counts;
  counts.loss = count(DropReason::Loss);
  counts.malformed = count(DropReason::Malformed);
  counts.unsupported = count(DropReason::Unsupported);
  counts.badFuA = count(DropReason::BadFuA);
  counts.oversize = count(DropReason::Oversize);
  counts.noKeyFrame = count(DropReason::NoKeyFrame);
  counts.allocationFailed = count(DropReason::AllocationFailed);
  counts.copyFailed = count(DropReason::CopyFailed);
  counts.refused = count(DropReason::Refused);
  counts.failed = count(DropReason::Failed);
  return counts;
}

bool CRTPMediaParser::HandOverFrame(uint32_t fourCC, uint32_t capacity, const uint8_t* head, size_t headSize,
                                    const uint8_t* body, size_t bodySize, uint32_t timestamp,
                                    const HandOverFailureLine& failureLine) {
  if (!client_ || headSize + bodySize == 0) return false;
  // Without an allocator there is no host to hand frames to.
  FrameAllocator* allocator = driver_ ? driver_->GetFrameAllocator() : nullptr;
  if (!allocator) return false;

  DropReason failure = DropReason::Count;
  bool taken = false;
  const std::string stream = client_->GetStreamName();
  if (FrameBuffer* buffer = allocator->Allocate(fourCC, capacity, stream.c_str())) {
    // The buffer goes back to the allocator however this ends, exceptions included.
    struct Release {
      FrameAllocator* allocator;
      FrameBuffer* buffer;
      ~Release() { allocator->Release(buffer); }
    } release{allocator, buffer};

    // The allocator hands out at least the capacity asked for.
    const size_t total = headSize + bodySize;
    uint8_t* data = buffer->GetData();
    if (!data || total > capacity) {
      failure = DropReason::CopyFailed;
    } else {
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
      taken = client_->OnFrameCompleted(buffer);
      if (!taken) failure = DropReason::Refused;
    }
  } else {
    failure = DropReason::AllocationFailed;
  }
  if (taken) return true;

  CountDrop(failure);
  if (failure != DropReason::Refused && driver_)
    driver_->Log(LogError, failureLine.format, FunctionName(failureLine.signature).c_str(),
                 driver_->GetDeviceName().c_str());
  Reset();
  return false;
}

}  // namespace norvale
