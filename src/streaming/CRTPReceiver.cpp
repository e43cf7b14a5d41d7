#include "streaming/CRTPReceiver.h"

#include <cxxabi.h>

#include "runtime/StringUtils.h"

namespace norvale {

// What one delivery thread works on. The thread holds a reference for as long as it runs, so a
// thread that outlives Stop (and the receiver) never reaches freed memory.
class CRTPReceiver::Session : public CBaseThread {
 public:
  Session(IDriver* driver, IRTPReceiverUser* user) : CBaseThread(driver), user(user) {}
  ~Session() override { FinalStop(2000); }

  void Clear() {
    RecursiveLockGuard guard(queueLock);
    queue.clear();
  }

  std::atomic<IRTPReceiverUser*> user;
  RecursiveLock queueLock;
  std::deque<std::unique_ptr<QueuedPacket>> queue;
  bool dropping = false;  // in a run of drops; guarded by queueLock
  CEvent packetEvent;
  std::shared_ptr<Session> keepAlive;  // handed to the thread when it begins

 protected:
  void ThreadBody() override {
    std::shared_ptr<Session> self;
    {
      RecursiveLockGuard guard(queueLock);
      self = std::move(keepAlive);
    }
    Deliver();
    Clear();
    // `self` may be the last reference: the session is then freed here, by its own thread.
  }

 private:
  void Deliver() {
    CEvent* events[] = {&StopEvent(), &packetEvent};
    while (!StopRequested()) {
      std::unique_ptr<QueuedPacket> entry;
      bool empty;
      {
        RecursiveLockGuard guard(queueLock);
        if (!queue.empty()) {
          entry = std::move(queue.front());
          queue.pop_front();
        }
        empty = queue.empty();
      }
      if (entry && !StopRequested()) {
        if (IRTPReceiverUser* u = user.load()) {
          try {
            u->OnRTPPacket(entry->from, entry->packet);
          } catch (abi::__forced_unwind&) {
            throw;
          } catch (...) {
            // A user's failure costs this packet only.
          }
        }
      }
      entry.reset();
      CEvent::WaitAny(events, 2, empty ? 1000 : 0);
    }
  }
};

CRTPReceiver::CRTPReceiver(IDriver* driver) : driver_(driver) {}

CRTPReceiver::~CRTPReceiver() { Stop(); }

void CRTPReceiver::SetUser(IRTPReceiverUser* user) {
  user_ = user;
  if (auto session = CurrentSession()) session->user = user;
}

void CRTPReceiver::AcceptOnlyFrom(uint32_t networkAddress) {
  source_ = networkAddress;
  filtered_ = true;
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
                   "norvale::CRTPReceiver::Start", driver_->GetDeviceName().c_str());
    return false;
  }
  auto session = std::make_shared<Session>(driver_, user_.load());
  {
    RecursiveLockGuard guard(sessionLock_);
    session_ = session;
    previous_ = session;
  }
  client_ = std::make_unique<CUDPClient>(driver_);
  ownClient_ = client_.get();
  if (client_->Open(this, port)) {
    client_->SetReceiveSize(1536);
    client_->SetSelectTimeout(2000);
    port_ = client_->LocalPort();
    {
      RecursiveLockGuard guard(session->queueLock);
      session->keepAlive = session;
    }
    if (session->StartThread(FormatString("RTP Packet Queue (%hu)", port_.load()))) {
      refusals_.Succeed();
      return true;
    }
    RecursiveLockGuard guard(session->queueLock);
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
  if (client_) {
    client_->Close();
    ownClient_ = nullptr;
    client_.reset();  // a client thread that did not end is waited for here: it calls into this receiver
  }
  if (session) {
    session->Clear();
    if (session->StopThread(2000)) {
      RecursiveLockGuard guard(session->queueLock);
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
    driver_->Log(LogError, "%s: Waiting for the RTP packet queue thread for device %s to end",
                 "norvale::CRTPReceiver::WaitForDeliveryEnd", driver_->GetDeviceName().c_str());
  old->JoinThread(platform::kInfinite);
}

uint16_t CRTPReceiver::LocalPort() { return client_ ? client_->LocalPort() : 0; }

size_t CRTPReceiver::QueuedPackets() {
  auto session = CurrentSession();
  if (!session) return 0;
  RecursiveLockGuard guard(session->queueLock);
  return session->queue.size();
}

void CRTPReceiver::OnClientPacket(IRTPClient* client, const platform::SocketAddress& from, const uint8_t* data,
                                  size_t size) {
  if (client != ownClient_) return;
  if (filtered_ && from.address != source_) return;  // not the device: never queued
  auto session = CurrentSession();
  if (!session || session->StopRequested()) return;
  auto entry = std::make_unique<QueuedPacket>();
  if (!entry->packet.Parse(data, size)) return;
  entry->from = from;
  bool runStarted = false;
  size_t limit = queueLimit_;
  {
    RecursiveLockGuard guard(session->queueLock);
    bool dropped = false;
    while (session->queue.size() >= limit) {
      session->queue.pop_front();
      ++dropped_;
      dropped = true;
    }
    runStarted = dropped && !session->dropping;
    session->dropping = dropped;
    session->queue.push_back(std::move(entry));
  }
  session->packetEvent.Set();
  if (runStarted && driver_)
    driver_->Log(LogWarning, "%s: RTP packet queue of port %hu is full (%zu packets): dropping the oldest packets",
                 "norvale::CRTPReceiver::OnClientPacket", port_.load(), limit);
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
