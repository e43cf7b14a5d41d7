#pragma once
// A host frame allocator in memory for depacketizer tests: hands out buffers of the requested
// capacity, records every frame it sees and counts allocations and releases, so a test can check that
// every buffer came back exactly once. Faults can be switched on: refuse to allocate, or hand out a
// buffer without memory.
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "host/HostInterfaces.h"
#include "hostobjects/HostContract.h"
#include "streaming/IMediaParserClient.h"

namespace zephrin::test {

// Offers the slots a recording host promises; the others are the contract's reserved places. What
// the driver wrote is read from the public fields.
class MemoryFrameBuffer : public norvale::ipcapture::FrameBuffer {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(MemoryFrameBuffer);
  explicit MemoryFrameBuffer(uint32_t capacity, bool withoutMemory = false);

  void Reserved1() override { HostContract::Violation("FrameBuffer", 1); }
  uint8_t* GetData() override { return data.empty() ? nullptr : data.data(); }
  void Reserved3() override { HostContract::Violation("FrameBuffer", 3); }
  void SetLength(uint32_t bytes) override { length = bytes; }
  void Reserved5() override { HostContract::Violation("FrameBuffer", 5); }
  void SetTime(const norvale::ipcapture::SystemTimeRecord* in) override {
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

// What a delivered frame held when the client saw it.
struct DeliveredFrame {
  std::string code;  // the four characters
  std::vector<uint8_t> data;
  uint16_t width = 0;
  uint16_t height = 0;
  uint32_t sizeClass = 0;
  uint32_t capacity = 0;
  uint32_t rtpTimestamp = 0;
  norvale::ipcapture::SystemTimeRecord time{};
};

class MemoryFrameAllocator : public norvale::ipcapture::FrameAllocator {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(MemoryFrameAllocator);
  virtual ~MemoryFrameAllocator();

  void Reserved1() override { HostContract::Violation("FrameAllocator", 1); }
  norvale::ipcapture::FrameBuffer* Allocate(uint32_t fourCC, uint32_t capacity, const char* stream) override;
  void Reserved3() override { HostContract::Violation("FrameAllocator", 3); }
  void Reserved4() override { HostContract::Violation("FrameAllocator", 4); }
  void Reserved5() override { HostContract::Violation("FrameAllocator", 5); }
  // Releasing a buffer this allocator did not hand out, or one already released, is counted as a fault.
  void Release(norvale::ipcapture::FrameBuffer* buffer) override;

  // Buffers handed out and not yet released.
  size_t Outstanding() const { return live_.size(); }

  bool failAllocation = false;
  bool withoutMemory = false;
  uint32_t allocations = 0;
  uint32_t releases = 0;
  uint32_t badReleases = 0;
  std::vector<std::pair<std::string, uint32_t>> requests;  // stream name and capacity of each request

 private:
  std::set<MemoryFrameBuffer*> live_;
};

// A depacketizer client that keeps a copy of every frame, answers with a fixed requested size and
// stream name, and turns a time stamp into a recognisable calendar time.
class RecordingParserClient : public norvale::IMediaParserClient {
 public:
  bool OnFrameCompleted(norvale::ipcapture::FrameBuffer* frame) override;
  std::pair<uint16_t, uint16_t> GetRequestedSize() override { return requestedSize; }
  std::string GetStreamName() override { return streamName; }
  void ConvertTime(uint32_t rtpTimestamp, norvale::ipcapture::SystemTimeRecord* time) override;

  std::pair<uint16_t, uint16_t> requestedSize{0, 0};
  std::string streamName = "Zephrin::LiveStream";
  bool accept = true;
  bool throwOnDelivery = false;
  bool keepData = true;
  uint32_t refused = 0;
  std::vector<DeliveredFrame> frames;  // the accepted ones
  std::vector<uint32_t> convertedTimestamps;
};

std::string FourCCText(uint32_t code);

}  // namespace zephrin::test
