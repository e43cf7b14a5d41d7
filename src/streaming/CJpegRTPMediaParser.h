#pragma once
#include <cstddef>
#include <cstdint>

#include "streaming/CRTPMediaParser.h"

namespace norvale {

// JPEG over RTP (RFC 2435) to complete JFIF images: the headers the payload format leaves out (tables,
// frame and scan headers) are rebuilt in front of the scan data of each frame.
class CJpegRTPMediaParser : public CRTPMediaParser {
 public:
  // Room for the rebuilt JFIF headers in front of the scan data.
  static constexpr size_t kHeaderArea = 1024;

  explicit CJpegRTPMediaParser(IDriver* driver);

  void Reset() override;

  // Builds the JFIF headers for the RTP/JPEG headers at the start of a frame (as received in its first
  // packet). Writes at most kHeaderArea bytes to out and sets the header size and the offset of the
  // scan data in the frame; false when the headers are truncated, inconsistent or of an unsupported
  // type.
  static bool BuildJfifHeaders(const uint8_t* frame, size_t frameSize, uint16_t width, uint16_t height, uint8_t* out,
                               size_t* outSize, size_t* scanOffset);
  // The quantization tables for a Q factor (1 to 99): luminance then chrominance, 64 bytes each in
  // zigzag order.
  static void MakeTables(int q, uint8_t* tables);

 protected:
  void HandlePacket(const CRTPPacket& packet) override;
  void ProcessFrame(uint32_t timestamp) override;
  // The payload shows no end of a frame: only a camera that never marks one has its frames completed
  // by the next time stamp; from one that does, a frame without its marker was cut short.
  bool FrameComplete() const override { return !markerSeen_ && !frame_.empty(); }

 private:
  bool waitingForFirstFragment_ = true;
  bool markerSeen_ = false;
  size_t headerLength_ = 8;
};

}  // namespace norvale
