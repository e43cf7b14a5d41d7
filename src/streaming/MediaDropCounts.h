#pragma once
#include <cstdint>
#include <string>

namespace norvale {

// Why a depacketizer threw data away, counted from its construction on. A field problem reads off
// these: loss points at the network, malformed or unsupported packets at the camera, refusals and
// allocation failures at the host.
struct MediaDropCounts {
  uint64_t loss = 0;              // sequence gaps; each discards the frame being assembled
  uint64_t malformed = 0;         // payloads too short or inconsistent for their format, frames whose
                                  // headers cannot be read or rebuilt
  uint64_t unsupported = 0;       // H.264 packet types not taken (STAP-B, MTAP, FU-B, 0, 30, 31)
  uint64_t badFuA = 0;            // H.264 FU-A packets too short to carry a fragment
  uint64_t oversize = 0;          // frames grown past the largest frame size
  uint64_t noKeyFrame = 0;        // frames that ended while waiting for one that decodes on its own
                                  // (H.264 with an SPS, MPEG-4 I-VOP, JPEG with its first fragment)
  uint64_t allocationFailed = 0;  // the host's allocator handed out no buffer
  uint64_t copyFailed = 0;        // the buffer had no data pointer or too little room
  uint64_t refused = 0;           // the host's frame sink refused the frame
  uint64_t failed = 0;            // the packet handling failed inside (out of memory)
  // Dropped before the depacketizer, by the UDP receiver:
  uint64_t duplicate = 0;  // packets handed on or held already, or arriving after their gap was given up
  uint64_t foreign = 0;    // packets from a sender that is neither the device nor the stream's source

  uint64_t Total() const {
    return loss + malformed + unsupported + badFuA + oversize + noKeyFrame + allocationFailed + copyFailed + refused +
           failed + duplicate + foreign;
  }
  // "loss 2, malformed 0, ..." with every reason in the order above.
  std::string Text() const;
};

}  // namespace norvale
