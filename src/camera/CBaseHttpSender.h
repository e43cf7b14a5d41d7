#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "camera/CHttpAuthenticator.h"
#include "runtime/DeviceInfo.h"

namespace Web {

// One request to the camera's web interface.
struct HttpRequest {
  std::string verb = "GET";
  // The path with its query string exactly as it goes on the request line; never escaped or altered.
  std::string path;
  // Sent only when not empty.
  std::vector<uint8_t> body;
};

// Sends one request at a time to one device over a kept-alive connection and reads the answer.
// Calling order for one exchange: SendRequest; then, if wanted, ReadResponse (or a loop of
// GetAvailableSize and ReadChunk); then CloseRequest. A new SendRequest closes the previous request.
// The slot order of the operations is fixed.
class CBaseHttpSender {
 public:
  // The longest answer ReadResponse collects; beyond it (at the next chunk boundary) the rest is dropped.
  static constexpr uint32_t kMaxResponseSize = 0x100000;
  static constexpr uint32_t kChunkSize = 8192;
  // A request, from sending to the end of its answer, lasts at most this many network time-outs, however
  // steadily the camera keeps it alive.
  static constexpr uint32_t kDeadlineFactor = 3;
  // At most this many exchanges per request: the first, the answer to a challenge, and one more
  // when the camera's Digest nonce expired in between.
  static constexpr int kMaxAttempts = 3;
  // At most this many WWW-Authenticate values of one answer are kept.
  static constexpr size_t kMaxChallenges = 16;
  // The User-Agent of every request.
  static constexpr const char* kUserAgent = "Norvale::WinInetSender";

  explicit CBaseHttpSender(const norvale::DEVICE_INFO& device);
  virtual ~CBaseHttpSender();  // slot 0
  CBaseHttpSender(const CBaseHttpSender&) = delete;
  CBaseHttpSender& operator=(const CBaseHttpSender&) = delete;

  // False when the request could not be sent or no answer arrived.
  virtual bool SendRequest(const HttpRequest& request) = 0;  // slot 1
  // Safe from another thread: a transfer in progress on the owner's thread is abandoned.
  virtual void CloseRequest() = 0;  // slot 2
  // Body bytes ready to be read; waits up to the network time-out for the next data and answers 0
  // at the end of the body.
  virtual uint32_t GetAvailableSize() = 0;  // slot 3
  // Empties body, then reads the answer in chunks up to about kMaxResponseSize; the byte count.
  virtual uint32_t ReadResponse(std::vector<uint8_t>& body);  // slot 4
  // Appends up to maxBytes body bytes, waiting for them until the body ends or the network
  // time-out passes; the number appended.
  virtual uint32_t ReadChunk(std::vector<uint8_t>& body, uint32_t maxBytes, bool clearFirst) = 0;  // slot 5

  // HTTP status of the last answer; 0 before one arrived and after a failed send.
  uint32_t GetStatusCode() const { return statusCode_.load(); }
  const norvale::DEVICE_INFO& GetDeviceInfo() const { return device_; }
  // True when the body of the last answer ended early: the connection broke, the camera fell silent,
  // the request ran out of time or was closed before the announced body was complete. What was read
  // is then only a part of the answer. Cleared by SendRequest.
  bool IsBodyIncomplete() const { return bodyIncomplete_.load(); }

  // Safe from another thread: abandons the request in progress as CloseRequest does, and every request
  // fails at once from now on until Reopen. A stop that comes just before the owner's thread starts its
  // next request therefore still ends it, instead of that request waiting its full deadline on a camera
  // that does not answer.
  void Abandon() {
    abandoned_ = true;
    CloseRequest();
  }
  // The owner starts a new use after Abandon.
  void Reopen() { abandoned_ = false; }

 protected:
  // One exchange of the current request with that Authorization value (none when empty): the final
  // status of the answer (0 when none came) and the answer's WWW-Authenticate values.
  using Exchange = std::function<uint32_t(const std::string& authorization, std::vector<std::string>& challenges)>;

  // The device's network time-out; one that is not positive would mean no wait at all, or none without
  // end: the default then.
  uint32_t TimeoutMs() const;
  // How long a request may last from its sending to the end of its answer.
  uint32_t DeadlineMs() const;
  // Verb and request target go on the request line as they are: false for what would break its framing.
  static bool IsRequestToken(const std::string& text);
  // An interim (1xx) status is never the outcome of a request: none at all.
  static uint32_t FinalStatus(uint32_t status) { return status / 100 == 1 ? 0u : status; }
  // Runs exchange until the request has its outcome: a login challenge is answered once with the
  // device's credentials, and a Digest answer whose nonce has meanwhile expired is repeated with the new
  // one. The final status, 0 when no answer came.
  uint32_t ExchangeWithLogin(const std::string& verb, const std::string& target, const Exchange& exchange);

  norvale::DEVICE_INFO device_;
  CHttpAuthenticator auth_;
  std::atomic<uint32_t> statusCode_{0};
  std::atomic<bool> bodyIncomplete_{false};
  // Set by Abandon, cleared only by Reopen.
  std::atomic<bool> abandoned_{false};
};

}  // namespace Web
