#pragma once
#include <cstddef>
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
    case RTSP_DESCRIBE:
      return "DESCRIBE";
    case RTSP_SETUP:
      return "SETUP";
    case RTSP_PLAY:
      return "PLAY";
    case RTSP_TEARDOWN:
      return "TEARDOWN";
    case RTSP_OPTIONS:
      return "OPTIONS";
    case RTSP_PAUSE:
      return "PAUSE";
    default:
      return "";
  }
}

// Interleaved frames share the RTSP connection with the replies: '$', a channel byte, a 16-bit
// length, the data. A reply never starts with '$', but its text may hold one, followed by more text.
constexpr uint8_t kInterleavedSync = 0x24;  // '$'
constexpr size_t kInterleavedHeaderSize = 4;

// True when the byte after a '$' is the channel of a frame, false when it is a byte RTSP text holds
// (printable, tab, CR or LF): that '$' is then a stray byte, not a frame start. The client asks for
// channels 0 and 1, so no frame of its session is mistaken for text.
inline bool IsInterleavedChannel(uint8_t b) {
  const bool text = (b >= 0x20 && b <= 0x7E) || b == '\t' || b == '\r' || b == '\n';
  return !text;
}

// The scheme of an Authorization line the client sends, and of a server's challenge.
enum AuthScheme : int { AuthNone = 0, AuthBasic = 1, AuthDigest = 2 };

}  // namespace norvale
