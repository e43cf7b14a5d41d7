#pragma once
#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/Socket.h"
#include "runtime/CBaseThread.h"
#include "runtime/CEvent.h"
#include "runtime/CFailureLatch.h"
#include "runtime/RecursiveLock.h"
#include "streaming/CRTPPacket.h"
#include "streaming/CRTPPacketQueue.h"
#include "streaming/CRTPReorderBuffer.h"
#include "streaming/CUDPClient.h"
#include "streaming/IRTPClient.h"
#include "streaming/IRTPReceiverUser.h"

namespace norvale {

// Receives the RTP packets of one UDP port. Its UDP client's thread only parses and queues each
// packet; the receiver's own thread puts them back into sequence order (CRTPReorderBuffer, which
// also drops duplicates) and hands them to the user, so a slow user never holds up the socket. The
// queue is bounded: when the user stalls, the oldest packets give way.
//
// Each start has its own delivery thread and stop event, shared between the receiver and that
// thread; the queue passes from one start to the next once the threads of the earlier one are done
// with it. A delivery thread that cannot be stopped (its user blocked where termination does
// not reach) keeps them alive until it really ends; Stop then reports false, and Start refuses to
// run a second delivery thread beside it, so the user is never entered by two at once.
class CRTPReceiver : public IRTPClientUser {
 public:
  explicit CRTPReceiver(IDriver* driver = nullptr);
  ~CRTPReceiver() override;
  CRTPReceiver(const CRTPReceiver&) = delete;
  CRTPReceiver& operator=(const CRTPReceiver&) = delete;

  void SetUser(IRTPReceiverUser* user);
  // Packets from any other IPv4 sender (network byte order) are dropped before they are queued.
  void AcceptOnlyFrom(uint32_t networkAddress);
  // One more sender taken beside that one (the address a camera names for its stream); 0 takes none.
  void AcceptAlsoFrom(uint32_t networkAddress);
  // Opens the port (0: any free port) and starts the delivery thread; false if the port cannot be
  // opened or an earlier delivery thread still runs.
  bool Start(uint16_t port);
  // False when the delivery thread did not end (it is left to end by itself).
  bool Stop();
  uint16_t LocalPort();
  // Waits without limit for a delivery thread that outlived Stop; for an owner about to free the
  // user that thread may still be inside. Returns at once when there is none or on that thread.
  void WaitForDeliveryEnd();

  // Packets held at most while the user is busy (default kDefaultQueueLimit).
  void SetQueueLimit(size_t packets);
  size_t QueuedPackets();
  // Packets dropped because the queue was full, since construction.
  uint64_t DroppedPackets() const { return dropped_; }
  // Packets dropped because they were handed on or held already (or came after their gap was given
  // up), since construction.
  uint64_t DuplicatePackets();
  // Packets dropped because they came from another sender, since construction.
  uint64_t ForeignPackets() const { return foreign_; }
  static constexpr size_t kDefaultQueueLimit = 4096;

  // IRTPClientUser: called by the receiver's own UDP client.
  void OnClientPacket(IRTPClient* client, const platform::SocketAddress& from, const uint8_t* data,
                      size_t size) override;
  // A batch is queued under one lock and wakes the delivery thread once.
  void OnClientPackets(IRTPClient* client, const platform::Datagram* datagrams, int count) override;
  void OnClientTimeout(IRTPClient* client) override;
  void OnClientClosed(IRTPClient* client) override;

 private:
  class Session;

  std::shared_ptr<Session> CurrentSession();
  void Queue(Session& session, const platform::Datagram* datagrams, int count);
  bool Accepted(uint32_t address);

  IDriver* driver_;
  std::atomic<IRTPReceiverUser*> user_{nullptr};
  std::atomic<bool> filtered_{false};
  std::atomic<uint32_t> source_{0};
  std::atomic<uint32_t> alsoFrom_{0};
  std::atomic<uint64_t> foreign_{0};
  std::atomic<bool> foreignLogged_{false};  // the first foreign sender of a start is logged
  std::unique_ptr<CUDPClient> client_;
  std::atomic<IRTPClient*> ownClient_{nullptr};
  RecursiveLock sessionLock_;
  std::shared_ptr<Session> session_;  // the running start, if any
  std::weak_ptr<Session> previous_;   // the last start, while its thread may still live
  // The packet queue of the last start, and whether its threads are done with it.
  std::shared_ptr<CRTPPacketQueue> pool_;
  bool poolFree_ = false;
  std::atomic<size_t> queueLimit_{kDefaultQueueLimit};
  std::atomic<uint64_t> dropped_{0};
  std::atomic<uint64_t> duplicatesBefore_{0};  // of the starts before the running one
  std::atomic<uint16_t> port_{0};
  CFailureLatch refusals_;  // a refused start is logged once until a start succeeds
};

}  // namespace norvale
