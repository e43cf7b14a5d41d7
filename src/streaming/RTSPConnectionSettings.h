#pragma once
#include <cstdint>
#include <string>

#include "streaming/RTSPTypes.h"
#include "streaming/SDPDescription.h"

namespace norvale {

// How an RTSP client reaches its server; copied into the client at start.
struct RTSPConnectionSettings {
  uint16_t serverPort = 554;
  uint16_t clientRTPPort = 0;
  uint16_t clientRTCPPort = 0;
  std::string host;  // host name or dotted address
  std::string user;
  std::string password;
  uint32_t connectTimeout = 5000;  // ms
  uint32_t receiveTimeout = 5000;  // ms
  uint32_t receiveBufferSize = 65536;
  uint32_t sendTimeout = 1000;    // ms
  uint32_t keepAlivePeriod = 60;  // s, when the server announces no session timeout
  AuthScheme authScheme = AuthScheme::None;
  std::string path;                              // stream path on the server
  SDPMediaSlot mediaSlot = SDPMediaSlot::Video;  // the media of the description that is set up
  // The encoding name that media must have (as in its rtpmap, e.g. H264); empty takes any. A media
  // whose encoding is not known (no rtpmap, a dynamic payload format) is taken as well.
  std::string encoding;
  std::string range;  // Range of PLAY and PAUSE; empty for "npt=0.000-"
};

}  // namespace norvale
