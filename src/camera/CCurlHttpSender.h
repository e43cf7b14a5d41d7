#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "camera/CBaseHttpSender.h"
#include "runtime/RecursiveLock.h"

struct curl_slist;

namespace Web {

// The HTTP sender on libcurl. One easy handle (and its own connection cache of one) per sender keeps
// one connection to the device alive across requests. Connecting is bounded by the device's
// network time-out, and so is every wait for the answer: a request fails when nothing arrives for
// that long, and also when the whole exchange outlasts kDeadlineFactor network time-outs (a camera
// that trickles a byte, a header line or an interim answer now and then cannot hold it longer).
// Basic and Digest challenges are answered with the device's user name and password (the Digest
// answer names the request target exactly as it goes on the request line); a rejected login ends as
// status 401.
class CCurlHttpSender : public CBaseHttpSender {
 public:
  explicit CCurlHttpSender(const norvale::DEVICE_INFO& device);
  ~CCurlHttpSender() override;

  bool SendRequest(const HttpRequest& request) override;
  void CloseRequest() override;
  uint32_t GetAvailableSize() override;
  uint32_t ReadChunk(std::vector<uint8_t>& body, uint32_t maxBytes, bool clearFirst) override;

  // False when the HTTP library could not be set up; every request then fails.
  bool IsInitialized() const { return easy_ != nullptr; }

 private:
  struct EasyDeleter {
    void operator()(void* easy) const;
  };
  struct MultiDeleter {
    void operator()(void* multi) const;
  };
  struct HeaderListDeleter {
    void operator()(curl_slist* list) const;
  };

  // One answer of a transfer; an interim answer or a challenge is followed by another.
  struct Answer {
    uint32_t status = 0;  // of the status line
    bool headerBlockEnded = false;
    bool headersFinal = false;  // the header block of the answer the caller gets is complete
    bool bodyStarted = false;
    std::vector<std::string> challenges;  // WWW-Authenticate values
    std::vector<uint8_t> buffer;          // body bytes not yet read by the caller, from bufferPos
    size_t bufferPos = 0;
  };
  // Everything one transfer changes; cleared as a whole when the transfer is closed.
  struct TransferState {
    bool open = false;      // the easy handle is in the multi handle
    bool finished = false;  // the transfer ended (completely or not)
    int result = 0;         // CURLcode of a finished transfer
    bool stalled = false;   // nothing arrived for the network time-out
    bool connected = false;
    bool paused = false;
    uint32_t lastActivity = 0;
    Answer answer;
  };

  void Initialize();
  void Release();
  // Sends the current request once with that Authorization value (none when empty) and waits for
  // the answer's status; 0 when none came.
  uint32_t Transfer(const std::string& authorization);
  // Sets the transfer's options for the current request; false, logged, when one is refused.
  bool SetRequestOptions(curl_slist* headers);
  // Ends the current transfer and clears its state. With drain, a short rest of the answer is read
  // away first so that the connection stays usable for the next request.
  void CloseLocked(bool drain);
  // Drives the transfer until ready() holds, the transfer ends, the request is cancelled, nothing
  // arrives for the network time-out or the request's deadline passes. Returns ready().
  template <class Ready>
  bool Pump(Ready ready);
  void CollectFinished();
  void Resume();
  size_t Unread() const { return transfer_.answer.buffer.size() - transfer_.answer.bufferPos; }
  // Called when a wait for more body bytes came back empty: unless the body ended as announced, the
  // answer is incomplete.
  void NoteBodyEnd();

  static size_t OnHeader(char* data, size_t size, size_t count, void* self);
  static size_t OnBody(char* data, size_t size, size_t count, void* self);
  static int OnConnected(void* self, char* remoteIp, char* localIp, int remotePort, int localPort);

  norvale::RecursiveLock lock_;
  // Set by CloseRequest on another thread to make a blocked transfer give up.
  std::atomic<bool> cancel_{false};

  // Declared so that the easy handle goes first, then the header list it used, then the multi handle.
  std::unique_ptr<void, MultiDeleter> multi_;               // CURLM
  std::unique_ptr<curl_slist, HeaderListDeleter> headers_;  // of the current transfer
  std::unique_ptr<void, EasyDeleter> easy_;                 // CURL
  std::string baseUrl_;                                     // scheme, host and port; the request target is set apart

  // The current request.
  std::string target_;
  std::string verb_;
  std::vector<uint8_t> requestBody_;
  uint32_t requestStart_ = 0;  // tick count when SendRequest began; the deadline counts from here
  TransferState transfer_;
};

}  // namespace Web
