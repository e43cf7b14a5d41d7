// RTP sequence numbers and time stamps as a camera sends them, in any order and with any jumps: the
// extended sequence number only moves as the stream does, and the frame time the host receives never
// falls behind the clock nor runs backwards except when it restarts at the present time.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>

#include "streaming/CRTPSequenceStatistics.h"
#include "streaming/CTimeStampConverter.h"

namespace {
uint64_t gNow = 0;
uint64_t Now() { return gNow; }

void CheckSequences(FuzzedDataProvider& provider, size_t count) {
  norvale::CRTPSequenceStatistics stats;
  uint16_t sequence = provider.ConsumeIntegral<uint16_t>();
  for (size_t i = 0; i < count && provider.remaining_bytes() > 0; ++i) {
    // Mostly small steps forward, sometimes late packets, sometimes a jump to anywhere.
    const uint8_t kind = provider.ConsumeIntegral<uint8_t>();
    if (kind < 160)
      sequence = static_cast<uint16_t>(sequence + (kind & 7));
    else if (kind < 224)
      sequence = static_cast<uint16_t>(sequence - (kind & 31));
    else
      sequence = provider.ConsumeIntegral<uint16_t>();
    const bool started = stats.Started();
    const uint32_t before = stats.ExtendedHighest();
    const uint16_t highest = stats.Highest();
    const uint32_t received = stats.Received();
    stats.Update(sequence);
    const uint32_t after = stats.ExtendedHighest();
    if (stats.Cycles() % norvale::CRTPSequenceStatistics::kSequenceModulo != 0) std::abort();
    if (!started) {
      if (after != sequence || stats.Received() != 1) std::abort();
      continue;
    }
    const uint16_t delta = static_cast<uint16_t>(sequence - highest);
    if (delta < norvale::CRTPSequenceStatistics::kMaxDropout) {
      // An in-order packet moves the extended number by exactly its step, across the wrap too.
      if (after != before + delta || stats.Received() != received + 1) std::abort();
    } else if (after != before) {
      // A big jump is only believed as a restart at that packet.
      if (after != sequence || stats.Cycles() != 0 || stats.Received() != 1) std::abort();
    } else if (stats.Received() != received && stats.Received() != received + 1) {
      std::abort();
    }
  }
}

void CheckTimes(FuzzedDataProvider& provider, size_t count) {
  gNow = 0x01DC000000000000ull + provider.ConsumeIntegralInRange<uint64_t>(0, 1ull << 40);
  norvale::CTimeStampConverter converter(&Now);
  uint32_t timestamp = provider.ConsumeIntegral<uint32_t>();
  for (size_t i = 0; i < count && provider.remaining_bytes() > 0; ++i) {
    const uint8_t kind = provider.ConsumeIntegral<uint8_t>();
    // The clock runs on (never back): by a frame period with jitter, or sometimes by seconds.
    if (kind & 0x80)
      gNow += provider.ConsumeIntegralInRange<uint64_t>(0, 100000000);
    else
      gNow += 330000 + provider.ConsumeIntegralInRange<uint64_t>(0, 20000) - 10000;
    switch (kind & 0x0F) {
      case 0:
        timestamp = provider.ConsumeIntegral<uint32_t>();
        break;
      case 1:
        break;  // a repeated time stamp
      case 2:
        timestamp -= provider.ConsumeIntegralInRange<uint32_t>(0, 90000);
        break;
      default:
        timestamp += 3000 + provider.ConsumeIntegralInRange<uint32_t>(0, 300) - 150;
        break;
    }
    const uint64_t before = converter.Current();
    converter.Update(timestamp);
    const uint64_t after = converter.Current();
    if (after < gNow) std::abort();                     // never behind the clock
    if (after < before && after != gNow) std::abort();  // backwards only by restarting at the present
    norvale::ipcapture::SystemTimeRecord time{};
    converter.GetTime(&time);
    if (time.month < 1 || time.month > 12 || time.day < 1 || time.day > 31) std::abort();
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  const bool times = provider.ConsumeBool();
  if (times)
    CheckTimes(provider, 5000);
  else
    CheckSequences(provider, 20000);
  return 0;
}
