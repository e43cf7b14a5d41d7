#pragma once
#include <cstdint>

namespace norvale {

// The requests of an RTSP session.
enum RTSPMethod : int {
  RTSP_DESCRIBE = 1,
  RTSP_SETUP = 2,
  RTSP_PLAY = 3,
  RTSP_TEARDOWN = 4,
  RTSP_OPTIONS = 5,
  RTSP_PAUSE = 6,
};

// The request line's method name; empty for an unknown kind.
inline const char* RTSPMethodName(int method) {
  switch (method) {
    case RTSP_DESCRIBE: return "DESCRIBE";
    case RTSP_SETUP: return "SETUP";
    case RTSP_PLAY: return "PLAY";
    case RTSP_TEARDOWN: return "TEARDOWN";
    case RTSP_OPTIONS: return "OPTIONS";
    case RTSP_PAUSE: return "PAUSE";
    default: return "";
  }
}

// The scheme of an Authorization line the client sends, and of a server's challenge.
enum AuthScheme : int { AuthNone = 0, AuthBasic = 1, AuthDigest = 2 };

}  // namespace norvale
