// Interleaved RTSP stream parser fed in random block splits: whatever the splits, it delivers the
// same packets as when the whole stream arrives at once.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <vector>

#include "streaming/CRTSPStreamParser.h"

namespace {
class Recorder : public norvale::IRTSPClientUser {
 public:
  bool OnDescribe(const norvale::SDPDescription&) override { return true; }
  void OnInterleavedPacket(const norvale::CRTPPacket& packet) override {
    packets.push_back(packet.payload);
    packets.back().push_back(static_cast<uint8_t>(packet.sequenceNumber));
  }
  void OnClientStopped() override {}
  std::vector<std::vector<uint8_t>> packets;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  const uint64_t splitSeed = provider.ConsumeIntegral<uint64_t>();
  const std::vector<uint8_t> stream = provider.ConsumeRemainingBytes<uint8_t>();

  Recorder whole;
  norvale::CRTSPStreamParser wholeParser(&whole);
  wholeParser.Feed(stream.data(), stream.size());

  Recorder split;
  norvale::CRTSPStreamParser splitParser(&split);
  uint64_t state = splitSeed | 1;
  size_t pos = 0;
  while (pos < stream.size()) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    const size_t block = 1 + static_cast<size_t>(state % 700);
    const size_t take = block < stream.size() - pos ? block : stream.size() - pos;
    splitParser.Feed(stream.data() + pos, take);
    pos += take;
  }
  if (whole.packets != split.packets) __builtin_trap();
  return 0;
}
