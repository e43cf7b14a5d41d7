#pragma once
// The stream request of one camera channel. The video settings manager writes it to the camera before
// the channel streams, so it lives here, the lowest layer that reads it; the host never sees it.
#include <cstdint>

namespace norvale {

// The stream request of one channel; passed by pointer and copied.
struct ChannelSettings {
  int32_t frameInterval = 0;  // stream value 1: ms per frame (40 = 25 frames per second)
  int32_t quality = 0;        // stream value 2: 1 to 100; kept by Restart
  uint16_t width = 0;
  uint16_t height = 0;
  int32_t streamKind = 0;  // 0 recording, 1 live, 2 remote
};

enum : int32_t { StreamRecording = 0, StreamLive = 1, StreamRemote = 2 };

}  // namespace norvale
