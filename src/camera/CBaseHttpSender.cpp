#include "camera/CBaseHttpSender.h"

#include <algorithm>

namespace Web {

CBaseHttpSender::CBaseHttpSender(const norvale::DEVICE_INFO& device) { device_.CopyFrom(device); }

CBaseHttpSender::~CBaseHttpSender() = default;

uint32_t CBaseHttpSender::ReadResponse(std::vector<uint8_t>& body) {
  body.clear();
  uint32_t total = 0;
  // The bound is checked before each chunk, so the body may pass it by less than one chunk.
  for (uint32_t n = GetAvailableSize(); n != 0 && total < kMaxResponseSize; n = GetAvailableSize()) {
    const uint32_t read = ReadChunk(body, std::min(n, kChunkSize), false);
    if (read == 0) break;  // the request was closed under us
    total += read;
  }
  return total;
}

}  // namespace Web
