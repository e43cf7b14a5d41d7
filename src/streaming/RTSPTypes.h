#pragma once
#include <cstddef>
#include <cstdint>

namespace norvale {

// The requests of an RTSP session.
enum class RTSPMethod : int {
  Describe = 1,
  Setup = 2,
  Play = 3,
  Teardown = 4,
  Options = 5,
  Pause = 6,
  GetParameter = 7,  // without a body: a keep-alive for servers that offer it
};

// The request line's method name; empty for an unknown kind.
inline const char* RTSPMethodName(RTSPMethod method) {
  switch (method) {
    case RTSPMethod::Describe:
      return "DESCRIBE";
    case RTSPMethod::Setup:
      return "SETUP";
    case RTSPMethod::Play:
      return "PLAY";
    case RTSPMethod::Teardown:
      return "TEARDOWN";
    case RTSPMethod::Options:
      return "OPTIONS";
    case RTSPMethod::Pause:
      return "PAUSE";
    case RTSPMethod::GetParameter:
      return "GET_PARAMETER";
  }
  return "";
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
enum class AuthScheme : int { None = 0, Basic = 1, Digest = 2 };

}  // namespace norvale
