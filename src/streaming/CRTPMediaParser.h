#pragma once
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/FourCC.h"
#include "host/HostInterfaces.h"
#include "runtime/IDriver.h"
#include "streaming/CRTPPacket.h"
#include "streaming/IMediaParserClient.h"
#include "streaming/MediaDropCounts.h"

namespace norvale {

// The common part of the RTP depacketizers: turns the ordered RTP packets of one video stream into
// whole compressed frames and hands each one to the client in a frame buffer of the host's allocator.
// Any gap in the sequence numbers, malformed payload, oversize frame or failed hand-over makes the
// depacketizer start over (Reset); the kinds then wait for a frame they can decode on its own. Every
// such drop is counted under its reason (Drops). A frame ends with its marker bit, or, for a camera
// that does not set it, when a packet with another time stamp follows a complete frame.
class CRTPMediaParser {
 public:
  // Largest frame assembled; a larger one is discarded.
  static constexpr size_t kMaxFrameSize = 10485760;

  explicit CRTPMediaParser(IDriver* driver);
  virtual ~CRTPMediaParser();  // slot 0
  CRTPMediaParser(const CRTPMediaParser&) = delete;
  CRTPMediaParser& operator=(const CRTPMediaParser&) = delete;

  // Slot 1: one packet, in receive order. Never throws.
  virtual void ProcessPacket(const CRTPPacket& packet);
  // Slot 2: drops the frame being assembled and waits for a fresh start.
  virtual void Reset();
  // Slot 3: the codec parameters a session description announced (H.264 SPS and PPS NAL units,
  // MPEG-4 configuration bytes); empty when absent.
  virtual void SetParameterSets(const std::vector<uint8_t>& sps, const std::vector<uint8_t>& pps,
                                const std::vector<uint8_t>& config);

  void SetClient(IMediaParserClient* client) { client_ = client; }

  size_t FrameBufferSize() const { return frame_.size(); }
  uint16_t Width() const { return width_; }
  uint16_t Height() const { return height_; }

  // What was thrown away and why, since construction. May be read from any thread.
  MediaDropCounts Drops() const;

  // Capacity asked from the allocator for a frame of n bytes, rounded up so the host can reuse buffers.
  static uint32_t CapacityClass(size_t n);
  // The picture size class passed with each frame.
  static uint32_t SizeClass(uint16_t width, uint16_t height);

 protected:
  // The kind's packet handling, after the sequence check. May throw (allocation); the caller resets.
  virtual void HandlePacket(const CRTPPacket& packet) = 0;
  // Completes the frame in the buffer and hands it on; the buffer is emptied afterwards by the caller.
  virtual void ProcessFrame(uint32_t timestamp) = 0;
  // True when the buffer holds a frame that may be handed on without its marker bit.
  virtual bool FrameComplete() const { return !frame_.empty(); }

  // Appends to the frame buffer.
  void Append(const uint8_t* data, size_t size) { frame_.insert(frame_.end(), data, data + size); }
  // False (with the overflow line logged) when the frame buffer has grown past its cap.
  bool CheckBufferSize();
  // Runs ProcessFrame for the finished frame and empties the buffer.
  void CompleteFrame(uint32_t timestamp);

  enum class DropReason {
    Loss,
    Malformed,
    Unsupported,
    BadFuA,
    Oversize,
    NoKeyFrame,
    AllocationFailed,
    CopyFailed,
    Refused,
    Failed,
    Count
  };
  void CountDrop(DropReason reason) { drops_[static_cast<size_t>(reason)].fetch_add(1, std::memory_order_relaxed); }

  // The error line a kind logs when its frame cannot be allocated or filled: a format with "%s" for
  // the function and "%s" for the device name, and the function.
  struct HandOverFailureLine {
    const char* format;
    const char* signature;  // the caller's __PRETTY_FUNCTION__: its name is read only when a line is written
  };
  // The last hop inside the depacketizer: obtains a frame buffer from the host's allocator, fills it
  // with head followed by body (width, height, size class, time and code included) and hands it to
  // the client, which passes it to the host's frame sink. The buffer is released to the allocator in
  // every case. An allocation or copy failure logs failureLine; a failure or a refusal resets the
  // depacketizer. True when the frame was taken.
  bool HandOverFrame(uint32_t fourCC, uint32_t capacity, const uint8_t* head, size_t headSize, const uint8_t* body,
                     size_t bodySize, uint32_t timestamp, const HandOverFailureLine& failureLine);

  IDriver* driver_;
  uint16_t lastSequence_ = 0;
  bool firstPacket_ = true;
  IMediaParserClient* client_ = nullptr;
  std::vector<uint8_t> frame_;
  std::vector<uint8_t> sps_;
  std::vector<uint8_t> pps_;
  std::vector<uint8_t> config_;
  uint16_t width_ = 0;
  uint16_t height_ = 0;

 private:
  // After an overflow the rest of that frame is skipped up to its last packet.
  bool skipToFrameEnd_ = false;
  uint32_t frameTimestamp_ = 0;  // of the packets in the frame buffer, or of the frame being skipped
  bool overflowed_ = false;
  std::array<std::atomic<uint64_t>, static_cast<size_t>(DropReason::Count)> drops_{};
};

}  // namespace norvale
