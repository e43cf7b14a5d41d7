#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/Guard.h"
#include "platform/Socket.h"

namespace norvale {

class IRTPClient;

// What a UDP client tells its user; every call but the final closed one comes on the client's thread.
// A client ignores exceptions thrown by these calls.
class IRTPClientUser {
 public:
  virtual ~IRTPClientUser() = default;
  // One datagram from the sender's address.
  virtual void OnClientPacket(IRTPClient* client, const platform::SocketAddress& from, const uint8_t* data,
                              size_t size) = 0;
  // The datagrams one read brought, in arrival order (none cut, none empty). A user that can take
  // them together (one lock, one wake-up) overrides this; by default each goes to OnClientPacket.
  virtual void OnClientPackets(IRTPClient* client, const platform::Datagram* datagrams, int count) {
    for (int i = 0; i < count; ++i) {
      try {
        OnClientPacket(client, datagrams[i].from, datagrams[i].buffer, datagrams[i].size);
      }
      ZEPHRIN_RETHROW_CANCELLATION catch (...) {
        // One datagram's failure does not cost the others.
      }
    }
  }
  // A select time-out passed without data.
  virtual void OnClientTimeout(IRTPClient* client) = 0;
  // The socket was closed or failed.
  virtual void OnClientClosed(IRTPClient* client) = 0;
};

// A reader of one UDP port on a thread of its own.
class IRTPClient {
 public:
  virtual ~IRTPClient() = default;
  virtual bool OpenMulticast(IRTPClientUser* user, const char* group, uint16_t port) = 0;
  virtual bool Open(IRTPClientUser* user, uint16_t port) = 0;
  virtual bool Close() = 0;
  virtual void SetReceiveSize(uint32_t bytes) = 0;
  virtual void SetSelectTimeout(uint32_t ms) = 0;
  virtual uint16_t LocalPort() = 0;
};

}  // namespace norvale
