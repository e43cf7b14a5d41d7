#pragma once

namespace norvale {

// How the RTP packets of a stream travel from the camera.
enum RTPMode : int {
  RTPoverUDP = 0,   // to a pair of local UDP ports named in SETUP
  RTPoverTCP = 1,   // interleaved in the RTSP connection, read after PLAY
  RTPoverRTSP = 2,  // interleaved in the RTSP connection, read after PLAY
};

}  // namespace norvale
