#include "hostobjects/MemoryFrameAllocator.h"

#include <algorithm>
#include <stdexcept>

namespace zephrin::test {

using norvale::ipcapture::FrameBuffer;

MemoryFrameBuffer::MemoryFrameBuffer(uint32_t capacity_, bool withoutMemory) : capacity(capacity_) {
  if (!withoutMemory) data.resize(capacity_);
}

MemoryFrameAllocator::~MemoryFrameAllocator() {
  for (MemoryFrameBuffer* buffer : live_) norvale::ipcapture::DeleteObject(buffer);
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
  // Only a pointer this allocator handed out is ever turned back into a buffer.
  const auto it = std::find_if(live_.begin(), live_.end(),
                               [buffer](MemoryFrameBuffer* ours) { return static_cast<FrameBuffer*>(ours) == buffer; });
  if (it == live_.end()) {
    ++badReleases;
    return;
  }
  MemoryFrameBuffer* ours = *it;
  live_.erase(it);
  norvale::ipcapture::DeleteObject(ours);
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
  // The client reads the frame as its host would, through the host's own buffer type.
  auto* buffer = dynamic_cast<MemoryFrameBuffer*>(frame);
  if (!buffer) {
    ++refused;
    return false;
  }
  DeliveredFrame f;
  f.code = FourCCText(buffer->code);
  if (keepData && !buffer->data.empty())
    f.data.assign(buffer->data.begin(), buffer->data.begin() + std::min<size_t>(buffer->length, buffer->data.size()));
  f.width = buffer->width;
  f.height = buffer->height;
  f.sizeClass = buffer->sizeClass;
  f.capacity = buffer->capacity;
  f.time = buffer->time;
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
