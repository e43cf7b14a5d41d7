#pragma once
#include <cstdint>
#include <string>
#include <utility>

#include "host/HostInterfaces.h"

namespace norvale {

// What a depacketizer needs from its channel: somewhere to deliver a finished frame, the picture size
// the channel asked the camera for, the stream name for the host's allocator and the calendar time of
// an RTP time stamp.
class IMediaParserClient {
 public:
  virtual ~IMediaParserClient() = default;  // slot 0
  // Slot 1: a filled frame buffer; false makes the depacketizer start over.
  virtual bool OnFrameCompleted(ipcapture::FrameBuffer* frame) = 0;
  // Slot 2: width and height the channel requested.
  virtual std::pair<uint16_t, uint16_t> GetRequestedSize() = 0;
  // Slot 3: passed to the frame allocator with every frame.
  virtual std::string GetStreamName() = 0;
  // Slot 4: the calendar time (UTC) of a frame's RTP time stamp.
  virtual void ConvertTime(uint32_t rtpTimestamp, ipcapture::SystemTimeRecord* time) = 0;
};

}  // namespace norvale
