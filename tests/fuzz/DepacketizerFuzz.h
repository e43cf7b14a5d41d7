#pragma once
// Feeds a fuzzer input to a depacketizer as a sequence of RTP packets. Each packet is a record:
//   flags (1 byte), length (2 bytes, little-endian, taken modulo 2048), payload (that many bytes).
// Flags: 0x01 marker, 0x02 a sequence number is skipped (loss), 0x04 the time stamp advances,
// 0x08 the sequence number repeats (duplicate), 0x10 the allocator fails from now on (toggle),
// 0x20 the client refuses frames (toggle), 0x40 the client throws (toggle), 0x80 the requested size
// changes. After every packet the frame buffer must be within its cap and every frame buffer taken
// from the allocator must have been released exactly once.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "streaming/CRTPMediaParser.h"
#include "support/FakeDriver.h"
#include "support/MemoryFrameAllocator.h"

namespace zephrin::fuzz {

struct Record {
  uint8_t flags;
  std::vector<uint8_t> payload;
};

inline std::vector<Record> SplitRecords(const uint8_t* data, size_t size) {
  std::vector<Record> records;
  size_t pos = 0;
  while (pos + 3 <= size) {
    Record r;
    r.flags = data[pos];
    const size_t length = ((size_t{data[pos + 2]} << 8) | data[pos + 1]) % 2048;
    pos += 3;
    const size_t n = length < size - pos ? length : size - pos;
    r.payload.assign(data + pos, data + pos + n);
    pos += n;
    records.push_back(std::move(r));
  }
  return records;
}

template <typename Parser>
void RunPackets(const uint8_t* data, size_t size, bool firstRecordIsParameterSet = false) {
  test::FakeDriver driver;
  test::MemoryFrameAllocator allocator;
  test::RecordingParserClient client;
  client.keepData = false;
  driver.frameAllocator = &allocator;
  Parser parser(&driver);
  parser.SetClient(&client);
  std::vector<Record> records = SplitRecords(data, size);
  size_t first = 0;
  if (firstRecordIsParameterSet && !records.empty()) {
    const std::vector<uint8_t> pps = {0x68, 0xce, 0x3c, 0x80};
    parser.SetParameterSets(records[0].payload, pps, records[0].payload);
    first = 1;
  }
  uint16_t sequence = 0xFFF0;
  uint32_t timestamp = 0xFFFFF000u;
  for (size_t i = first; i < records.size(); ++i) {
    const Record& r = records[i];
    if (r.flags & 0x02) ++sequence;
    if (r.flags & 0x08) --sequence;
    if (r.flags & 0x04) timestamp += 3600;
    if (r.flags & 0x10) allocator.failAllocation = !allocator.failAllocation;
    if (r.flags & 0x20) client.accept = !client.accept;
    if (r.flags & 0x40) client.throwOnDelivery = !client.throwOnDelivery;
    if (r.flags & 0x80)
      client.requestedSize =
          client.requestedSize.first ? std::pair<uint16_t, uint16_t>{0, 0} : std::pair<uint16_t, uint16_t>{2560, 1920};
    norvale::CRTPPacket packet;
    packet.sequenceNumber = sequence++;
    packet.timestamp = timestamp;
    packet.marker = r.flags & 0x01;
    packet.payload = r.payload;
    parser.ProcessPacket(packet);
    if (parser.FrameBufferSize() > norvale::CRTPMediaParser::kMaxFrameSize) __builtin_trap();
    if (allocator.Outstanding() != 0 || allocator.badReleases != 0 || allocator.allocations != allocator.releases)
      __builtin_trap();
  }
}

}  // namespace zephrin::fuzz
