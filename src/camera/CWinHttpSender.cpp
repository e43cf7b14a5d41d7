#include "camera/CWinHttpSender.h"

#include <algorithm>

#include "platform/Platform.h"
#include "runtime/StringUtils.h"

namespace Web {

namespace {

// Body bytes fetched from the connection at a time.
constexpr size_t kReadSize = 16 * 1024;
// What CloseRequest still reads of an unread answer to keep the connection, and how long it waits.
constexpr size_t kDrainLimit = 64 * 1024;
constexpr uint32_t kDrainMs = 200;

}  // namespace

void CWinHttpSender::ConnectionDeleter::operator()(norvale::platform::HttpConnection* connection) const {
  norvale::platform::CloseHttpConnection(connection);
}

CWinHttpSender::CWinHttpSender(const norvale::DEVICE_INFO& device) : CBaseHttpSender(device) {
  uint32_t error = 0;
  connection_.reset(
      norvale::platform::OpenHttpConnection(device_.address, device_.port, TimeoutMs(), kUserAgent, &error));
  if (!connection_)
    norvale::platform::DebugOutput(
        norvale::FormatString("%s - failed, code=%u", "Web::CWinInetSender::Initialize", error).c_str());
}

CWinHttpSender::~CWinHttpSender() {
  {
    norvale::RecursiveLockGuard guard(lock_);
    CloseLocked(false);
  }
  connection_.reset();
}

bool CWinHttpSender::SendRequest(const HttpRequest& request) {
  statusCode_ = 0;
  bodyIncomplete_ = false;
  if (!connection_ || !IsRequestToken(request.verb) || !IsRequestToken(request.path)) return false;

  norvale::RecursiveLockGuard guard(lock_);
  if (abandoned_.load()) {
    CloseLocked(false);
    return false;
  }
  CloseLocked(true);
  bodyIncomplete_ = false;
  requestStart_ = norvale::platform::TickCount();
  request_ = request;

  bool first = true;
  const uint32_t status = ExchangeWithLogin(
      request_.verb, request_.path, [&](const std::string& authorization, std::vector<std::string>& challenges) {
        if (!first) CloseLocked(true);
        first = false;
        if (cancel_.load() || abandoned_.load()) return 0u;
        return Transfer(authorization, challenges);
      });
  if (status == 0) {
    CloseLocked(false);
    return false;
  }
  statusCode_ = status;
  return true;
}

uint32_t CWinHttpSender::Transfer(const std::string& authorization, std::vector<std::string>& challenges) {
  const uint32_t elapsed = norvale::platform::TickCount() - requestStart_;
  const uint32_t deadline = DeadlineMs();
  if (elapsed >= deadline) return 0;
  std::string headers = "Accept: */*\r\n";
  if (!authorization.empty()) headers += "Authorization: " + authorization + "\r\n";
  open_ = true;
  if (!norvale::platform::SendHttpRequest(connection_.get(), request_.verb, request_.path, headers, request_.body,
                                          deadline - elapsed))
    return 0;
  challenges = norvale::platform::HttpHeaderValues(connection_.get(), "WWW-Authenticate", kMaxChallenges);
  return FinalStatus(norvale::platform::HttpStatus(connection_.get()));
}

void CWinHttpSender::CloseLocked(bool drain) {
  // Ended even without a request open: that also clears a cancellation which arrived after the
  // request it was meant for had already ended.
  if (connection_) {
    const bool keep = open_ && drain && !bodyEnded_ && !cancel_.load();
    norvale::platform::EndHttpRequest(connection_.get(), keep ? kDrainLimit : 0, kDrainMs);
  }
  open_ = false;
  bodyEnded_ = false;
  buffer_.clear();
  bufferPos_ = 0;
}

void CWinHttpSender::CloseRequest() {
  if (lock_.TryLock()) {
    CloseLocked(true);
    lock_.Unlock();
    return;
  }
  // Another thread is inside a request: make it give up, then close.
  cancel_ = true;
  if (connection_) norvale::platform::CancelHttpRequest(connection_.get());
  {
    norvale::RecursiveLockGuard guard(lock_);
    CloseLocked(false);
    cancel_ = false;
  }
}

bool CWinHttpSender::Fill() {
  buffer_.clear();
  bufferPos_ = 0;
  if (bodyEnded_) return false;
  buffer_.resize(kReadSize);
  const int n = norvale::platform::ReadHttpBody(connection_.get(), buffer_.data(), buffer_.size());
  if (n <= 0) {
    buffer_.clear();
    bodyEnded_ = true;
    // Unless the body ended as announced, the answer is incomplete.
    if (n < 0) bodyIncomplete_ = true;
    return false;
  }
  buffer_.resize(static_cast<size_t>(n));
  return true;
}

uint32_t CWinHttpSender::GetAvailableSize() {
  norvale::RecursiveLockGuard guard(lock_);
  if (!open_) return 0;
  if (Unread() == 0 && !Fill()) return 0;
  return static_cast<uint32_t>(std::min<size_t>(Unread(), UINT32_MAX));
}

uint32_t CWinHttpSender::ReadChunk(std::vector<uint8_t>& body, uint32_t maxBytes, bool clearFirst) {
  if (clearFirst) body.clear();
  norvale::RecursiveLockGuard guard(lock_);
  if (!open_ || maxBytes == 0) return 0;
  uint32_t read = 0;
  while (read < maxBytes) {
    if (Unread() == 0 && !Fill()) break;
    const size_t n = std::min<size_t>(Unread(), maxBytes - read);
    const auto from = buffer_.begin() + static_cast<std::ptrdiff_t>(bufferPos_);
    body.insert(body.end(), from, from + static_cast<std::ptrdiff_t>(n));
    bufferPos_ += n;
    read += static_cast<uint32_t>(n);
  }
  return read;
}

}  // namespace Web
