#pragma once
#include "platform/Socket.h"
#include "streaming/CRTPPacket.h"

namespace norvale {

// What an RTP receiver hands its user. Packets come on the receiver's own thread in sequence order,
// each once, from the accepted senders only; the time-out and closed calls are forwarded from its
// UDP client.
class IRTPReceiverUser {
 public:
  virtual ~IRTPReceiverUser() = default;
  virtual void OnRTPPacket(const platform::SocketAddress& from, const CRTPPacket& packet) = 0;
  virtual void OnRTPTimeout() = 0;
  virtual void OnRTPClosed() = 0;
};

}  // namespace norvale
