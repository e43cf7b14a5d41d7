// The HTTP seam on WinHTTP in its asynchronous mode: every step is started, then waited for on our
// own terms (the network time-out, the request's deadline, a cancellation from another thread), so a
// blocked step never holds the caller; an abandoned request is closed by the caller's thread. One
// session per connection keeps one connection to the server alive between requests. WinHTTP's own
// login is switched off (no credentials are ever given to it), and so are redirects and cookies.
#include "platform/HttpConnection.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <mutex>

#include "platform/Platform.h"

namespace norvale::platform {

namespace {

// How long closing a connection waits for WinHTTP to finish with its handles before it keeps this
// library loaded instead (see CloseHttpConnection).
constexpr DWORD kSessionCloseWaitMs = 500;

// What a handle's context value points to: the session's or a request's.
enum class Owner { Session, Request };
struct CallbackContext {
  explicit CallbackContext(Owner o) : owner(o) {}
  const Owner owner;
};

// The session's context: told when WinHTTP closes the session handle, which it does only after every
// handle under it is closed and has had its last callback. One reference is the closer's, one is
// WinHTTP's (let go at that report), so a report that comes after the closer gave up waiting still
// finds its context.
struct SessionContext : CallbackContext {
  SessionContext() : CallbackContext(Owner::Session) {}
  HANDLE closed = nullptr;  // manual-reset
  std::atomic<int> references{2};

  void Release() {
    if (references.fetch_sub(1) == 1) {
      if (closed) CloseHandle(closed);
      delete this;
    }
  }
};

// What a step of a request waits for.
enum class Step : DWORD { None, Sent, Headers, Available, Read };

// The part of a request WinHTTP's callbacks reach. It outlives an abandoned request until WinHTTP
// says its handle is closing, so that a late callback (or a late write into the read buffer) never
// reaches freed memory: one reference is the caller's, one is WinHTTP's.
struct RequestContext : CallbackContext {
  RequestContext() : CallbackContext(Owner::Request) {}
  HANDLE done = nullptr;  // auto-reset: the step in progress completed
  std::atomic<int> references{2};
  // The outcome of the last completed step.
  Step completed = Step::None;
  DWORD error = 0;
  DWORD bytes = 0;
  // Kept here for WinHTTP while a step runs.
  std::wstring headers;
  std::vector<uint8_t> body;
  std::vector<uint8_t> buffer;

  void Release() {
    if (references.fetch_sub(1) == 1) {
      CloseHandle(done);
      delete this;
    }
  }
};

}  // namespace

struct HttpConnection {
  HINTERNET session = nullptr;
  HINTERNET server = nullptr;
  SessionContext* sessionContext = nullptr;  // set once WinHTTP holds it as the session's context
  bool watched = false;                      // the status callback is installed: the session's closing is reported
  uint32_t timeoutMs = 0;
  HANDLE cancel = nullptr;  // manual-reset: set by CancelHttpRequest until the request ends

  // The current request; the owner's thread alone.
  HINTERNET request = nullptr;
  RequestContext* context = nullptr;
  uint64_t deadline = 0;  // GetTickCount64 value when the request gives up
  uint32_t status = 0;
  bool lengthKnown = false;  // Content-Length announced the body's size
  uint64_t length = 0;
  uint64_t received = 0;
  bool ended = false;   // the body was read to its regular end
  bool broken = false;  // the request failed or its body broke off
};

namespace {

// Request line and header bytes as they are: the caller only passes visible ASCII there.
std::wstring Widen(const std::string& text) {
  std::wstring wide;
  wide.reserve(text.size());
  for (unsigned char c : text) wide.push_back(static_cast<wchar_t>(c));
  return wide;
}

std::string Narrow(const std::wstring& wide) {
  std::string text;
  text.reserve(wide.size());
  for (wchar_t c : wide) text.push_back(static_cast<unsigned>(c) < 0x100 ? static_cast<char>(c) : '?');
  return text;
}

std::wstring FromUtf8(const std::string& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(std::min<size_t>(text.size(), 0x7FFFFFFF));
  const int count = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  if (count <= 0) return Widen(text);
  std::wstring wide(static_cast<size_t>(count), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), count);
  return wide;
}

// WinHTTP's callback thread. A request's context value is its RequestContext, the session's its
// SessionContext; the server's handle carries none.
void CALLBACK OnStatus(HINTERNET, DWORD_PTR value, DWORD status, LPVOID info, DWORD length) {
  auto* target = reinterpret_cast<CallbackContext*>(value);
  if (!target) return;
  if (target->owner == Owner::Session) {
    if (status == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) {
      auto* session = static_cast<SessionContext*>(target);
      ::SetEvent(session->closed);
      session->Release();
    }
    return;
  }
  auto* context = static_cast<RequestContext*>(target);
  Step step = Step::None;
  DWORD error = 0;
  DWORD bytes = 0;
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
      step = Step::Sent;
      break;
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
      step = Step::Headers;
      break;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
      step = Step::Available;
      bytes = info && length >= sizeof(DWORD) ? *static_cast<const DWORD*>(info) : 0;
      break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
      step = Step::Read;
      bytes = length;
      break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
      step = Step::None;
      error = info ? static_cast<const WINHTTP_ASYNC_RESULT*>(info)->dwError : ERROR_WINHTTP_INTERNAL_ERROR;
      if (error == 0) error = ERROR_WINHTTP_INTERNAL_ERROR;
      break;
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
      context->Release();
      return;
    default:
      return;
  }
  context->completed = step;
  context->error = error;
  context->bytes = bytes;
  ::SetEvent(context->done);
}

// Closes the current request from the owner's thread; WinHTTP lets go of its context later.
void CloseRequest(HttpConnection* c) {
  if (c->request) WinHttpCloseHandle(c->request);
  c->request = nullptr;
  if (c->context) c->context->Release();
  c->context = nullptr;
}

// Waits for the step just started: true when it completed as expected within limitMs (and the
// request's deadline), not cancelled. Any other outcome abandons the request.
bool Await(HttpConnection* c, Step expected, uint64_t limitMs) {
  const uint64_t now = GetTickCount64();
  const uint64_t wait = std::min(limitMs, c->deadline > now ? c->deadline - now : 0);
  HANDLE events[] = {c->context->done, c->cancel};
  // A step that completed at once does not outlast the deadline either (a server trickling bytes).
  const DWORD woken =
      now < c->deadline
          ? WaitForMultipleObjects(2, events, FALSE, static_cast<DWORD>(std::min<uint64_t>(wait, 0x7FFFFFFF)))
          : WAIT_TIMEOUT;
  if (woken == WAIT_OBJECT_0 && c->context->error == 0 && c->context->completed == expected) return true;
  c->broken = true;
  CloseRequest(c);
  return false;
}

// One header (or, with index, the next of several of that name) as text.
bool QueryHeader(HINTERNET request, DWORD info, const wchar_t* name, DWORD* index, std::wstring* out) {
  DWORD bytes = 0;
  if (WinHttpQueryHeaders(request, info, name, WINHTTP_NO_OUTPUT_BUFFER, &bytes, index)) {
    out->clear();
    return true;
  }
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0) return false;
  std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
  bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
  if (!WinHttpQueryHeaders(request, info, name, value.data(), &bytes, index)) return false;
  value.resize(std::min<size_t>(bytes / sizeof(wchar_t), value.size()));
  *out = std::move(value);
  return true;
}

void ResetAnswer(HttpConnection* c) {
  c->status = 0;
  c->lengthKnown = false;
  c->length = 0;
  c->received = 0;
  c->ended = false;
  c->broken = false;
}

// Reads the answer's status and what tells where its body ends; false for an answer that is not one.
bool ReadAnswerHead(HttpConnection* c, const std::string& verb) {
  HINTERNET request = c->request;
  std::wstring version;
  std::wstring raw;
  if (!QueryHeader(request, WINHTTP_QUERY_VERSION, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_HEADER_INDEX, &version) ||
      (version != L"HTTP/1.0" && version != L"HTTP/1.1") ||
      !QueryHeader(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_HEADER_INDEX,
                   &raw) ||
      raw.find(L'\0') != std::wstring::npos)  // a NUL in the header block: not an answer we can read
    return false;
  DWORD status = 0;
  DWORD bytes = sizeof status;
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                           &status, &bytes, WINHTTP_NO_HEADER_INDEX) ||
      status < 100 || status > 999)
    return false;
  c->status = status;

  // A body cut short is told from a whole one by the announced length; a chunked body by WinHTTP's
  // own decoding.
  std::wstring encoding;
  const bool chunked = QueryHeader(request, WINHTTP_QUERY_TRANSFER_ENCODING, WINHTTP_HEADER_NAME_BY_INDEX,
                                   WINHTTP_NO_HEADER_INDEX, &encoding) &&
                       !encoding.empty();
  const bool bodiless = verb == "HEAD" || status / 100 == 1 || status == 204 || status == 304;
  std::wstring length;
  if (!chunked && !bodiless &&
      QueryHeader(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_HEADER_INDEX,
                  &length)) {
    uint64_t value = 0;
    bool digits = !length.empty();
    for (wchar_t ch : length) {
      if (ch < L'0' || ch > L'9' || value > (UINT64_MAX - 9) / 10) {
        digits = false;
        break;
      }
      value = value * 10 + static_cast<uint64_t>(ch - L'0');
    }
    c->lengthKnown = digits;
    c->length = value;
  }
  return true;
}

}  // namespace

HttpConnection* OpenHttpConnection(const std::string& host, uint16_t port, uint32_t timeoutMs,
                                   const std::string& userAgent, uint32_t* error) {
  auto* c = new (std::nothrow) HttpConnection;
  if (!c) {
    if (error) *error = ERROR_NOT_ENOUGH_MEMORY;
    return nullptr;
  }
  c->timeoutMs = timeoutMs;
  const int timeout = static_cast<int>(std::min<uint32_t>(timeoutMs, 0x7FFFFFFF));
  c->cancel = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (c->cancel)
    c->session = WinHttpOpen(FromUtf8(userAgent).c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                             WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
  // A handle takes over its parent's callback and context value when it is made: the server's handle
  // is made before the session gets its context, so that only the session's own closing reaches it.
  if (c->session && WinHttpSetTimeouts(c->session, timeout, timeout, timeout, timeout) &&
      WinHttpSetStatusCallback(c->session, OnStatus,
                               WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES,
                               0) != WINHTTP_INVALID_STATUS_CALLBACK) {
    c->watched = true;
    c->server = WinHttpConnect(c->session, FromUtf8(host).c_str(), port, 0);
  }
  if (c->server) {
    auto* sessionContext = new (std::nothrow) SessionContext;
    if (sessionContext) sessionContext->closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD_PTR value = reinterpret_cast<DWORD_PTR>(static_cast<CallbackContext*>(sessionContext));
    if (sessionContext && sessionContext->closed &&
        WinHttpSetOption(c->session, WINHTTP_OPTION_CONTEXT_VALUE, &value, sizeof value)) {
      c->sessionContext = sessionContext;
    } else {
      if (sessionContext) sessionContext->references = 1;  // WinHTTP never got it
      if (sessionContext) sessionContext->Release();
      WinHttpCloseHandle(c->server);
      c->server = nullptr;
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
  }
  if (!c->server) {
    if (error) *error = GetLastError();
    CloseHttpConnection(c);
    return nullptr;
  }
  return c;
}

// Keeps this library loaded until the process ends: WinHTTP still holds a callback into it.
void KeepLibraryLoaded() {
  static std::once_flag once;
  std::call_once(once, [] {
    HMODULE module = nullptr;
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCWSTR>(&OnStatus), &module))
      DebugOutput(
          "HTTP: a closed connection is still busy in the system's HTTP service; the driver stays "
          "loaded until the process ends");
  });
}

void CloseHttpConnection(HttpConnection* c) {
  if (!c) return;
  CloseRequest(c);
  if (c->server) WinHttpCloseHandle(c->server);
  if (c->session) WinHttpCloseHandle(c->session);
  if (c->watched && c->sessionContext) {
    // WinHTTP calls back until the session handle is closed, which it reports once every handle under
    // it is done. That is prompt unless a step of an abandoned request is still blocked in the network
    // (a camera that accepted and never answered): then the call does not wait it out but makes sure
    // the late callbacks never run into an unloaded library; their contexts outlive them.
    if (WaitForSingleObject(c->sessionContext->closed, kSessionCloseWaitMs) != WAIT_OBJECT_0) KeepLibraryLoaded();
  } else if (c->watched) {
    // Callbacks without a context to report to may still come for the server's handle.
    if (c->session) KeepLibraryLoaded();
  } else if (c->sessionContext) {
    c->sessionContext->Release();  // WinHTTP's reference: it never reports to this context
  }
  if (c->sessionContext) c->sessionContext->Release();
  if (c->cancel) CloseHandle(c->cancel);
  delete c;
}

bool SendHttpRequest(HttpConnection* c, const std::string& verb, const std::string& target, const std::string& headers,
                     const std::vector<uint8_t>& body, uint32_t deadlineMs) {
  if (!c || c->request || body.size() > 0x7FFFFFFF) return false;
  ResetAnswer(c);
  c->broken = true;  // until an answer came
  c->deadline = GetTickCount64() + deadlineMs;
  if (WaitForSingleObject(c->cancel, 0) == WAIT_OBJECT_0) return false;

  auto* context = new (std::nothrow) RequestContext;
  if (!context) return false;
  context->done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  // The target goes out as it is: no escaping of the path or the query.
  c->request = context->done ? WinHttpOpenRequest(c->server, Widen(verb).c_str(), Widen(target).c_str(), nullptr,
                                                  WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                  WINHTTP_FLAG_ESCAPE_DISABLE | WINHTTP_FLAG_ESCAPE_DISABLE_QUERY)
                             : nullptr;
  if (!c->request) {
    if (context->done) CloseHandle(context->done);
    delete context;
    return false;
  }
  c->context = context;
  DWORD_PTR value = reinterpret_cast<DWORD_PTR>(static_cast<CallbackContext*>(context));
  if (!WinHttpSetOption(c->request, WINHTTP_OPTION_CONTEXT_VALUE, &value, sizeof value)) {
    // WinHTTP will not report this handle's closing to the context: the context is ours alone.
    context->references = 1;
    CloseRequest(c);
    return false;
  }
  DWORD features = WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_AUTHENTICATION;
  DWORD autologon = WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH;
  if (!WinHttpSetOption(c->request, WINHTTP_OPTION_DISABLE_FEATURE, &features, sizeof features) ||
      !WinHttpSetOption(c->request, WINHTTP_OPTION_AUTOLOGON_POLICY, &autologon, sizeof autologon)) {
    CloseRequest(c);
    return false;
  }

  context->headers = Widen(headers);
  context->body = body;
  const DWORD size = static_cast<DWORD>(body.size());
  LPVOID data = context->body.empty() ? WINHTTP_NO_REQUEST_DATA : context->body.data();
  if (!WinHttpSendRequest(c->request,
                          context->headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : context->headers.c_str(),
                          static_cast<DWORD>(context->headers.size()), data, size, size, value)) {
    CloseRequest(c);
    return false;
  }
  // Connecting has WinHTTP's own time-out; this only guards against it not ending the step.
  if (!Await(c, Step::Sent, uint64_t{c->timeoutMs} * 2 + 1000)) return false;
  // The answer's header block must come within one network time-out.
  if (!WinHttpReceiveResponse(c->request, nullptr)) {
    CloseRequest(c);
    return false;
  }
  if (!Await(c, Step::Headers, c->timeoutMs)) return false;
  if (!ReadAnswerHead(c, verb)) {
    CloseRequest(c);
    return false;
  }
  c->broken = false;
  return true;
}

uint32_t HttpStatus(const HttpConnection* c) { return c ? c->status : 0; }

std::vector<std::string> HttpHeaderValues(HttpConnection* c, const char* name, size_t maxValues) {
  std::vector<std::string> values;
  if (!c || !c->request || !name) return values;
  const std::wstring wideName = Widen(name);
  DWORD index = 0;
  std::wstring value;
  while (values.size() < maxValues && QueryHeader(c->request, WINHTTP_QUERY_CUSTOM, wideName.c_str(), &index, &value)) {
    values.push_back(Narrow(value));
    if (index == 0) break;  // an index that does not advance has no more to give
  }
  return values;
}

int ReadHttpBody(HttpConnection* c, void* buffer, size_t size) {
  if (!c || c->broken) return -1;
  if (c->ended || size == 0) return 0;
  if (!c->request) {
    c->broken = true;
    return -1;
  }
  // First the count of bytes that have arrived, then a read of no more than those: a read of more may
  // hold the caller until they come (Wine's WinHTTP does), and only a wait of our own can be cancelled.
  RequestContext* context = c->context;
  if (!WinHttpQueryDataAvailable(c->request, nullptr)) {
    c->broken = true;
    CloseRequest(c);
    return -1;
  }
  if (!Await(c, Step::Available, c->timeoutMs)) return -1;
  DWORD got = 0;
  if (const DWORD available = context->bytes; available > 0) {
    // WinHTTP fills the context's buffer, which outlives an abandoned read.
    context->buffer.resize(std::min<size_t>({size, available, 64 * 1024}));
    if (!WinHttpReadData(c->request, context->buffer.data(), static_cast<DWORD>(context->buffer.size()), nullptr)) {
      c->broken = true;
      CloseRequest(c);
      return -1;
    }
    if (!Await(c, Step::Read, c->timeoutMs)) return -1;
    got = std::min<DWORD>(context->bytes, static_cast<DWORD>(context->buffer.size()));
  }
  if (got == 0) {
    // WinHTTP ends a read quietly when the connection closes: only the announced length (where there
    // is one) tells the regular end from a cut.
    if (c->lengthKnown && c->received < c->length) {
      c->broken = true;
      return -1;
    }
    c->ended = true;
    return 0;
  }
  std::copy(context->buffer.begin(), context->buffer.begin() + got, static_cast<uint8_t*>(buffer));
  c->received += got;
  return static_cast<int>(got);
}

void EndHttpRequest(HttpConnection* c, size_t drainBytes, uint32_t drainMs) {
  if (!c) return;
  if (drainBytes > 0 && c->request && !c->ended && !c->broken) {
    c->deadline = std::min(c->deadline, GetTickCount64() + drainMs);
    char scratch[8192];
    size_t total = 0;
    while (total <= drainBytes) {
      const int n = ReadHttpBody(c, scratch, sizeof scratch);
      if (n <= 0) break;
      total += static_cast<size_t>(n);
    }
  }
  // Closing a request whose answer was not read to its end drops the connection with it.
  CloseRequest(c);
  ::ResetEvent(c->cancel);
  ResetAnswer(c);
}

void CancelHttpRequest(HttpConnection* c) {
  if (c) ::SetEvent(c->cancel);
}

}  // namespace norvale::platform
