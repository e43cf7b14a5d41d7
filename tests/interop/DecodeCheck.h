#pragma once
// Helpers for checking delivered frames with a real decoder: run a command, record RTP captures made
// by rtp_capture.py, and ask ffprobe/ffmpeg about a stream file.
#include <cstdint>
#include <string>
#include <vector>

#include "streaming/CRTPPacket.h"
#include "support/TempDir.h"

namespace zephrin::test {

struct CommandResult {
  int status = -1;
  std::string output;  // stdout and stderr together
};
CommandResult RunCommand(const std::string& command);

std::vector<uint8_t> ReadFile(const std::string& path);
bool WriteFile(const std::string& path, const std::vector<uint8_t>& data);

// A recorded RTP stream: the packets as the payloader sent them and the payloader's caps.
struct RtpCapture {
  std::vector<norvale::CRTPPacket> packets;
  std::string caps;
  std::string elementaryStream;  // path of the encoder's own output
  bool ok = false;
  std::string error;
};
// Runs rtp_capture.py (codec h264, jpeg or mpeg4) with extra arguments into dir.
RtpCapture CaptureRtp(const TempDir& dir, const std::string& codec, const std::string& arguments);

// A caps field's text ("sprop-parameter-sets", "config"), without quotes and escapes.
std::string CapsField(const std::string& caps, const std::string& name);

struct StreamInfo {
  int width = 0;
  int height = 0;
  int frames = -1;     // frames the decoder read and decoded
  std::string errors;  // everything ffmpeg printed at level error while decoding
};
// format is an ffmpeg demuxer name (h264, mjpeg, m4v).
StreamInfo ProbeStream(const std::string& path, const std::string& format);
// One MD5 per decoded picture, in order.
std::vector<std::string> DecodedFrameHashes(const std::string& path, const std::string& format);

}  // namespace zephrin::test
