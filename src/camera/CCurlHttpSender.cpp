#include "camera/CCurlHttpSender.h"

#include <curl/curl.h>

#include <algorithm>
#include <string_view>

#include "platform/Guard.h"
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
// The header whose values are the login challenges of an answer.
constexpr std::string_view kChallengeHeader = "www-authenticate:";

bool GlobalInit() {
  static const bool ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ok;
}

std::string RemoveLineEnd(std::string_view text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.remove_suffix(1);
  return std::string(text);
}

}  // namespace

CCurlHttpSender::CCurlHttpSender(const norvale::DEVICE_INFO& device) : CBaseHttpSender(device) { Initialize(); }

void CCurlHttpSender::EasyDeleter::operator()(void* easy) const { curl_easy_cleanup(static_cast<CURL*>(easy)); }
void CCurlHttpSender::MultiDeleter::operator()(void* multi) const { curl_multi_cleanup(static_cast<CURLM*>(multi)); }
void CCurlHttpSender::HeaderListDeleter::operator()(curl_slist* list) const { curl_slist_free_all(list); }

CCurlHttpSender::~CCurlHttpSender() {
  {
    norvale::RecursiveLockGuard guard(lock_);
    CloseLocked(false);
  }
  Release();
}

void CCurlHttpSender::Initialize() {
  if (easy_) return;
  unsigned code = 0;
  do {
    if (!GlobalInit()) {
      code = CURLE_FAILED_INIT;
      break;
    }
    multi_.reset(curl_multi_init());
    easy_.reset(curl_easy_init());
    if (!multi_ || !easy_) {
      code = CURLE_OUT_OF_MEMORY;
      break;
    }
    // One connection per sender, kept between requests.
    if ((code = curl_multi_setopt(multi_.get(), CURLMOPT_MAXCONNECTS, 1L)) != CURLM_OK) break;

    const std::string& host = device_.address;
    const bool ipv6 = host.find(':') != std::string::npos && host.front() != '[';
    baseUrl_ = norvale::FormatString("http://%s%s%s:%u/", ipv6 ? "[" : "", host.c_str(), ipv6 ? "]" : "",
                                     static_cast<unsigned>(device_.port));

    CURL* e = easy_.get();
    const long timeout = static_cast<long>(TimeoutMs());
    const CURLcode results[] = {
        curl_easy_setopt(e, CURLOPT_USERAGENT, kUserAgent),
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
  easy_.reset();
  headers_.reset();
  multi_.reset();
}

// ---- library callbacks (no exception may pass through the C library) --------------------------

int CCurlHttpSender::OnConnected(void* self, char*, char*, int, int) {
  auto* s = static_cast<CCurlHttpSender*>(self);
  s->transfer_.connected = true;
  s->transfer_.lastActivity = norvale::platform::TickCount();
  return CURL_PREREQFUNC_OK;
}

size_t CCurlHttpSender::OnHeader(char* data, size_t size, size_t count, void* self) {
  auto* s = static_cast<CCurlHttpSender*>(self);
  const size_t total = size * count;
  TransferState& t = s->transfer_;
  t.lastActivity = norvale::platform::TickCount();
  const std::string_view line(data, total);
  if (line.substr(0, 5) == "HTTP/") {
    // A new answer begins (after an authentication round or an interim answer).
    uint32_t status = 0;
    const size_t space = line.find(' ');
    for (size_t i = space == std::string_view::npos ? line.size() : space + 1;
         i < line.size() && line[i] >= '0' && line[i] <= '9' && status < 1000; ++i)
      status = status * 10 + static_cast<uint32_t>(line[i] - '0');
    t.answer = Answer{};
    t.answer.status = status;
  } else if (line == "\r\n" || line == "\n") {
    t.answer.headerBlockEnded = true;
    // Interim answers are followed by the real one.
    if (t.answer.status >= 200) t.answer.headersFinal = true;
  } else if (line.size() > kChallengeHeader.size() &&
             norvale::ToLower(std::string(line.substr(0, kChallengeHeader.size()))) == kChallengeHeader) {
    try {
      if (t.answer.challenges.size() < kMaxChallenges)
        t.answer.challenges.push_back(norvale::Trim(RemoveLineEnd(line.substr(kChallengeHeader.size()))));
    }
    ZEPHRIN_RETHROW_CANCELLATION catch (...) { return 0; }
  }
  return total;
}

size_t CCurlHttpSender::OnBody(char* data, size_t size, size_t count, void* self) {
  auto* s = static_cast<CCurlHttpSender*>(self);
  const size_t total = size * count;
  TransferState& t = s->transfer_;
  Answer& a = t.answer;
  try {
    if (s->Unread() >= kBufferLimit) {
      t.paused = true;
      return CURL_WRITEFUNC_PAUSE;
    }
    if (a.bufferPos == a.buffer.size()) {
      a.buffer.clear();
      a.bufferPos = 0;
    } else if (a.bufferPos >= kBufferLimit) {
      a.buffer.erase(a.buffer.begin(), a.buffer.begin() + static_cast<std::ptrdiff_t>(a.bufferPos));
      a.bufferPos = 0;
    }
    a.buffer.insert(a.buffer.end(), data, data + total);
    a.bodyStarted = true;
    t.lastActivity = norvale::platform::TickCount();
    return total;
  }
  ZEPHRIN_RETHROW_CANCELLATION catch (...) {
    return 0;  // ends the transfer with an error
  }
}

// ---- transfer ----------------------------------------------------------------------------------

void CCurlHttpSender::CollectFinished() {
  int queued = 0;
  while (CURLMsg* msg = curl_multi_info_read(multi_.get(), &queued)) {
    if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy_.get()) {
      transfer_.finished = true;
      transfer_.result = msg->data.result;
    }
  }
}

void CCurlHttpSender::Resume() {
  if (Unread() == 0) {
    transfer_.answer.buffer.clear();
    transfer_.answer.bufferPos = 0;
  }
  if (transfer_.paused && Unread() < kBufferLimit) {
    transfer_.paused = false;
    curl_easy_pause(easy_.get(), CURLPAUSE_CONT);  // may hand over held data at once
  }
}

void CCurlHttpSender::NoteBodyEnd() {
  if (!(transfer_.finished && transfer_.result == CURLE_OK)) bodyIncomplete_ = true;
}

template <class Ready>
bool CCurlHttpSender::Pump(Ready ready) {
  const uint32_t timeout = TimeoutMs();
  const uint32_t deadline = DeadlineMs();
  const uint32_t start = norvale::platform::TickCount();
  TransferState& t = transfer_;
  for (;;) {
    if (ready()) return true;
    if (t.finished || t.stalled || cancel_.load() || abandoned_.load()) return false;
    const uint32_t sinceRequest = norvale::platform::TickCount() - requestStart_;
    if (sinceRequest >= deadline) {
      t.stalled = true;
      return false;
    }
    int running = 0;
    if (curl_multi_perform(multi_.get(), &running) != CURLM_OK) {
      t.finished = true;
      t.result = CURLE_FAILED_INIT;
      return ready();
    }
    CollectFinished();
    if (ready()) return true;
    if (t.finished || t.paused) return false;

    const uint32_t now = norvale::platform::TickCount();
    uint32_t remaining = 0;
    if (t.connected) {
      const uint32_t idle = now - t.lastActivity;
      if (idle >= timeout) {
        t.stalled = true;
        return false;
      }
      remaining = timeout - idle;
    } else {
      // The library's own connect time-out ends this phase; this only guards against it not doing so.
      const uint32_t limit = timeout + 1000;
      const uint32_t elapsed = now - start;
      if (elapsed >= limit) {
        t.stalled = true;
        return false;
      }
      remaining = limit - elapsed;
    }
    remaining = std::min(remaining, deadline - sinceRequest);
    curl_multi_poll(multi_.get(), nullptr, 0, static_cast<int>(std::min(remaining, kPollSliceMs)), nullptr);
  }
}

bool CCurlHttpSender::SendRequest(const HttpRequest& request) {
  statusCode_ = 0;
  bodyIncomplete_ = false;
  if (!easy_ || !IsRequestToken(request.verb) || !IsRequestToken(request.path)) return false;

  norvale::RecursiveLockGuard guard(lock_);
  if (abandoned_.load()) {
    CloseLocked(false);
    return false;
  }
  CloseLocked(true);
  bodyIncomplete_ = false;
  requestStart_ = norvale::platform::TickCount();
  target_ = request.path;
  verb_ = request.verb;
  requestBody_ = request.body;

  bool first = true;
  const uint32_t status =
      ExchangeWithLogin(verb_, target_, [&](const std::string& authorization, std::vector<std::string>& challenges) {
        if (!first) CloseLocked(true);
        first = false;
        if (cancel_.load() || abandoned_.load()) return 0u;
        const uint32_t answer = Transfer(authorization);
        challenges = transfer_.answer.challenges;
        return answer;
      });
  if (status == 0) {
    CloseLocked(false);
    return false;
  }
  statusCode_ = status;
  return true;
}

uint32_t CCurlHttpSender::Transfer(const std::string& authorization) {
  // The state of the previous transfer was cleared when it was closed.
  std::unique_ptr<curl_slist, HeaderListDeleter> headers(curl_slist_append(nullptr, "Accept: */*"));
  if (headers && !authorization.empty()) {
    curl_slist* more = curl_slist_append(headers.get(), ("Authorization: " + authorization).c_str());
    if (!more) headers.reset();
  }
  if (!headers) return 0;
  headers_ = std::move(headers);
  if (!SetRequestOptions(headers_.get())) return 0;
  CURL* e = easy_.get();
  if (curl_multi_add_handle(multi_.get(), e) != CURLM_OK) return 0;
  transfer_.open = true;

  // A transfer that ends behind an interim answer, or whose final status line could not be read, has
  // no status at all.
  const TransferState& t = transfer_;
  if (Pump([&t] { return t.answer.headersFinal || t.answer.bodyStarted; })) return FinalStatus(t.answer.status);
  if (t.finished && t.result == CURLE_OK) {
    long code = 0;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &code);
    return code > 0 ? FinalStatus(static_cast<uint32_t>(code)) : 0;
  }
  // A connection that broke after a complete header block still gave its status, but no whole body.
  if (t.finished && t.answer.headerBlockEnded && t.answer.status >= 200) {
    bodyIncomplete_ = true;
    return t.answer.status;
  }
  return 0;
}

bool CCurlHttpSender::SetRequestOptions(curl_slist* headers) {
  CURL* e = easy_.get();
  const bool withBody = !requestBody_.empty();
  const char* customVerb = verb_ == "GET" && !withBody ? nullptr : verb_.c_str();
  struct Option {
    const char* name;
    CURLcode result;
  };
  const Option options[] = {
      {"HTTPHEADER", curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers)},
      {"REQUEST_TARGET", curl_easy_setopt(e, CURLOPT_REQUEST_TARGET, target_.c_str())},
      {"HTTPGET", curl_easy_setopt(e, CURLOPT_HTTPGET, 1L)},  // resets any body of an earlier request
      {"POSTFIELDSIZE_LARGE",
       withBody ? curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(requestBody_.size()))
                : CURLE_OK},
      {"POSTFIELDS", withBody ? curl_easy_setopt(e, CURLOPT_POSTFIELDS, requestBody_.data()) : CURLE_OK},
      {"CUSTOMREQUEST", curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, customVerb)},
  };
  for (const Option& option : options) {
    if (option.result == CURLE_OK) continue;
    norvale::platform::DebugOutput(
        norvale::FormatString(
            "Web::CCurlHttpSender::Transfer - option %s refused for \"%s\" to device %s:%u, code=%d (%s)", option.name,
            target_.c_str(), device_.address.c_str(), static_cast<unsigned>(device_.port),
            static_cast<int>(option.result), curl_easy_strerror(option.result))
            .c_str());
    return false;
  }
  return true;
}

void CCurlHttpSender::CloseLocked(bool drain) {
  TransferState& t = transfer_;
  if (t.open) {
    if (drain && !t.finished && !t.stalled && !cancel_.load() && (t.answer.headersFinal || t.answer.bodyStarted)) {
      // Read away a short unread answer so that the connection can serve the next request.
      size_t discarded = 0;
      const uint32_t start = norvale::platform::TickCount();
      while (!t.finished && discarded <= kDrainLimit && norvale::platform::TickCount() - start < kDrainMs &&
             !cancel_.load()) {
        discarded += Unread();
        t.answer.bufferPos = t.answer.buffer.size();
        Resume();
        int running = 0;
        if (curl_multi_perform(multi_.get(), &running) != CURLM_OK) break;
        CollectFinished();
        if (!t.finished && Unread() == 0) curl_multi_poll(multi_.get(), nullptr, 0, 10, nullptr);
      }
    }
    // An unfinished transfer closes its connection here; a finished one returns it to the cache.
    curl_multi_remove_handle(multi_.get(), easy_.get());
  }
  transfer_ = TransferState{};
}

void CCurlHttpSender::CloseRequest() {
  if (lock_.TryLock()) {
    CloseLocked(true);
    lock_.Unlock();
    return;
  }
  // Another thread is inside a transfer: make it give up, then close.
  cancel_ = true;
  if (multi_) curl_multi_wakeup(multi_.get());
  {
    norvale::RecursiveLockGuard guard(lock_);
    CloseLocked(false);
    cancel_ = false;
  }
}

uint32_t CCurlHttpSender::GetAvailableSize() {
  norvale::RecursiveLockGuard guard(lock_);
  if (!transfer_.open) return 0;
  if (Unread() == 0) {
    Resume();
    if (!Pump([this] { return Unread() > 0; })) NoteBodyEnd();
  }
  return static_cast<uint32_t>(std::min<size_t>(Unread(), UINT32_MAX));
}

uint32_t CCurlHttpSender::ReadChunk(std::vector<uint8_t>& body, uint32_t maxBytes, bool clearFirst) {
  if (clearFirst) body.clear();
  norvale::RecursiveLockGuard guard(lock_);
  if (!transfer_.open || maxBytes == 0) return 0;
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
    Answer& a = transfer_.answer;
    const auto from = a.buffer.begin() + static_cast<std::ptrdiff_t>(a.bufferPos);
    body.insert(body.end(), from, from + static_cast<std::ptrdiff_t>(n));
    a.bufferPos += n;
    read += static_cast<uint32_t>(n);
  }
  return read;
}

}  // namespace Web
