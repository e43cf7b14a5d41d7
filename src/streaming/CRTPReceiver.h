#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>

#include "platform/Socket.h"
#include "runtime/CBaseThread.h"
#include "runtime/CEvent.h"
#include "runtime/RecursiveLock.h"
#include "streaming/CRTPPacket.h"
#include "streaming/CUDPClient.h"
#include "streaming/IRTPClient.h"
#include "streaming/IRTPReceiverUser.h"

namespace norvale {

// Receives the RTP packets of one UDP port. Its UDP client's thread only parses and queues each
// packet; the receiver's own thread hands them to the user in arrival order, so a slow user never
// holds up the socket. The queue is bounded: when the user stalls, the oldest packets give way.
class CRTPReceiver : public IRTPClientUser {
 public:
  explicit CRTPReceiver(IDriver* driver = nullptr);
  ~CRTPReceiver() override;
  CRTPReceiver(const CRTPReceiver&) = delete;
  CRTPReceiver& operator=(const CRTPReceiver&) = delete;

  void SetUser(IRTPReceiverUser* user) { user_ = user; }
  // Opens the port (0: any free port) and starts the delivery thread; false if the port cannot be opened.
  bool Start(uint16_t port);
  void Stop();
  uint16_t LocalPort();

  // Packets held at most while the user is busy (default kDefaultQueueLimit).
  void SetQueueLimit(size_t packets) { queueLimit_ = packets == 0 ? 1 : packets; }
  size_t QueuedPackets();
  // Packets dropped because the queue was full, since construction.
  uint64_t DroppedPackets() const { return dropped_; }
  static constexpr size_t kDefaultQueueLimit = 4096;

  // IRTPClientUser: called by the receiver's own UDP client.
  void OnClientPacket(IRTPClient* client, const platform::SocketAddress& from, const uint8_t* data,
                      size_t size) override;
  void OnClientTimeout(IRTPClient* client) override;
  void OnClientClosed(IRTPClient* client) override;

 private:
  struct Entry {
    platform::SocketAddress from;
    CRTPPacket packet;
  };
  class DeliveryThread : public CBaseThread {
   public:
    DeliveryThread(IDriver* driver, CRTPReceiver& owner) : CBaseThread(driver), owner_(owner) {}
    ~DeliveryThread() override { StopThread(2000); }

   protected:
    void ThreadBody() override { owner_.DrainQueueToUser(); }

   private:
    CRTPReceiver& owner_;
  };

  void DrainQueueToUser();
  void ClearQueue();

  IDriver* driver_;
  std::atomic<IRTPReceiverUser*> user_{nullptr};
  std::unique_ptr<CUDPClient> client_;
  std::atomic<IRTPClient*> ownClient_{nullptr};
  RecursiveLock queueLock_;
  std::deque<std::unique_ptr<Entry>> queue_;
  std::atomic<size_t> queueLimit_{kDefaultQueueLimit};
  std::atomic<uint64_t> dropped_{0};
  bool dropping_ = false;  // in a run of drops; guarded by queueLock_
  std::atomic<uint16_t> port_{0};
  CEvent packetEvent_;
  DeliveryThread thread_;
};

}  // namespace norvale
