#include "support/MemoryFrameAllocator.h"

#include <stdexcept>

namespace zephrin::test {

using norvale::ipcapture::FrameBuffer;

MemoryFrameBuffer::MemoryFrameBuffer(uint32_t capacity_, bool withoutMemory) : capacity(capacity_) {
  if (!withoutMemory) data.resize(capacity_);
}

MemoryFrameAllocator::~MemoryFrameAllocator() {
  for (FrameBuffer* buffer : live_) delete buffer;
}

FrameBuffer* MemoryFrameAllocator::Allocate(uint32_t, uint32_t capacity, const char* stream) {
  requests.emplace_back(stream ? stream : "", capacity);
  if (failAllocation) return nullptr;
  auto* buffer = new MemoryFrameBuffer(capacity, withoutMemory);
  live_.insert(buffer);
  ++allocations;
  return buffer;
}

void MemoryFrameAllocator::Release(FrameBuffer* buffer) {
  ++releases;
  if (live_.erase(buffer) == 0) {
    ++badReleases;
    return;
  }
  delete buffer;
}

std::string FourCCText(uint32_t code) {
  std::string text(4, ' ');
  for (int i = 0; i < 4; ++i) text[i] = static_cast<char>((code >> (8 * i)) & 0xFF);
  return text;
}

bool RecordingParserClient::OnFrameCompleted(FrameBuffer* frame) {
  if (throwOnDelivery) throw std::runtime_error("frame sink failed");
  if (!accept) {
    ++refused;
    return false;
  }
  DeliveredFrame f;
  f.code = FourCCText(frame->GetCode());
  if (keepData && frame->GetData()) f.data.assign(frame->GetData(), frame->GetData() + frame->GetLength());
  f.width = frame->GetWidth();
  f.height = frame->GetHeight();
  f.sizeClass = frame->GetSizeClass();
  f.capacity = frame->GetCapacity();
  frame->GetTime(&f.time);
  f.rtpTimestamp = convertedTimestamps.empty() ? 0 : convertedTimestamps.back();
  frames.push_back(std::move(f));
  return true;
}

void RecordingParserClient::ConvertTime(uint32_t rtpTimestamp, norvale::ipcapture::SystemTimeRecord* time) {
  convertedTimestamps.push_back(rtpTimestamp);
  // A calendar time that shows which time stamp it came from.
  *time = {};
  time->year = 2024;
  time->month = 1;
  time->day = 1;
  time->hour = static_cast<uint16_t>(rtpTimestamp / 3600000 % 24);
  time->minute = static_cast<uint16_t>(rtpTimestamp / 60000 % 60);
  time->second = static_cast<uint16_t>(rtpTimestamp / 1000 % 60);
  time->milliseconds = static_cast<uint16_t>(rtpTimestamp % 1000);
}

}  // namespace zephrin::test
