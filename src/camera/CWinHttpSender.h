#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "camera/CBaseHttpSender.h"
#include "platform/HttpConnection.h"
#include "runtime/RecursiveLock.h"

namespace Web {

// The HTTP sender on the system's HTTP service (WinHTTP). One connection per sender is kept alive
// across requests. Connecting is bounded by the device's network time-out, and so is every wait for
// the answer; the whole exchange lasts at most kDeadlineFactor network time-outs. Basic and Digest
// challenges are answered with the device's user name and password by our own Authorization header
// (the service's own login is off); a rejected login ends as status 401.
class CWinHttpSender : public CBaseHttpSender {
 public:
  explicit CWinHttpSender(const norvale::DEVICE_INFO& device);
  ~CWinHttpSender() override;

  bool SendRequest(const HttpRequest& request) override;
  void CloseRequest() override;
  uint32_t GetAvailableSize() override;
  uint32_t ReadChunk(std::vector<uint8_t>& body, uint32_t maxBytes, bool clearFirst) override;

  // False when the HTTP service could not be set up; every request then fails.
  bool IsInitialized() const { return connection_ != nullptr; }

 private:
  struct ConnectionDeleter {
    void operator()(norvale::platform::HttpConnection* connection) const;
  };

  // Sends the current request once with that Authorization value (none when empty); the final status,
  // 0 when none came.
  uint32_t Transfer(const std::string& authorization, std::vector<std::string>& challenges);
  // Ends the current request; with drain, a short unread rest of the answer is read away first so that
  // the connection stays usable.
  void CloseLocked(bool drain);
  // Reads the next body bytes into the empty buffer, waiting for them; false at the end of the body
  // (marking the answer incomplete when it broke off).
  bool Fill();
  size_t Unread() const { return buffer_.size() - bufferPos_; }

  norvale::RecursiveLock lock_;
  // Set by CloseRequest on another thread to make a blocked request give up.
  std::atomic<bool> cancel_{false};
  std::unique_ptr<norvale::platform::HttpConnection, ConnectionDeleter> connection_;

  // The current request.
  HttpRequest request_;
  uint32_t requestStart_ = 0;    // tick count when SendRequest began; the deadline counts from here
  bool open_ = false;            // a request is sent and not yet ended
  bool bodyEnded_ = false;       // its body has been read to the end or broke off
  std::vector<uint8_t> buffer_;  // body bytes not yet read by the caller, from bufferPos_
  size_t bufferPos_ = 0;
};

}  // namespace Web
