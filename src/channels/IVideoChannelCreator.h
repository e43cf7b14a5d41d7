#pragma once
// The driver's channel factory, used by the video capture object.
#include <cstdint>

#include "channels/ICameraChannel.h"
#include "host/HostInterfaces.h"

namespace norvale {

class IVideoChannelCreator {
 public:
  virtual ~IVideoChannelCreator() = default;                                                              // slot 0
  virtual ICameraChannel* CreateChannel(uint32_t camera, ipcapture::FrameSink* sink, int32_t codec) = 0;  // slot 1
  virtual ICameraChannel* CreateCompanionChannel(uint32_t camera, ipcapture::FrameSink* sink) = 0;        // slot 2
};

}  // namespace norvale
