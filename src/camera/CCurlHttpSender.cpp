#include "camera/CCurlHttpSender.h"

#include <curl/curl.h>
#include <cxxabi.h>

#include <algorithm>
#include <string_view>

#include "platform/Platform.h"
#include "runtime/StringUtils.h"

namespace Web {

namespace {

// Body bytes held for the reader; beyond it the transfer pauses until the reader catches up.
constexpr size_t kBufferLimit = 64 * 1024;
// What CloseRequest still reads of an unread answer to keep the connection, and how long it waits.
constexpr size_t kDrainLimit = 64 * 1024;
constexpr uint32_t kDrainMs = 200;
// Longest single wait inside the library, so that time-outs are checked often.
constexpr uint32_t kPollSliceMs = 100;

CURL* Easy(void* p) { return static_cast<CURL*>(p); }
CURLM* Multi(void* p) { return static_cast<CURLM*>(p); }

bool GlobalInit() {
  static const bool ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ok;
}

// Verb and request target go on the request line as they are: refuse what would break its framing.
bool IsToken(const std::string& text) {
  if (text.empty()) return false;
  for (unsigned char c : text)
    if (c <= 0x20 || c >= 0x7F) return false;
  return true;
}

std::string RemoveLineEnd(std::string_view text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.remove_suffix(1);
  return std::string(text);
}

}  // namespace

CCurlHttpSender::CCurlHttpSender(const norvale::DEVICE_INFO& device)
    : CBaseHttpSender(device), auth_(device.user, device.password) {
  Initialize();
}

CCurlHttpSender::~CCurlHttpSender() {
  {
    norvale::RecursiveLockGuard guard(lock_);
    CloseLocked(false);
  }
  Release();
}

uint32_t CCurlHttpSender::TimeoutMs() const {
  // A time-out that is not positive would mean no wait at all, or none without end: the default.
  return device_.networkTimeout > 0 ? static_cast<uint32_t>(device_.networkTimeout) : 5000u;
}

void CCurlHttpSender::Initialize() {
  if (easy_) return;
  unsigned code = 0;
  do {
    if (!GlobalInit()) {
      code = CURLE_FAILED_INIT;
      break;
    }
    multi_ = curl_multi_init();
    easy_ = curl_easy_init();
    if (!multi_ || !easy_) {
      code = CURLE_OUT_OF_MEMORY;
      break;
    }
    // One connection per sender, kept between requests.
    if ((code = curl_multi_setopt(Multi(multi_), CURLMOPT_MAXCONNECTS, 1L)) != CURLM_OK) break;

    const std::string& host = device_.address;
    const bool ipv6 = host.find(':') != std::string::npos && host.front() != '[';
    baseUrl_ = norvale::FormatString("http://%s%s%s:%u/", ipv6 ? "[" : "", host.c_str(), ipv6 ? "]" : "",
                                     static_cast<unsigned>(device_.port));

    CURL* e = Easy(easy_);
    const long timeout = static_cast<long>(TimeoutMs());
    const CURLcode results[] = {
        curl_easy_setopt(e, CURLOPT_USERAGENT, "Norvale::WinInetSender"),
        curl_easy_setopt(e, CURLOPT_PROXY, ""),  // direct, whatever the environment says
        curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, timeout),
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L),
        curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1)),
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http"),
        curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L),
        curl_easy_setopt(e, CURLOPT_MAXCONNECTS, 1L),
        curl_easy_setopt(e, CURLOPT_URL, baseUrl_.c_str()),
        curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &CCurlHttpSender::OnHeader),
        curl_easy_setopt(e, CURLOPT_HEADERDATA, this),
        curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &CCurlHttpSender::OnBody),
        curl_easy_setopt(e, CURLOPT_WRITEDATA, this),
        curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, &CCurlHttpSender::OnConnected),
        curl_easy_setopt(e, CURLOPT_PREREQDATA, this),
    };
    for (CURLcode r : results)
      if (r != CURLE_OK && code == 0) code = r;
    if (code) break;
  } while (false);

  if (code != 0) {
    norvale::platform::DebugOutput(
        norvale::FormatString("%s - failed, code=%u", "Web::CWinInetSender::Initialize", code).c_str());
    Release();
  }
}

void CCurlHttpSender::Release() {
  if (easy_) curl_easy_cleanup(Easy(easy_));
  if (multi_) curl_multi_cleanup(Multi(multi_));
  if (headers_) curl_slist_free_all(static_cast<curl_slist*>(headers_));
  easy_ = multi_ = headers_ = nullptr;
}

// ---- library callbacks (no exception may pass through the C library) --------------------------

int CCurlHttpSender::OnConnected(void* self, char*, char*, int, int) {
  auto* s = static_cast<CCurlHttpSender*>(self);
  s->connected_ = true;
  s->lastActivity_ = norvale::platform::TickCount();
  return CURL_PREREQFUNC_OK;
}

size_t CCurlHttpSender::OnHeader(char* data, size_t size, size_t count, void* self) {
  auto* s = static_cast<CCurlHttpSender*>(self);
  const size_t total = size * count;
  s->lastActivity_ = norvale::platform::TickCount();
  const std::string_view line(data, total);
  if (line.substr(0, 5) == "HTTP/") {
    // A new answer begins (after an authentication round or an interim answer).
    uint32_t status = 0;
    const size_t space = line.find(' ');
    for (size_t i = space == std::string_view::npos ? line.size() : space + 1;
         i < line.size() && line[i] >= '0' && line[i] <= '9' && status < 1000; ++i)
      status = status * 10 + static_cast<uint32_t>(line[i] - '0');
    s->responseStatus_ = status;
    s->headerBlockEnded_ = s->headersFinal_ = s->bodyStarted_ = false;
    s->buffer_.clear();
    s->bufferPos_ = 0;
    s->challenges_.clear();
  } else if (line == "\r\n" || line == "\n") {
    s->headerBlockEnded_ = true;
    // Interim answers are followed by the real one.
    if (s->responseStatus_ >= 200) s->headersFinal_ = true;
  } else if (line.size() > 17 && norvale::ToLower(std::string(line.substr(0, 17))) == "www-authenticate:") {
    try {
      if (s->challenges_.size() < 16) s->challenges_.push_back(norvale::Trim(RemoveLineEnd(line.substr(17))));
    } catch (abi::__forced_unwind&) {
      throw;
    } catch (...) {
      return 0;
    }
  }
  return total;
}

size_t CCurlHttpSender::OnBody(char* data, size_t size, size_t count, void* self) {
  auto* s = static_cast<CCurlHttpSender*>(self);
  const size_t total = size * count;
  try {
    if (s->Unread() >= kBufferLimit) {
      s->paused_ = true;
      return CURL_WRITEFUNC_PAUSE;
    }
    if (s->bufferPos_ == s->buffer_.size()) {
      s->buffer_.clear();
      s->bufferPos_ = 0;
    } else if (s->bufferPos_ >= kBufferLimit) {
      s->buffer_.erase(s->buffer_.begin(), s->buffer_.begin() + static_cast<std::ptrdiff_t>(s->bufferPos_));
      s->bufferPos_ = 0;
    }
    s->buffer_.insert(s->buffer_.end(), data, data + total);
    s->bodyStarted_ = true;
    s->lastActivity_ = norvale::platform::TickCount();
    return total;
  } catch (abi::__forced_unwind&) {
    throw;
  } catch (...) {
    return 0;  // ends the transfer with an error
  }
}

// ---- transfer ----------------------------------------------------------------------------------

void CCurlHttpSender::CollectFinished() {
  int queued = 0;
  while (CURLMsg* msg = curl_multi_info_read(Multi(multi_), &queued)) {
    if (msg->msg == CURLMSG_DONE && msg->easy_handle == Easy(easy_)) {
      finished_ = true;
      result_ = msg->data.result;
    }
  }
}

void CCurlHttpSender::Resume() {
  if (Unread() == 0) {
    buffer_.clear();
    bufferPos_ = 0;
  }
  if (paused_ && Unread() < kBufferLimit) {
    paused_ = false;
    curl_easy_pause(Easy(easy_), CURLPAUSE_CONT);  // may hand over held data at once
  }
}

void CCurlHttpSender::NoteBodyEnd() {
  if (!(finished_ && result_ == CURLE_OK)) bodyIncomplete_ = true;
}

template <class Ready>
bool CCurlHttpSender::Pump(Ready ready) {
  const uint32_t timeout = TimeoutMs();
  // Tick counts wrap, so no wait may reach half their range.
  const uint32_t deadline = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{timeout} * kDeadlineFactor, 0x7FFFFFFFu));
  const uint32_t start = norvale::platform::TickCount();
  for (;;) {
    if (ready()) return true;
    if (finished_ || stalled_ || cancel_.load()) return false;
    const uint32_t sinceRequest = norvale::platform::TickCount() - requestStart_;
    if (sinceRequest >= deadline) {
      stalled_ = true;
      return false;
    }
    int running = 0;
    if (curl_multi_perform(Multi(multi_), &running) != CURLM_OK) {
      finished_ = true;
      result_ = CURLE_FAILED_INIT;
      return ready();
    }
    CollectFinished();
    if (ready()) return true;
    if (finished_ || paused_) return false;

    const uint32_t now = norvale::platform::TickCount();
    uint32_t remaining = 0;
    if (connected_) {
      const uint32_t idle = now - lastActivity_;
      if (idle >= timeout) {
        stalled_ = true;
        return false;
      }
      remaining = timeout - idle;
    } else {
      // The library's own connect time-out ends this phase; this only guards against it not doing so.
      const uint32_t limit = timeout + 1000;
      const uint32_t elapsed = now - start;
      if (elapsed >= limit) {
        stalled_ = true;
        return false;
      }
      remaining = limit - elapsed;
    }
    remaining = std::min(remaining, deadline - sinceRequest);
    curl_multi_poll(Multi(multi_), nullptr, 0, static_cast<int>(std::min(remaining, kPollSliceMs)), nullptr);
  }
}

bool CCurlHttpSender::SendRequest(const HttpRequest& request) {
  statusCode_ = 0;
  bodyIncomplete_ = false;
  if (!easy_ || !IsToken(request.verb) || !IsToken(request.path)) return false;

  norvale::RecursiveLockGuard guard(lock_);
  CloseLocked(true);
  bodyIncomplete_ = false;
  requestStart_ = norvale::platform::TickCount();
  target_ = request.path;
  verb_ = request.verb;
  requestBody_ = request.body;

  // A login challenge is answered once; a Digest answer whose nonce has meanwhile expired is
  // repeated with the new one.
  uint32_t status = 0;
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (attempt > 0) CloseLocked(true);
    if (cancel_.load()) return false;
    const std::string authorization = auth_.Authorization(verb_, target_);
    status = Transfer(authorization);
    if (status != 401 || !auth_.HasCredentials()) break;
    const std::string usedNonce = auth_.Nonce();
    if (!auth_.Challenge(challenges_)) break;
    if (!authorization.empty() && !auth_.IsStale() && auth_.Nonce() == usedNonce) break;  // refused
  }
  if (status == 0) {
    CloseLocked(false);
    return false;
  }
  statusCode_ = status;
  return true;
}

uint32_t CCurlHttpSender::Transfer(const std::string& authorization) {
  finished_ = stalled_ = connected_ = false;
  result_ = CURLE_OK;
  responseStatus_ = 0;
  headerBlockEnded_ = headersFinal_ = bodyStarted_ = paused_ = false;
  challenges_.clear();
  buffer_.clear();
  bufferPos_ = 0;

  curl_slist* headers = curl_slist_append(nullptr, "Accept: */*");
  if (headers && !authorization.empty()) {
    curl_slist* more = curl_slist_append(headers, ("Authorization: " + authorization).c_str());
    if (!more) {
      curl_slist_free_all(headers);
      headers = nullptr;
    }
  }
  if (!headers) return 0;
  if (headers_) curl_slist_free_all(static_cast<curl_slist*>(headers_));
  headers_ = headers;

  CURL* e = Easy(easy_);
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(e, CURLOPT_REQUEST_TARGET, target_.c_str());
  curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);  // resets any body of an earlier request
  if (!requestBody_.empty()) {
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(requestBody_.size()));
    curl_easy_setopt(e, CURLOPT_POSTFIELDS, requestBody_.data());
  }
  curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST,
                   verb_ == "GET" && requestBody_.empty() ? static_cast<const char*>(nullptr) : verb_.c_str());
  if (curl_multi_add_handle(Multi(multi_), e) != CURLM_OK) return 0;
  requestOpen_ = true;

  if (Pump([this] { return headersFinal_ || bodyStarted_; })) return responseStatus_;
  if (finished_ && result_ == CURLE_OK) {
    long code = 0;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &code);
    return code > 0 ? static_cast<uint32_t>(code) : 0;
  }
  // A connection that broke after a complete header block still gave its status, but no whole body.
  if (finished_ && headerBlockEnded_ && responseStatus_ >= 200) {
    bodyIncomplete_ = true;
    return responseStatus_;
  }
  return 0;
}

void CCurlHttpSender::CloseLocked(bool drain) {
  if (!requestOpen_) return;
  if (drain && !finished_ && !stalled_ && !cancel_.load() && (headersFinal_ || bodyStarted_)) {
    // Read away a short unread answer so that the connection can serve the next request.
    size_t discarded = 0;
    const uint32_t start = norvale::platform::TickCount();
    while (!finished_ && discarded <= kDrainLimit && norvale::platform::TickCount() - start < kDrainMs &&
           !cancel_.load()) {
      discarded += Unread();
      bufferPos_ = buffer_.size();
      Resume();
      int running = 0;
      if (curl_multi_perform(Multi(multi_), &running) != CURLM_OK) break;
      CollectFinished();
      if (!finished_ && Unread() == 0) curl_multi_poll(Multi(multi_), nullptr, 0, 10, nullptr);
    }
  }
  // An unfinished transfer closes its connection here; a finished one returns it to the cache.
  curl_multi_remove_handle(Multi(multi_), Easy(easy_));
  requestOpen_ = false;
  buffer_.clear();
  buffer_.shrink_to_fit();
  bufferPos_ = 0;
  paused_ = false;
}

void CCurlHttpSender::CloseRequest() {
  if (lock_.TryLock()) {
    CloseLocked(true);
    lock_.Unlock();
    return;
  }
  // Another thread is inside a transfer: make it give up, then close.
  cancel_ = true;
  if (multi_) curl_multi_wakeup(Multi(multi_));
  {
    norvale::RecursiveLockGuard guard(lock_);
    CloseLocked(false);
    cancel_ = false;
  }
}

uint32_t CCurlHttpSender::GetAvailableSize() {
  norvale::RecursiveLockGuard guard(lock_);
  if (!requestOpen_) return 0;
  if (Unread() == 0) {
    Resume();
    if (!Pump([this] { return Unread() > 0; })) NoteBodyEnd();
  }
  return static_cast<uint32_t>(std::min<size_t>(Unread(), UINT32_MAX));
}

uint32_t CCurlHttpSender::ReadChunk(std::vector<uint8_t>& body, uint32_t maxBytes, bool clearFirst) {
  if (clearFirst) body.clear();
  norvale::RecursiveLockGuard guard(lock_);
  if (!requestOpen_ || maxBytes == 0) return 0;
  uint32_t read = 0;
  while (read < maxBytes) {
    if (Unread() == 0) {
      Resume();
      if (!Pump([this] { return Unread() > 0; })) {
        NoteBodyEnd();
        break;
      }
    }
    const size_t n = std::min<size_t>(Unread(), maxBytes - read);
    const auto from = buffer_.begin() + static_cast<std::ptrdiff_t>(bufferPos_);
    body.insert(body.end(), from, from + static_cast<std::ptrdiff_t>(n));
    bufferPos_ += n;
    read += static_cast<uint32_t>(n);
  }
  return read;
}

}  // namespace Web
