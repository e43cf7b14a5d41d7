#pragma once
#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <string>

#include "platform/Socket.h"
#include "runtime/CBaseThread.h"
#include "runtime/CEvent.h"
#include "runtime/CFailureLatch.h"
#include "runtime/RTPMode.h"
#include "streaming/CRTSPResponseParser.h"
#include "streaming/IRTSPClientUser.h"
#include "streaming/RTSPConnectionSettings.h"

namespace norvale {

// One RTSP session with one camera over one TCP connection, on a thread of its own: DESCRIBE, the
// description to the user, SETUP of one media, PLAY, keep-alives (OPTIONS, or GET_PARAMETER where the
// server offers it), TEARDOWN. In the two TCP
// modes the RTP packets arrive interleaved in the same connection and go to the user from here.
class CBaseRTSPClient : public CBaseThread {
 public:
  explicit CBaseRTSPClient(IDriver* driver = nullptr);
  ~CBaseRTSPClient() override;

  // Connects and starts the session thread; false (after Stop) when the connection or thread fails,
  // or while the thread of an earlier session still runs.
  bool Start(const RTSPConnectionSettings& settings, IRTSPClientUser* user, RTPMode mode);
  // Ends the session; returns within 2 x max(receive, send time-out) + 1000 ms (plus the grace time
  // of a termination). False when the session thread did not end (it is held in its user, in the
  // interleaved modes the host's frame sink): its connection and user are then left to it.
  bool Stop();
  // Waits without limit for a session thread that outlived Stop, then closes what it left; for an
  // owner about to free the user that thread may still be inside. At once on that thread itself.
  void WaitForSessionEnd();

  virtual std::string BuildRequest(RTSPMethod method);
  // The read loop of the interleaved modes: true when the connection closed or failed, false on stop.
  virtual bool ReadInterleaved();

  // One complete Authorization line for the scheme in use, or empty.
  std::string BuildAuthorizationHeader(RTSPMethod method, const std::string& url) const;
  std::string GetBaseURL() const;
  std::string GetSetupURL() const;
  std::string BuildTransport() const;

  const CRTSPResponseParser& Parser() const { return parser_; }
  AuthScheme CurrentAuthScheme() const { return settings_.authScheme; }

  // Most bytes one response may take: a longer one fails its request.
  static constexpr size_t kMaxResponseSize = 1 << 20;
  static constexpr uint32_t kEventWait = 2000;  // ms between keep-alive checks

 protected:
  void ThreadBody() override;
  bool ExecuteRequest(RTSPMethod method);
  bool SendRequest(RTSPMethod method);

 private:
  bool Connect();
  void CloseSocket();
  void Run();
  // Receives up to size bytes within ms (the stop event cuts the wait short when honourStop):
  // the count, 0 when the peer closed, -1 on failure, time-out or stop.
  int ReceiveSome(uint8_t* buffer, size_t size, uint32_t ms, bool honourStop);
  // Reads one reply, skipping the interleaved frames in front of it; bytes behind it stay in received_.
  bool ReadResponse(RTSPMethod method, std::string* text);

  // Where the reading of one reply stands: frames are skipped until the reply starts, its header
  // block is read to the empty line, then its body to the announced length.
  enum class ReplyState { Start, Frame, Header, Body, Done, TooLong };
  struct ReplyReader {
    ReplyState state = ReplyState::Start;
    size_t skip = 0;         // bytes of an interleaved frame still to be skipped
    size_t expected = 0;     // length of the reply text, once its header block ended
    uint64_t announced = 0;  // the Content-Length of a reply that is too long
    // Takes what pending holds as far as this state goes; true when the state moved on.
    bool Step(std::string& pending);
    // How many bytes the next receive asks for.
    size_t Want(size_t pending) const;
  };
  bool KeepAliveDue();
  // GET_PARAMETER once an answer's Public header offered it, else OPTIONS.
  RTSPMethod KeepAliveMethod() const;
  void KeepAlive();
  // Keep-alive while the interleaved stream runs: the request is sent, its reply arrives in the stream.
  void KeepAliveInStream();
  bool SendText(const std::string& text);
  bool CallOnDescribe();
  void CallOnStreamSource();
  // False, with one line naming what the camera offers, when the description's media of the
  // chosen slot has another encoding than the one asked for, or the description has none of them.
  bool OffersWantedEncoding();
  void CallOnClientStopped();
  // A failure the camera answered (an error status, an oversized answer): logged as a warning once per
  // run of failed sessions. LogQuiet is for a camera that is away (no connection, no answer): its lines
  // are debug lines only, which never reach the host, however long the camera stays away.
  void LogFailure(const char* method, const char* format, ...) NORVALE_PRINTF(3, 4);
  void LogQuiet(const char* method, const char* format, ...) NORVALE_PRINTF(3, 4);
  void LogV(uint8_t level, const char* method, const char* format, va_list args);
  uint32_t StopLimit() const;

  CRTSPResponseParser parser_;
  platform::SocketHandle socket_ = platform::kInvalidSocket;
  uint64_t lastKeepAlive_ = 0;  // 100-ns units of UTC system time
  IRTSPClientUser* user_ = nullptr;
  RTSPConnectionSettings settings_;
  RTPMode mode_ = RTPoverUDP;
  std::string received_;  // bytes read from the connection that no reader has taken yet
  CEvent pauseEvent_;
  CEvent playEvent_;
  bool paused_ = false;
  CFailureLatch failures_;  // one log line per run of failed sessions
};

}  // namespace norvale
