#pragma once
#include <cstdint>

#include "streaming/CRTPPacket.h"
#include "streaming/SDPDescription.h"

namespace norvale {

// What an RTSP client tells its owner; every call comes on the client's thread.
class IRTSPClientUser {
 public:
  virtual ~IRTSPClientUser() = default;
  // The description of the DESCRIBE answer; true lets the session go on to SETUP.
  virtual bool OnDescribe(const SDPDescription& description) = 0;
  // One RTP packet taken from the interleaved stream of the RTSP connection.
  virtual void OnInterleavedPacket(const CRTPPacket& packet) = 0;
  // The last call of the client's thread.
  virtual void OnClientStopped() = 0;
  // After SETUP: the camera sends the stream from this IPv4 address (network order), as its
  // Transport answer names it in source=.
  virtual void OnStreamSource(uint32_t /*address*/) {}
};

}  // namespace norvale
