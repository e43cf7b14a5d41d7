#include "camera/CBaseHttpSender.h"

#include <algorithm>

namespace Web {

CBaseHttpSender::CBaseHttpSender(const norvale::DEVICE_INFO& device) : auth_(device.user, device.password) {
  device_.CopyFrom(device);
}

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

uint32_t CBaseHttpSender::TimeoutMs() const {
  return device_.networkTimeout > 0 ? static_cast<uint32_t>(device_.networkTimeout) : 5000u;
}

uint32_t CBaseHttpSender::DeadlineMs() const {
  // Tick counts wrap, so no wait may reach half their range.
  return static_cast<uint32_t>(std::min<uint64_t>(uint64_t{TimeoutMs()} * kDeadlineFactor, 0x7FFFFFFFu));
}

bool CBaseHttpSender::IsRequestToken(const std::string& text) {
  if (text.empty()) return false;
  for (unsigned char c : text)
    if (c <= 0x20 || c >= 0x7F) return false;
  return true;
}

uint32_t CBaseHttpSender::ExchangeWithLogin(const std::string& verb, const std::string& target,
                                            const Exchange& exchange) {
  uint32_t status = 0;
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    const std::string authorization = auth_.Authorization(verb, target);
    std::vector<std::string> challenges;
    status = exchange(authorization, challenges);
    if (status != 401 || !auth_.HasCredentials()) break;
    const std::string usedNonce = auth_.Nonce();
    if (!auth_.Challenge(challenges)) break;
    if (!authorization.empty() && !auth_.IsStale() && auth_.Nonce() == usedNonce) break;  // refused
  }
  return status;
}

}  // namespace Web
