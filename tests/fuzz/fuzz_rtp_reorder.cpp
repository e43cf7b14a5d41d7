// The receiver's reorder stage under any arrival order, sequence jump and clock: every packet leaves
// once (handed on or dropped) or stays held, never more than its slots, and none after the hold time.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

#include "streaming/CRTPReorderBuffer.h"

using norvale::CRTPReorderBuffer;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  std::vector<CRTPReorderBuffer::Entry> pool(200);
  std::vector<CRTPReorderBuffer::Entry*> free, ready, spent;
  for (auto& entry : pool) free.push_back(&entry);
  CRTPReorderBuffer buffer;
  uint32_t now = provider.ConsumeIntegral<uint32_t>();
  uint16_t sequence = provider.ConsumeIntegral<uint16_t>();
  while (provider.remaining_bytes() > 0) {
    const uint8_t kind = provider.ConsumeIntegral<uint8_t>();
    if (kind < 16) {
      now += provider.ConsumeIntegralInRange<uint32_t>(0, 80);
      buffer.Expire(now, ready);
    } else {
      sequence = kind < 160   ? sequence + 1
                 : kind < 200 ? sequence + (kind & 15)
                 : kind < 240 ? sequence - (kind & 15)
                              : provider.ConsumeIntegral<uint16_t>();
      if (free.empty()) std::abort();  // entries went missing or too many are held
      free.back()->packet.sequenceNumber = sequence;
      buffer.Offer(free.back(), now, ready, spent);
      free.pop_back();
    }
    for (auto* list : {&ready, &spent}) free.insert(free.end(), list->begin(), list->end()), list->clear();
    if (buffer.Held() > CRTPReorderBuffer::kSlots || free.size() + buffer.Held() != pool.size()) std::abort();
  }
  buffer.Expire(now + 2 * CRTPReorderBuffer::kHoldTime, ready);
  if (buffer.Held() != 0 || free.size() + ready.size() != pool.size()) std::abort();
  return 0;
}
