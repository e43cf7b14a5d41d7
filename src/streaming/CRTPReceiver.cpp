#include "streaming/CRTPReceiver.h"

#include <cxxabi.h>

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
    queue_.Clear();
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
  queue_.Clear();
  thread_.StopThread(2000);
  port_ = 0;
}

uint16_t CRTPReceiver::LocalPort() { return client_ ? client_->LocalPort() : 0; }

void CRTPReceiver::OnClientPacket(IRTPClient* client, const platform::SocketAddress& from, const uint8_t* data,
                                  size_t size) {
  platform::Datagram datagram;
  datagram.buffer = const_cast<uint8_t*>(data);
  datagram.capacity = datagram.size = size;
  datagram.from = from;
  OnClientPackets(client, &datagram, 1);
}

void CRTPReceiver::OnClientPackets(IRTPClient* client, const platform::Datagram* datagrams, int count) {
  if (client != ownClient_ || thread_.StopRequested()) return;
  const CRTPPacketQueue::PushResult pushed = queue_.Push(datagrams, count);
  if (pushed.queued > 0) packetEvent_.Set();
  if (pushed.runStarted && driver_)
    driver_->Log(LogWarning, "%s: RTP packet queue of port %hu is full (%zu packets): dropping the oldest packets",
                 "norvale::CRTPReceiver::OnClientPacket", port_.load(), queue_.Limit());
}

void CRTPReceiver::OnClientTimeout(IRTPClient* client) {
  if (client != ownClient_) return;
  if (IRTPReceiverUser* user = user_) user->OnRTPTimeout();
}

void CRTPReceiver::OnClientClosed(IRTPClient* client) {
  if (client != ownClient_) return;
  if (IRTPReceiverUser* user = user_) user->OnRTPClosed();
}

void CRTPReceiver::Deliver() {
  CEvent* events[] = {&thread_.StopEvent(), &packetEvent_};
  std::vector<CRTPPacketQueue::Entry*> batch;
  batch.reserve(CRTPPacketQueue::kTakeLimit);
  while (!thread_.StopRequested()) {
    queue_.Take(batch);
    if (batch.empty()) {
      // Sleeps until the UDP thread queues a batch or a stop is asked for.
      CEvent::WaitAny(events, 2, 1000);
      continue;
    }
    for (CRTPPacketQueue::Entry* entry : batch) {
      if (thread_.StopRequested()) break;
      if (IRTPReceiverUser* user = user_) {
        try {
          user->OnRTPPacket(entry->from, entry->packet);
        } catch (abi::__forced_unwind&) {
          queue_.Recycle(batch);
          throw;
        } catch (...) {
          // A user's failure costs this packet only.
        }
      }
    }
    queue_.Recycle(batch);
  }
  queue_.Clear();
}

}  // namespace norvale
