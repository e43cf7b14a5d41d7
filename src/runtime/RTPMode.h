#pragma once
#include <cstdint>

namespace norvale {

// How RTP reaches the driver, as the device configuration file chooses it; the RTP channels and the
// RTSP client take the number as it is.
enum RTPMode : int32_t {
  RTPoverUDP = 0,  // to a pair of local UDP ports
  RTPoverTCP = 1,
  RTPoverRTSP = 2,  // interleaved in the RTSP connection
};

}  // namespace norvale
