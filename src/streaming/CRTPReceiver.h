#pragma once
#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/Socket.h"
#include "runtime/CBaseThread.h"
#include "runtime/CEvent.h"
#include "runtime/RecursiveLock.h"
#include "streaming/CRTPPacket.h"
#include "streaming/CRTPPacketQueue.h"
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
  void SetQueueLimit(size_t packets) { queue_.SetLimit(packets); }
  size_t QueuedPackets() { return queue_.Size(); }
  // Packets dropped because the queue was full, since construction.
  uint64_t DroppedPackets() const { return queue_.Dropped(); }
  static constexpr size_t kDefaultQueueLimit = 4096;

  // IRTPClientUser: called by the receiver's own UDP client.
  void OnClientPacket(IRTPClient* client, const platform::SocketAddress& from, const uint8_t* data,
                      size_t size) override;
  // A batch is queued under one lock and wakes the delivery thread once.
  void OnClientPackets(IRTPClient* client, const platform::Datagram* datagrams, int count) override;
  void OnClientTimeout(IRTPClient* client) override;
  void OnClientClosed(IRTPClient* client) override;

 private:
  class DeliveryThread : public CBaseThread {
   public:
    DeliveryThread(IDriver* driver, CRTPReceiver& owner) : CBaseThread(driver), owner_(owner) {}
    ~DeliveryThread() override { StopThread(2000); }

   protected:
    void ThreadBody() override { owner_.Deliver(); }

   private:
    CRTPReceiver& owner_;
  };

  void Deliver();

  IDriver* driver_;
  std::atomic<IRTPReceiverUser*> user_{nullptr};
  std::unique_ptr<CUDPClient> client_;
  std::atomic<IRTPClient*> ownClient_{nullptr};
  CRTPPacketQueue queue_{kDefaultQueueLimit};
  std::atomic<uint16_t> port_{0};
  CEvent packetEvent_;
  DeliveryThread thread_;
};

}  // namespace norvale
