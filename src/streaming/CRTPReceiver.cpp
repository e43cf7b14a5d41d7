#include "streaming/CRTPReceiver.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/Guard.h"
#include "platform/Platform.h"
#include "runtime/StringUtils.h"

namespace norvale {
namespace {

// "192.0.2.7" for an IPv4 address in network order.
std::string DottedAddress(uint32_t networkAddress) {
  uint8_t octets[4];
  std::memcpy(octets, &networkAddress, 4);
  return FormatString("%u.%u.%u.%u", octets[0], octets[1], octets[2], octets[3]);
}

}  // namespace

// What one delivery thread works on. The thread holds a reference for as long as it runs, so a
// thread that outlives Stop (and the receiver) never reaches freed memory.
class CRTPReceiver::Session : public CBaseThread {
 public:
  Session(IDriver* driver, IRTPReceiverUser* user, std::shared_ptr<CRTPPacketQueue> queue)
      : CBaseThread(driver), user(user), queue(std::move(queue)) {}
  ~Session() override { FinalStop(2000); }

  void Clear() { queue->Clear(); }

  std::atomic<IRTPReceiverUser*> user;
  const std::shared_ptr<CRTPPacketQueue> queue;  // also the receiver's, for the next start
  // Set while the thread works on the queue's entries; still set after a thread that was cut off.
  std::atomic<bool> usingQueue{false};
  CRTPReorderBuffer reorder;  // the delivery thread's only
  CEvent packetEvent;
  RecursiveLock keepAliveLock;
  std::shared_ptr<Session> keepAlive;  // handed to the thread when it begins; guarded by keepAliveLock

 protected:
  void ThreadBody() override {
    std::shared_ptr<Session> self;
    {
      RecursiveLockGuard guard(keepAliveLock);
      self = std::move(keepAlive);
    }
    usingQueue = true;
    DrainQueueToUser();
    Clear();
    usingQueue = false;
    // `self` may be the last reference: the session is then freed here, by its own thread.
  }

 private:
  void DrainQueueToUser() {
    CEvent* events[] = {&StopEvent(), &packetEvent};
    std::vector<CRTPPacketQueue::Entry*> batch, ready, spent;
    batch.reserve(CRTPPacketQueue::kTakeLimit);
    ready.reserve(CRTPPacketQueue::kTakeLimit + CRTPReorderBuffer::kSlots);
    spent.reserve(CRTPPacketQueue::kTakeLimit);
    while (!StopRequested()) {
      queue->Take(batch);
      const uint32_t now = platform::TickCount();
      if (batch.empty()) {
        reorder.Expire(now, ready);
        if (ready.empty()) {
          // Sleeps until the UDP thread queues a batch, a stop is asked for or an open gap is due.
          CEvent::WaitAny(events, 2, std::min<uint32_t>(1000, reorder.TimeToDeadline(now)));
          continue;
        }
      }
      // Entries end up handed on (ready), dropped (spent) or held by the reorder stage.
      for (CRTPPacketQueue::Entry* entry : batch) reorder.Offer(entry, now, ready, spent);
      batch.clear();
      for (CRTPPacketQueue::Entry* entry : ready) {
        if (StopRequested()) break;
        if (IRTPReceiverUser* u = user.load()) {
          try {
            u->OnRTPPacket(entry->from, entry->packet);
          } catch (platform::ThreadCancellation&) {
            queue->Recycle(ready);
            queue->Recycle(spent);
            throw;
          } catch (...) {
            // A user's failure costs this packet only.
          }
        }
      }
      queue->Recycle(ready);
      queue->Recycle(spent);
    }
  }
};

CRTPReceiver::CRTPReceiver(IDriver* driver) : driver_(driver) {}

CRTPReceiver::~CRTPReceiver() { Stop(); }

void CRTPReceiver::SetUser(IRTPReceiverUser* user) {
  user_ = user;
  if (auto session = CurrentSession()) session->user = user;
}

void CRTPReceiver::SetQueueLimit(size_t packets) {
  queueLimit_ = packets == 0 ? 1 : packets;
  if (auto session = CurrentSession()) session->queue->SetLimit(queueLimit_);
}

void CRTPReceiver::AcceptOnlyFrom(uint32_t networkAddress) {
  source_ = networkAddress;
  filtered_ = true;
}

void CRTPReceiver::AcceptAlsoFrom(uint32_t networkAddress) { alsoFrom_ = networkAddress; }

bool CRTPReceiver::Accepted(uint32_t address) {
  if (address == source_ || (address != 0 && address == alsoFrom_)) return true;
  ++foreign_;
  if (!foreignLogged_.exchange(true) && driver_)
    driver_->Log(LogWarning, "%s: RTP packets for device %s come from %s, which is not the camera's address: dropped",
                 ZEPHRIN_FUNCTION, driver_->GetDeviceName().c_str(), DottedAddress(address).c_str());
  return false;
}

std::shared_ptr<CRTPReceiver::Session> CRTPReceiver::CurrentSession() {
  RecursiveLockGuard guard(sessionLock_);
  return session_;
}

bool CRTPReceiver::Start(uint16_t port) {
  if (client_ || CurrentSession()) Stop();
  if (auto old = previous_.lock(); old && old->IsRunning()) {
    if (driver_ && refusals_.Fail())
      driver_->Log(LogError,
                   "%s: The RTP packet queue thread for device %s has not ended yet; no port is opened "
                   "before it has",
                   ZEPHRIN_FUNCTION, driver_->GetDeviceName().c_str());
    return false;
  }
  // The queue's entries were allocated by the reading threads of earlier starts; taking them over
  // keeps every start after the first from allocating (and from spreading freed buffers over the
  // C library's per-thread heaps). A queue a thread may still hold is left to that thread.
  if (pool_ && poolFree_) {
    pool_->Reclaim();
    pool_->SetLimit(queueLimit_);
  } else {
    pool_ = std::make_shared<CRTPPacketQueue>(queueLimit_);
  }
  poolFree_ = false;
  auto session = std::make_shared<Session>(driver_, user_.load(), pool_);
  foreignLogged_ = false;
  {
    RecursiveLockGuard guard(sessionLock_);
    session_ = session;
    previous_ = session;
  }
  client_ = std::make_unique<CUDPClient>(driver_);
  ownClient_ = client_.get();
  if (client_->Open(this, port)) {
    client_->SetSelectTimeout(2000);
    port_ = client_->LocalPort();
    {
      RecursiveLockGuard guard(session->keepAliveLock);
      session->keepAlive = session;
    }
    if (session->StartThread(FormatString("RTP Packet Queue (%hu)", port_.load()))) {
      refusals_.Succeed();
      return true;
    }
    RecursiveLockGuard guard(session->keepAliveLock);
    session->keepAlive.reset();
  }
  Stop();
  return false;
}

bool CRTPReceiver::Stop() {
  std::shared_ptr<Session> session;
  {
    RecursiveLockGuard guard(sessionLock_);
    session = std::move(session_);
  }
  if (session) session->StopEvent().Set();
  bool stopped = true;
  bool clientClosed = true;
  if (client_) {
    clientClosed = client_->Close();
    ownClient_ = nullptr;
    client_.reset();  // never waits: a client thread that did not end goes on alone and calls nobody
  }
  if (session) {
    session->Clear();
    const bool ended = session->StopThread(2000);
    duplicatesBefore_ += session->reorder.Duplicates();
    poolFree_ = clientClosed && ended && !session->usingQueue;
    if (ended) {
      RecursiveLockGuard guard(session->keepAliveLock);
      session->keepAlive.reset();  // the thread ended before it took its reference
    } else {
      stopped = false;
      session->user = nullptr;  // nothing more for the user once the thread comes back
    }
  }
  port_ = 0;
  return stopped;
}

void CRTPReceiver::WaitForDeliveryEnd() {
  std::shared_ptr<Session> old = previous_.lock();
  if (!old || old->IsCurrentThread() || !old->IsRunning()) return;
  if (driver_)
    driver_->Log(LogError, "%s: Waiting for the RTP packet queue thread for device %s to end", ZEPHRIN_FUNCTION,
                 driver_->GetDeviceName().c_str());
  old->JoinThread(platform::kInfinite);
}

uint16_t CRTPReceiver::LocalPort() { return client_ ? client_->LocalPort() : 0; }

uint64_t CRTPReceiver::DuplicatePackets() {
  auto session = CurrentSession();
  return duplicatesBefore_ + (session ? session->reorder.Duplicates() : 0);
}

size_t CRTPReceiver::QueuedPackets() {
  auto session = CurrentSession();
  return session ? session->queue->Size() : 0;
}

void CRTPReceiver::OnClientPacket(IRTPClient* client, const platform::SocketAddress& from, const uint8_t* data,
                                  size_t size) {
  platform::Datagram datagram;
  datagram.buffer = const_cast<uint8_t*>(data);
  datagram.capacity = datagram.size = size;
  datagram.from = from;
  OnClientPackets(client, &datagram, 1);
}

void CRTPReceiver::OnClientPackets(IRTPClient* client, const platform::Datagram* datagrams, int count) {
  if (client != ownClient_ || !datagrams || count <= 0) return;
  auto session = CurrentSession();
  if (!session || session->StopRequested()) return;
  // Not the device: never queued.
  platform::Datagram fromSource[CUDPClient::kBatchSize];
  if (filtered_) {
    while (count > 0) {
      const int part = std::min(count, CUDPClient::kBatchSize);
      int kept = 0;
      for (int i = 0; i < part; ++i)
        if (Accepted(datagrams[i].from.address)) fromSource[kept++] = datagrams[i];
      Queue(*session, fromSource, kept);
      datagrams += part;
      count -= part;
    }
  } else {
    Queue(*session, datagrams, count);
  }
}

void CRTPReceiver::Queue(Session& session, const platform::Datagram* datagrams, int count) {
  if (count <= 0) return;
  const CRTPPacketQueue::PushResult pushed = session.queue->Push(datagrams, count);
  dropped_ += static_cast<uint64_t>(pushed.dropped);
  if (pushed.queued > 0) session.packetEvent.Set();
  if (pushed.runStarted && driver_)
    driver_->Log(LogWarning, "%s: RTP packet queue of port %hu is full (%zu packets): dropping the oldest packets",
                 ZEPHRIN_FUNCTION, port_.load(), session.queue->Limit());
}

void CRTPReceiver::OnClientTimeout(IRTPClient* client) {
  if (client != ownClient_) return;
  if (IRTPReceiverUser* user = user_) user->OnRTPTimeout();
}

void CRTPReceiver::OnClientClosed(IRTPClient* client) {
  if (client != ownClient_) return;
  if (IRTPReceiverUser* user = user_) user->OnRTPClosed();
}

}  // namespace norvale
