#pragma once
#include <cstdint>

#include "host/HostInterfaces.h"
#include "runtime/CEvent.h"
#include "videosettings/ChannelSettings.h"

namespace norvale {

// Brings a camera's encoder in line with the stream requests of its channels. One per camera,
// shared by the driver and the camera's channels.
class IVideoSettingsManager {
 public:
  virtual ~IVideoSettingsManager() = default;  // slot 0
  // Slot 1: stores the request for its stream kind and waits (at most a minute, or until stopEvent
  // is set) for a round that writes the camera's configuration; true when the round succeeded.
  // stopEvent may be null.
  virtual bool Apply(CEvent* stopEvent, int32_t codec, const ChannelSettings& settings) = 0;
  // Slot 2: without keep, every stored request is forgotten.
  virtual void Reset(bool keep) = 0;
};

}  // namespace norvale
