#pragma once
// Builds RTP datagrams and interleaved frames for the streaming tests.
#include <cstdint>
#include <vector>

namespace zephrin::test {

struct RtpSpec {
  uint8_t version = 2;
  bool marker = false;
  uint8_t payloadType = 96;
  uint16_t sequence = 1;
  uint32_t timestamp = 0;
  uint32_t ssrc = 0x11223344;
  std::vector<uint32_t> csrcs;
  bool extension = false;
  uint16_t extensionProfile = 0;
  std::vector<uint32_t> extensionWords;
  std::vector<uint8_t> payload = std::vector<uint8_t>(4, 0x5A);
  uint8_t padding = 0;  // padding bytes appended, the last one holding the count
};

inline void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

inline std::vector<uint8_t> BuildRtp(const RtpSpec& s) {
  std::vector<uint8_t> out;
  out.push_back(static_cast<uint8_t>(s.version << 6 | (s.padding ? 0x20 : 0) | (s.extension ? 0x10 : 0) |
                                     (s.csrcs.size() & 0x0F)));
  out.push_back(static_cast<uint8_t>((s.marker ? 0x80 : 0) | (s.payloadType & 0x7F)));
  out.push_back(static_cast<uint8_t>(s.sequence >> 8));
  out.push_back(static_cast<uint8_t>(s.sequence));
  Put32(out, s.timestamp);
  Put32(out, s.ssrc);
  for (uint32_t c : s.csrcs) Put32(out, c);
  if (s.extension) {
    out.push_back(static_cast<uint8_t>(s.extensionProfile >> 8));
    out.push_back(static_cast<uint8_t>(s.extensionProfile));
    out.push_back(static_cast<uint8_t>(s.extensionWords.size() >> 8));
    out.push_back(static_cast<uint8_t>(s.extensionWords.size()));
    for (uint32_t w : s.extensionWords) Put32(out, w);
  }
  out.insert(out.end(), s.payload.begin(), s.payload.end());
  for (int i = 0; i + 1 < s.padding; ++i) out.push_back(0);
  if (s.padding) out.push_back(s.padding);
  return out;
}

// "$", channel, 16-bit length, then the data.
inline std::vector<uint8_t> Interleave(uint8_t channel, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out{0x24, channel, static_cast<uint8_t>(data.size() >> 8), static_cast<uint8_t>(data.size())};
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

}  // namespace zephrin::test
