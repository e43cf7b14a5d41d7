#include "streaming/CBaseRTSPClient.h"

#include <algorithm>
#include <cstdarg>
#include <vector>

#include "platform/Guard.h"
#include "platform/Platform.h"
#include "runtime/DigestAuth.h"
#include "runtime/StringUtils.h"
#include "streaming/CRTSPStreamParser.h"
#include "streaming/CSDPResponseParser.h"

namespace norvale {

namespace {
constexpr uint32_t kConnectPoll = 100;  // ms per wait for a connect in progress
constexpr uint32_t kWaitSlice = 100;    // ms: how often a waiting read looks at the stop event
constexpr size_t kFirstRead = 256;
constexpr size_t kHeaderRead = 512;
constexpr size_t kInterleavedRead = 8192;
constexpr uint32_t kInterleavedWait = 200;  // ms per read of the interleaved loop
constexpr int kReceiveFailed = -1;
constexpr int kReceiveTimeout = -2;  // or stopped
constexpr const char* kVersion = "RTSP/1.0\r\n";
constexpr const char* kUserAgent = "User-Agent: Norvale\r\n";

// The Content-Length of a lower-cased header block: its digits, 0 when missing or not all digits.
// Saturates instead of wrapping, so that a huge value stays huge.
uint64_t ContentLength(const std::string& header) {
  const std::string value = FindParamValue("content-length", ": ", header, "\r\n");
  uint64_t length = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return 0;
    length = std::min<uint64_t>(length * 10 + static_cast<uint64_t>(c - '0'), UINT64_C(1) << 40);
  }
  return length;
}

// Milliseconds from one tick count to another, across the 32-bit wrap.
uint32_t TicksSince(uint32_t start) { return platform::TickCount() - start; }
}  // namespace

CBaseRTSPClient::CBaseRTSPClient(IDriver* driver) : CBaseThread(driver) {}

CBaseRTSPClient::~CBaseRTSPClient() { Stop(); }

uint32_t CBaseRTSPClient::StopLimit() const {
  return 2 * std::max(settings_.receiveTimeout, settings_.sendTimeout) + 1000;
}

bool CBaseRTSPClient::Start(const RTSPConnectionSettings& settings, IRTSPClientUser* user, RTPMode mode) {
  // The thread of an earlier session that could not be stopped still uses all of this.
  if (IsRunning() && !Stop()) return false;
  parser_.Reset();
  settings_ = settings;
  mode_ = mode;
  user_ = user;
  paused_ = false;
  bool ok = user_ != nullptr && Connect();
  if (ok) {
    const std::string device = Driver() ? Driver()->GetDeviceName() : std::string();
    ok = StartThread(FormatString("RTSP Client Thread (%s)", device.c_str()));
  }
  if (!ok) Stop();
  return ok;
}

bool CBaseRTSPClient::Stop() {
  // A thread that did not end still reads the connection and calls the user when it comes back.
  if (!StopThread(StopLimit())) return false;
  CloseSocket();
  lastKeepAlive_ = 0;
  user_ = nullptr;
  return true;
}

void CBaseRTSPClient::WaitForSessionEnd() {
  if (IsCurrentThread()) return;
  if (IsRunning()) {
    if (Driver())
      Driver()->Log(LogError, "%s: Waiting for the RTSP client thread for device %s to end", ZEPHRIN_FUNCTION,
                    Driver()->GetDeviceName().c_str());
    JoinThread(platform::kInfinite);
  }
  Stop();
}

void CBaseRTSPClient::CloseSocket() {
  if (socket_ != platform::kInvalidSocket) {
    platform::CloseSocket(socket_);
    socket_ = platform::kInvalidSocket;
  }
  received_.clear();
}

bool CBaseRTSPClient::Connect() {
  CloseSocket();
  const platform::SocketHandle s = platform::CreateTcpSocket();
  if (s == platform::kInvalidSocket) return false;
  auto fail = [&](const char* why) {
    platform::CloseSocket(s);
    LogQuiet("Connect", "cannot connect to %s:%u (%s)", settings_.host.c_str(),
             static_cast<unsigned>(settings_.serverPort), why);
    return false;
  };
  if (!platform::SetReceiveBufferSize(s,
                                      static_cast<int>(std::min<uint32_t>(settings_.receiveBufferSize, 0x7FFFFFFF))) ||
      !platform::SetReceiveTimeout(s, settings_.receiveTimeout) || !platform::SetSendTimeout(s, settings_.sendTimeout))
    return fail("socket options");
  const uint32_t address = platform::ResolveIPv4(settings_.host.c_str());
  if (address == 0) return fail("host name not resolved");
  if (!platform::SetBlocking(s, false)) return fail("socket mode");

  switch (platform::StartConnect(s, address, settings_.serverPort)) {
    case platform::ConnectStart::Connected:
      break;
    case platform::ConnectStart::InProgress: {
      const uint32_t polls = settings_.connectTimeout / kConnectPoll;
      bool connected = false;
      // Below 100 ms one poll is still made, but only a connect that completed at once counts.
      for (uint32_t i = 0; i < std::max<uint32_t>(polls, 1) && !connected; ++i) {
        const platform::SocketWait wait = platform::WaitConnected(s, kConnectPoll);
        if (wait == platform::SocketWait::Ready)
          connected = polls > 0;
        else if (wait == platform::SocketWait::Invalid || wait == platform::SocketWait::Fatal)
          return fail("refused");
        if (polls == 0) break;
      }
      if (!connected) return fail("time-out");
      break;
    }
    case platform::ConnectStart::Failed:
      return fail("connect failed");
  }
  if (!platform::SetBlocking(s, true)) return fail("socket mode");
  socket_ = s;
  return true;
}

// ---- request texts ---------------------------------------------------------------------------------

std::string CBaseRTSPClient::GetBaseURL() const {
  const std::string& base = parser_.ContentBase();
  if (base.find("rtsp://") != std::string::npos) return base;
  const size_t pathStart = settings_.path.find_first_not_of('/');
  const std::string path = pathStart == std::string::npos ? std::string() : settings_.path.substr(pathStart);
  return FormatString("rtsp://%s:%u/", settings_.host.c_str(), static_cast<unsigned>(settings_.serverPort)) + path;
}

std::string CBaseRTSPClient::GetSetupURL() const {
  const SDPMedia* media = parser_.Description().Media(settings_.mediaSlot);
  const std::string control = media ? media->control : std::string();
  if (control.find("://") != std::string::npos) return control;
  std::string url = GetBaseURL();
  if (url.empty() || control.empty()) return url;
  if (url.back() == '/') url.pop_back();
  if (control.front() != '/') url += '/';
  return url + control;
}

std::string CBaseRTSPClient::BuildTransport() const {
  // Both TCP modes ask for RTP inside the RTSP connection on channels 0 (RTP) and 1 (RTCP).
  if (mode_ != RTPoverUDP) return "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n";
  const SDPMedia* media = parser_.Description().Media(settings_.mediaSlot);
  const uint16_t mediaPort = media ? media->port : 0;
  std::string protocol = media ? media->protocol : std::string();
  if (protocol.empty()) protocol = "RTP/AVP/UDP";
  const unsigned rtp = mediaPort != 0 ? mediaPort : settings_.clientRTPPort;
  const unsigned rtcp = mediaPort != 0 ? mediaPort + 1u : settings_.clientRTCPPort;
  return "Transport: " + protocol + (mediaPort != 0 ? ";multicast" : ";unicast") +
         FormatString(";client_port=%u-%u", rtp, rtcp) + "\r\n";
}

std::string CBaseRTSPClient::BuildAuthorizationHeader(RTSPMethod method, const std::string& url) const {
  switch (settings_.authScheme) {
    case AuthScheme::Basic: {
      std::string credentials;
      if (!BasicCredentials(settings_.user, settings_.password, &credentials)) return {};
      return FormatString("Authorization: Basic %s\r\n", credentials.c_str());
    }
    case AuthScheme::Digest: {
      const std::string uri = url.empty() ? GetBaseURL() : url;
      const std::string methodName = RTSPMethodName(method);
      if (parser_.ChallengeScheme() != AuthScheme::Digest || parser_.Realm().empty() || parser_.Nonce().empty() ||
          settings_.user.empty() || settings_.password.empty() || uri.empty() || methodName.empty())
        return {};
      DigestInput input;
      input.user = settings_.user;
      input.realm = parser_.Realm();
      input.password = settings_.password;
      input.nonce = parser_.Nonce();
      input.method = methodName;
      input.uri = uri;
      const std::string response = DigestResponse(input);
      return FormatString(
          "Authorization: Digest username=\"%s\", realm=\"%s\", nonce=\"%s\", uri=\"%s\", response=\"%s\"\r\n",
          settings_.user.c_str(), parser_.Realm().c_str(), parser_.Nonce().c_str(), uri.c_str(), response.c_str());
    }
    default:
      return {};
  }
}

std::string CBaseRTSPClient::BuildRequest(RTSPMethod method) {
  const char* name = RTSPMethodName(method);
  if (!*name) return {};
  const std::string base = GetBaseURL();
  const std::string cseq = FormatString("CSeq: %u\r\n", parser_.NextCSeq());
  const std::string authorization = BuildAuthorizationHeader(method, base);
  const std::string session =
      parser_.SessionId().empty() ? std::string() : FormatString("Session: %s\r\n", parser_.SessionId().c_str());
  const std::string range =
      "Range: " + (settings_.range.empty() ? std::string("npt=0.000-") : settings_.range) + "\r\n";
  const std::string head = std::string(kVersion) + cseq + authorization + kUserAgent;
  switch (method) {
    case RTSPMethod::Describe:
      return "DESCRIBE " + base + " " + head + "Accept: application/sdp\r\n" + "\r\n";
    case RTSPMethod::Setup:
      return "SETUP " + GetSetupURL() + " " + head + BuildTransport() + "\r\n";
    case RTSPMethod::Play:
      return "PLAY " + base + " " + head + session + range + "\r\n";
    case RTSPMethod::Teardown:
      return "TEARDOWN " + base + " " + head + session + "\r\n";
    case RTSPMethod::Options:
      return "OPTIONS " + base + " " + head + session + "\r\n";
    case RTSPMethod::Pause:
      return "PAUSE " + base + " " + head + session + range + "\r\n";
    case RTSPMethod::GetParameter:
      return "GET_PARAMETER " + base + " " + head + session + "\r\n";
    default:
      return {};
  }
}

// ---- exchanges ---------------------------------------------------------------------------------------

bool CBaseRTSPClient::SendText(const std::string& text) {
  if (socket_ == platform::kInvalidSocket || text.empty()) return false;
  return platform::Send(socket_, text.data(), text.size()) == static_cast<int>(text.size());
}

int CBaseRTSPClient::ReceiveSome(uint8_t* buffer, size_t size, uint32_t ms, bool honourStop) {
  const uint32_t start = platform::TickCount();
  for (;;) {
    if (honourStop && StopRequested()) return kReceiveTimeout;
    const uint32_t elapsed = TicksSince(start);
    if (elapsed >= ms) return kReceiveTimeout;
    switch (platform::WaitReadable(socket_, std::min(kWaitSlice, ms - elapsed))) {
      case platform::SocketWait::Ready: {
        const int n = platform::Receive(socket_, buffer, size);
        return n < 0 ? kReceiveFailed : n;
      }
      case platform::SocketWait::Timeout:
      case platform::SocketWait::Retry:
        break;
      case platform::SocketWait::Fatal:
      case platform::SocketWait::Invalid:
        return kReceiveFailed;
    }
  }
}

size_t CBaseRTSPClient::ReplyReader::Want(size_t pending) const {
  switch (state) {
    case ReplyState::Header:
    case ReplyState::Body:
      return expected > pending ? std::min(expected - pending, kHeaderRead) : kHeaderRead;
    default:
      return kHeaderRead;
  }
}

bool CBaseRTSPClient::ReplyReader::Step(std::string& pending) {
  switch (state) {
    case ReplyState::Start:
      // Interleaved frames that still arrive before the reply are not part of it.
      if (pending.empty()) return false;
      if (static_cast<uint8_t>(pending[0]) != kInterleavedSync) {
        state = ReplyState::Header;
        return true;
      }
      if (pending.size() < 2) return false;
      if (!IsInterleavedChannel(static_cast<uint8_t>(pending[1]))) {
        pending.erase(0, 1);  // a stray '$', not a frame
        return true;
      }
      if (pending.size() < kInterleavedHeaderSize) return false;
      skip =
          kInterleavedHeaderSize + (size_t{static_cast<uint8_t>(pending[2])} << 8 | static_cast<uint8_t>(pending[3]));
      state = ReplyState::Frame;
      return true;
    case ReplyState::Frame: {
      const size_t take = std::min(skip, pending.size());
      pending.erase(0, take);
      skip -= take;
      if (skip != 0) return false;
      state = ReplyState::Start;
      return true;
    }
    case ReplyState::Header: {
      const size_t end = pending.find("\r\n\r\n");
      if (end == std::string::npos) {
        // A header block longer than the first reads is read on to its end.
        expected = pending.size() + kHeaderRead;
        return false;
      }
      const uint64_t length = ContentLength(ToLower(pending.substr(0, end + 2)));
      const uint64_t total = end + 4 + length;
      if (total > kMaxResponseSize) {
        announced = length;
        state = ReplyState::TooLong;
        return false;
      }
      expected = static_cast<size_t>(total);
      state = ReplyState::Body;
      return true;
    }
    case ReplyState::Body:
      if (pending.size() < expected) return false;
      state = ReplyState::Done;
      return false;
    case ReplyState::Done:
    case ReplyState::TooLong:
      return false;
  }
  return false;
}

bool CBaseRTSPClient::ReadResponse(RTSPMethod method, std::string* text) {
  // TEARDOWN is read even while stopping; every other reply gives way to a stop.
  const bool honourStop = method != RTSPMethod::Teardown;
  const uint32_t start = platform::TickCount();
  std::vector<uint8_t> buffer(kHeaderRead);
  ReplyReader reader;
  size_t consumed = 0;  // bytes taken from the socket for this response, skipped frames included
  text->clear();
  for (;;) {
    while (reader.Step(received_)) {
    }
    if (reader.state == ReplyState::TooLong) {
      LogFailure("SendRequest", "%s response announces %llu bytes of content", RTSPMethodName(method),
                 static_cast<unsigned long long>(reader.announced));
      received_.clear();
      return false;
    }
    if (reader.state == ReplyState::Done) {
      // What follows the reply (frames of the interleaved stream) stays for the next reader.
      text->assign(received_, 0, reader.expected);
      received_.erase(0, reader.expected);
      return true;
    }
    // The whole response must arrive within the receive time-out.
    const uint32_t elapsed = TicksSince(start);
    if (elapsed >= settings_.receiveTimeout) break;
    const size_t want = consumed == 0 ? kFirstRead : reader.Want(received_.size());
    const int n = ReceiveSome(buffer.data(), want, settings_.receiveTimeout - elapsed, honourStop);
    if (n <= 0) break;
    consumed += static_cast<size_t>(n);
    if (consumed > kMaxResponseSize) {
      LogFailure("SendRequest", "%s response exceeds %zu bytes", RTSPMethodName(method), kMaxResponseSize);
      received_.clear();
      return false;
    }
    received_.append(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(n));
  }
  // The reading ended before the reply was complete: what arrived of it is parsed as it is.
  if (reader.state == ReplyState::Header || reader.state == ReplyState::Body) text->swap(received_);
  received_.clear();
  return !text->empty();
}

bool CBaseRTSPClient::SendRequest(RTSPMethod method) {
  if (socket_ == platform::kInvalidSocket) return false;
  if (!SendText(BuildRequest(method))) return false;
  std::string text;
  if (!ReadResponse(method, &text)) return false;
  return parser_.ParseResponse(text, method);
}

bool CBaseRTSPClient::ExecuteRequest(RTSPMethod method) {
  if (StopRequested() && method != RTSPMethod::Teardown) return false;
  // The nonce this request's Digest answer is computed with, if it carries one.
  const bool digestSent =
      settings_.authScheme == AuthScheme::Digest && !BuildAuthorizationHeader(method, std::string()).empty();
  const std::string nonce = digestSent ? parser_.Nonce() : std::string();
  bool ok = SendRequest(method);
  // A 401 gets one more attempt per request: with the scheme it names instead of the one in use, or
  // with the new nonce of a Digest challenge that only renewed the nonce (stale=true, or another
  // nonce than the one answered).
  if (ok && parser_.Status() == 401) {
    if (parser_.ChallengeScheme() != settings_.authScheme) {
      settings_.authScheme = parser_.ChallengeScheme();
      ok = SendRequest(method);
    } else if (digestSent && parser_.ChallengeScheme() == AuthScheme::Digest &&
               (parser_.NonceStale() || parser_.Nonce() != nonce)) {
      ok = SendRequest(method);
    }
  }
  ok = ok && parser_.Status() / 100 == 2;
  if (!ok && (method == RTSPMethod::Describe || method == RTSPMethod::Setup) && !StopRequested()) {
    const std::string url = ForLog(method == RTSPMethod::Setup ? GetSetupURL() : GetBaseURL());
    // No status: the connection broke or the camera did not answer, a socket error like any other.
    if (parser_.Status() == 0)
      LogQuiet("ExecuteRequest", "%s %s failed (status %u)", RTSPMethodName(method), url.c_str(), parser_.Status());
    else
      LogFailure("ExecuteRequest", "%s %s failed (status %u)", RTSPMethodName(method), url.c_str(), parser_.Status());
  }
  return ok;
}

// ---- keep-alive ----------------------------------------------------------------------------------------

bool CBaseRTSPClient::KeepAliveDue() {
  const int64_t seconds = parser_.SessionTimeout() > 0 ? parser_.SessionTimeout() : settings_.keepAlivePeriod;
  const uint64_t periodMs = static_cast<uint64_t>(seconds) * 1000;
  const uint64_t now = platform::FileTimeNow();
  const uint64_t elapsedMs = now >= lastKeepAlive_ ? (now - lastKeepAlive_) / 10000 : 0;
  return elapsedMs > periodMs / 2;
}

RTSPMethod CBaseRTSPClient::KeepAliveMethod() const {
  return parser_.OffersGetParameter() ? RTSPMethod::GetParameter : RTSPMethod::Options;
}

void CBaseRTSPClient::KeepAlive() {
  if (!KeepAliveDue()) return;
  const bool offered = parser_.OffersGetParameter();
  ExecuteRequest(KeepAliveMethod());
  // The OPTIONS answer just said that the server takes GET_PARAMETER, perhaps as its only refresh
  // of the session: one goes out at once instead of half a session time-out later.
  if (!offered && parser_.OffersGetParameter()) ExecuteRequest(RTSPMethod::GetParameter);
  lastKeepAlive_ = platform::FileTimeNow();
}

void CBaseRTSPClient::KeepAliveInStream() {
  if (!KeepAliveDue() || StopRequested()) return;
  SendText(BuildRequest(KeepAliveMethod()));
  lastKeepAlive_ = platform::FileTimeNow();
}

bool CBaseRTSPClient::ReadInterleaved() {
  CRTSPStreamParser stream(user_);
  // Frames that came in behind the PLAY reply go first.
  if (!received_.empty()) {
    stream.Feed(reinterpret_cast<const uint8_t*>(received_.data()), received_.size());
    received_.clear();
  }
  std::vector<uint8_t> buffer(kInterleavedRead);
  size_t want = kInterleavedRead;
  uint32_t lastCheck = platform::TickCount();
  uint32_t lastData = lastCheck;
  while (!StopRequested()) {
    // The keep-alive is checked as often as in the event loop, between reads.
    if (TicksSince(lastCheck) >= kEventWait) {
      KeepAliveInStream();
      lastCheck = platform::TickCount();
    }
    if (TicksSince(lastData) >= settings_.receiveTimeout) return true;  // the receive timed out
    const int n = ReceiveSome(buffer.data(), want, kInterleavedWait, true);
    if (n == 0 || n == kReceiveFailed) return true;  // closed or failed
    if (n == kReceiveTimeout) continue;
    lastData = platform::TickCount();
    stream.Feed(buffer.data(), static_cast<size_t>(n));
    want = static_cast<size_t>(n) < kInterleavedRead / 2 ? kInterleavedRead : static_cast<size_t>(n);
  }
  return false;
}

// ---- the session thread --------------------------------------------------------------------------------

bool CBaseRTSPClient::CallOnDescribe() {
  if (!user_) return false;
  try {
    return user_->OnDescribe(parser_.Description());
  }
  ZEPHRIN_RETHROW_CANCELLATION catch (...) { return false; }
}

void CBaseRTSPClient::CallOnStreamSource() {
  const uint32_t source = parser_.TransportSource();
  if (!user_ || source == 0) return;
  try {
    user_->OnStreamSource(source);
  }
  ZEPHRIN_RETHROW_CANCELLATION catch (...) {}
}

bool CBaseRTSPClient::OffersWantedEncoding() {
  const SDPDescription& description = parser_.Description();
  const SDPMedia* media = description.Media(settings_.mediaSlot);
  const bool present = media && media->present;
  if (settings_.encoding.empty() || (!present && description.offered.empty())) return true;
  if (present) {
    const std::string name = CSDPResponseParser::EncodingName(*media);
    if (name.empty() || ToLower(name) == ToLower(settings_.encoding)) return true;
  }
  LogFailure("Run", "%s offers %s; none is %s", ForLog(GetBaseURL()).c_str(),
             ForLog(Join(description.offered, ", ")).c_str(), settings_.encoding.c_str());
  return false;
}

void CBaseRTSPClient::CallOnClientStopped() {
  if (!user_) return;
  try {
    user_->OnClientStopped();
  }
  ZEPHRIN_RETHROW_CANCELLATION catch (...) {}
}

void CBaseRTSPClient::ThreadBody() {
  try {
    Run();
  }
  ZEPHRIN_RETHROW_CANCELLATION catch (...) {
    // Nothing leaves the session thread; the user still hears that the client stopped.
  }
  CallOnClientStopped();
}

void CBaseRTSPClient::Run() {
  pauseEvent_.Reset();
  playEvent_.Reset();
  if (StopRequested() || !ExecuteRequest(RTSPMethod::Describe)) return;
  // A description without the media asked for ends the session as a failed DESCRIBE does.
  if (!OffersWantedEncoding()) return;
  if (CallOnDescribe() && !StopRequested() && ExecuteRequest(RTSPMethod::Setup)) {
    failures_.Succeed();  // a session that gets this far ends a run of failures
    CallOnStreamSource();
    if (!paused_) playEvent_.Set();
    CEvent* events[] = {&StopEvent(), &pauseEvent_, &playEvent_};
    for (bool running = true; running;) {
      switch (CEvent::WaitAny(events, 3, kEventWait)) {
        case 0:
          running = false;
          break;
        case 1:
          if (ExecuteRequest(RTSPMethod::Pause)) paused_ = true;
          break;
        case 2:
          paused_ = false;
          // In the interleaved modes the stream runs in this connection until it ends or stop.
          if (ExecuteRequest(RTSPMethod::Play) && mode_ != RTPoverUDP) ReadInterleaved();
          break;
        default:
          KeepAlive();
          break;
      }
    }
  }
  ExecuteRequest(RTSPMethod::Teardown);
}

void CBaseRTSPClient::LogV(uint8_t level, const char* method, const char* format, va_list args) {
  std::string text;
  FormatStringV(text, format, args);
  const std::string prefix = FormatString("norvale::CBaseRTSPClient::%s", method);
  Driver()->Log(level, "%s: %s", prefix.c_str(), text.c_str());
}

void CBaseRTSPClient::LogFailure(const char* method, const char* format, ...) {
  if (!Driver() || !failures_.Fail()) return;
  va_list args;
  va_start(args, format);
  LogV(LogWarning, method, format, args);
  va_end(args);
}

void CBaseRTSPClient::LogQuiet(const char* method, const char* format, ...) {
  if (!Driver()) return;
  va_list args;
  va_start(args, format);
  LogV(LogDebug, method, format, args);
  va_end(args);
}

}  // namespace norvale
