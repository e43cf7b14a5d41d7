#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace norvale {

// One received RTP packet: its parsed header fields and its payload.
class CRTPPacket {
 public:
  virtual ~CRTPPacket() = default;

  // Parses an RTP datagram; the packet is cleared first. False for anything that is not a complete,
  // consistent RTP packet (no byte outside data[0, size) is ever read).
  bool Parse(const uint8_t* data, size_t size);
  void Clear();

  uint8_t csrcCount = 0;
  std::vector<uint8_t> csrcList;  // csrcCount x 4 bytes as received
  uint32_t ssrc = 0;              // network byte order, as received
  bool marker = false;
  bool padding = false;
  uint8_t payloadType = 0;
  uint16_t sequenceNumber = 0;  // host order
  uint32_t timestamp = 0;       // host order
  uint16_t extensionProfile = 0;
  uint16_t extensionLength = 0;  // 32-bit words
  std::vector<uint8_t> extensionData;
  std::vector<uint8_t> payload;

  uint32_t PayloadLength() const { return static_cast<uint32_t>(payload.size()); }
  const uint8_t* Payload() const { return payload.data(); }

 private:
  bool ParseInto(const uint8_t* data, size_t size);
};

}  // namespace norvale
