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
//
// Each open has its own reader: the socket, the thread and what it reads into, shared between the
// client and that thread. A thread that cannot be stopped (its user blocked where termination does
// not reach) keeps them alive and closes the socket itself when it finally returns: Close reports
// false, and neither Close nor the destructor ever waits longer than the stop limit.
class CUDPClient : public IRTPClient {
 public:
  explicit CUDPClient(IDriver* driver = nullptr);
  ~CUDPClient() override;
  CUDPClient(const CUDPClient&) = delete;
  CUDPClient& operator=(const CUDPClient&) = delete;

  bool OpenMulticast(IRTPClientUser* user, const char* group, uint16_t port) override;
  bool Open(IRTPClientUser* user, uint16_t port) override;
  // Datagrams taken from the socket by one read at most.
  static constexpr int kBatchSize = 32;

  // Stops the thread, discards what is still waiting on the socket, closes it and calls the user's
  // closed slot. Returns within the stop limit (6000 ms with the default time-outs); false when the
  // thread did not end (it then closes the socket when it does, and never calls the user again).
  bool Close() override;
  void SetReceiveSize(uint32_t bytes) override;
  void SetSelectTimeout(uint32_t ms) override;
  uint16_t LocalPort() override;

  // Sends one datagram from the bound port; false when closed or the send fails.
  bool SendTo(const platform::SocketAddress& to, const uint8_t* data, size_t size);
  uint32_t ReceiveSize() const;

  static constexpr uint32_t kSocketReceiveTimeout = 5000;  // ms
  static constexpr uint32_t kSocketSendTimeout = 1000;     // ms

 private:
  class Reader;
  struct Batch;

  bool OpenSocket(IRTPClientUser* user, const char* group, uint16_t port);
  uint32_t StopLimit() const;

  IDriver* driver_;
  mutable RecursiveLock lock_;      // open, close and sending
  std::shared_ptr<Reader> reader_;  // the open socket and its thread
  // What the reads go into: made at the first open and kept for the next ones, unless a thread
  // that did not end still holds it.
  std::shared_ptr<Batch> batch_;
  std::atomic<uint32_t> receiveSize_{8192};
  std::atomic<uint32_t> selectTimeout_{2000};  // ms
};

}  // namespace norvale
