#pragma once
// One camera stream inside the driver, as the video capture object drives it.
#include <cstdint>

#include "videosettings/ChannelSettings.h"

namespace norvale {

// Channel states; the host reads 3 as 2.
enum : int32_t { ChannelStreaming = 0, ChannelSignalLost = 2, ChannelStopped = 3 };

class ICameraChannel {
 public:
  virtual ~ICameraChannel() = default;                        // slot 0
  virtual void SetHostValue(int32_t value) = 0;               // slot 1
  virtual bool Start(const ChannelSettings* settings) = 0;    // slot 2
  virtual void Stop() = 0;                                    // slot 3
  virtual bool Restart(const ChannelSettings* settings) = 0;  // slot 4: keeps the running quality
  virtual bool Query5() = 0;                                  // slot 5
  virtual bool Query6() = 0;                                  // slot 6
  virtual int32_t GetState() = 0;                             // slot 7
  // The first step of a stop, which waits for nothing: from here on the channel calls the host's
  // frame sink no more, and its thread begins to end.
  virtual void Silence() = 0;  // slot 8

  // True while this thread is inside the host's FrameSink for the given channel (OnFrame or
  // OnSignalLost): the host is calling back from there, and the channel cannot be stopped, restarted
  // or freed under it.
  static bool IsHandingFrameOnThisThread(const ICameraChannel* channel);
};

}  // namespace norvale
