// The receiver's reorder stage under any arrival order, any sequence jumps and any clock: every
// packet leaves exactly once (handed on or dropped) or stays held, no more than its slots are ever
// held, and once the hold time has passed nothing is left waiting.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "streaming/CRTPReorderBuffer.h"

namespace {
using norvale::CRTPReorderBuffer;
using Entry = CRTPReorderBuffer::Entry;

constexpr size_t kPool = 256;  // far more than can ever be out at once
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  std::vector<std::unique_ptr<Entry>> pool;
  std::vector<Entry*> free;
  for (size_t i = 0; i < kPool; ++i) {
    pool.push_back(std::make_unique<Entry>());
    free.push_back(pool.back().get());
  }
  CRTPReorderBuffer buffer;
  std::vector<Entry*> ready, spent;
  uint32_t now = provider.ConsumeIntegral<uint32_t>();
  uint16_t sequence = provider.ConsumeIntegral<uint16_t>();
  uint64_t offered = 0, left = 0;
  auto giveBack = [&] {
    left += ready.size() + spent.size();
    free.insert(free.end(), ready.begin(), ready.end());
    free.insert(free.end(), spent.begin(), spent.end());
    ready.clear();
    spent.clear();
  };
  while (provider.remaining_bytes() > 0) {
    const uint8_t kind = provider.ConsumeIntegral<uint8_t>();
    if (kind < 16) {
      now += provider.ConsumeIntegralInRange<uint32_t>(0, 80);
      buffer.Expire(now, ready);
      giveBack();
      continue;
    }
    // Mostly the next packet, sometimes a little ahead or behind, sometimes anywhere.
    if (kind < 160)
      sequence = static_cast<uint16_t>(sequence + 1);
    else if (kind < 200)
      sequence = static_cast<uint16_t>(sequence + (kind & 15));
    else if (kind < 240)
      sequence = static_cast<uint16_t>(sequence - (kind & 15));
    else
      sequence = provider.ConsumeIntegral<uint16_t>();
    if (free.empty()) std::abort();  // entries went missing or too many are held
    Entry* entry = free.back();
    free.pop_back();
    entry->packet.sequenceNumber = sequence;
    ++offered;
    buffer.Offer(entry, now, ready, spent);
    if (buffer.Held() > CRTPReorderBuffer::kSlots) std::abort();
    giveBack();
    if (offered != left + buffer.Held()) std::abort();
  }
  now += CRTPReorderBuffer::kHoldTime * 2;
  buffer.Expire(now, ready);
  giveBack();
  if (buffer.Held() != 0 || offered != left || free.size() != kPool) std::abort();
  return 0;
}
