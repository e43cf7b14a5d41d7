#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Socket.h"
#include "runtime/CBaseThread.h"
#include "runtime/RecursiveLock.h"
#include "streaming/IRTPClient.h"

namespace norvale {

// Reads one UDP port on a thread of its own and hands every datagram to its user.
class CUDPClient : public IRTPClient, protected CBaseThread {
 public:
  explicit CUDPClient(IDriver* driver = nullptr);
  ~CUDPClient() override;

  bool OpenMulticast(IRTPClientUser* user, const char* group, uint16_t port) override;
  bool Open(IRTPClientUser* user, uint16_t port) override;
  // Datagrams taken from the socket by one read at most.
  static constexpr int kBatchSize = 32;

  // Stops the thread, discards what is still waiting on the socket, closes it and calls the user's
  // closed slot. Returns within the stop limit (6000 ms with the default time-outs); false when the
  // thread did not end (the socket then stays open until the client is destroyed).
  bool Close() override;
  void SetReceiveSize(uint32_t bytes) override;
  void SetSelectTimeout(uint32_t ms) override;
  uint16_t LocalPort() override;

  // Sends one datagram from the bound port; false when closed or the send fails.
  bool SendTo(const platform::SocketAddress& to, const uint8_t* data, size_t size);
  uint32_t ReceiveSize() const { return receiveSize_; }

  static constexpr uint32_t kSocketReceiveTimeout = 5000;  // ms
  static constexpr uint32_t kSocketSendTimeout = 1000;     // ms

 protected:
  void ThreadBody() override;

 private:
  bool OpenSocket(IRTPClientUser* user, const char* group, uint16_t port);
  uint32_t StopLimit() const;

  RecursiveLock lock_;  // open and close
  platform::SocketHandle socket_ = platform::kInvalidSocket;
  uint16_t port_ = 0;
  IRTPClientUser* user_ = nullptr;
  std::atomic<uint32_t> receiveSize_{8192};
  std::atomic<uint32_t> selectTimeout_{2000};  // ms
  std::string group_;
  // Ends the thread's socket wait at once when a stop is asked for; it sleeps until data, a stop or
  // the select time-out otherwise.
  platform::Waker* waker_ = nullptr;
  platform::SocketHandle lingering_ = platform::kInvalidSocket;  // closed once a stuck thread ended
};

}  // namespace norvale
