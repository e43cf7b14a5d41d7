#include "streaming/CRTPReceiver.h"

#include "platform/Guard.h"
#include "runtime/StringUtils.h"

namespace norvale {

CRTPReceiver::CRTPReceiver(IDriver* driver) : driver_(driver), thread_(driver, *this) {}

CRTPReceiver::~CRTPReceiver() { Stop(); }

bool CRTPReceiver::Start(uint16_t port) {
  if (client_) Stop();
  client_ = std::make_unique<CUDPClient>(driver_);
  ownClient_ = client_.get();
  if (client_->Open(this, port)) {
    client_->SetReceiveSize(1536);
    client_->SetSelectTimeout(2000);
    ClearQueue();
    port_ = client_->LocalPort();
    if (thread_.StartThread(FormatString("RTP Packet Queue (%hu)", port_.load()))) return true;
  }
  Stop();
  return false;
}

void CRTPReceiver::Stop() {
  thread_.StopEvent().Set();
  if (client_) {
    client_->Close();
    ownClient_ = nullptr;
    client_.reset();
  }
  ClearQueue();
  thread_.StopThread(2000);
  port_ = 0;
}

uint16_t CRTPReceiver::LocalPort() { return client_ ? client_->LocalPort() : 0; }

size_t CRTPReceiver::QueuedPackets() {
  RecursiveLockGuard guard(queueLock_);
  return queue_.size();
}

void CRTPReceiver::ClearQueue() {
  RecursiveLockGuard guard(queueLock_);
  queue_.clear();
  dropping_ = false;
}

void CRTPReceiver::OnClientPacket(IRTPClient* client, const platform::SocketAddress& from, const uint8_t* data,
                                  size_t size) {
  if (client != ownClient_ || thread_.StopRequested()) return;
  auto entry = std::make_unique<Entry>();
  if (!entry->packet.Parse(data, size)) return;
  entry->from = from;
  bool runStarted = false;
  size_t limit = queueLimit_;
  {
    RecursiveLockGuard guard(queueLock_);
    bool dropped = false;
    while (queue_.size() >= limit) {
      queue_.pop_front();
      ++dropped_;
      dropped = true;
    }
    runStarted = dropped && !dropping_;
    dropping_ = dropped;
    queue_.push_back(std::move(entry));
  }
  packetEvent_.Set();
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

void CRTPReceiver::DrainQueueToUser() {
  CEvent* events[] = {&thread_.StopEvent(), &packetEvent_};
  while (!thread_.StopRequested()) {
    std::unique_ptr<Entry> entry;
    bool empty;
    {
      RecursiveLockGuard guard(queueLock_);
      if (!queue_.empty()) {
        entry = std::move(queue_.front());
        queue_.pop_front();
      }
      empty = queue_.empty();
    }
    if (entry) {
      if (IRTPReceiverUser* user = user_) {
        try {
          user->OnRTPPacket(entry->from, entry->packet);
        } ZEPHRIN_RETHROW_CANCELLATION catch (...) {
          // A user's failure costs this packet only.
        }
      }
      entry.reset();
    }
    CEvent::WaitAny(events, 2, empty ? 1000 : 0);
  }
  ClearQueue();
}

}  // namespace norvale
