#pragma once
// Writes the frames the driver delivers into a container file (MP4, Matroska, AVI, QuickTime) with
// libavformat, so that any player opens the recording. Each frame's time stamp is the frame time the
// driver set, counted from the first frame written.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVStream;

namespace zephrin::host {

class MediaFileWriter {
 public:
  // True for names this writer serves (.mp4, .m4v, .mkv, .avi, .mov); other names are written raw.
  static bool Serves(const std::string& path);

  explicit MediaFileWriter(std::string path);
  ~MediaFileWriter();
  MediaFileWriter(const MediaFileWriter&) = delete;
  MediaFileWriter& operator=(const MediaFileWriter&) = delete;

  // Checks that the file can be created in the format its name asks for; false with Error() set.
  bool Open();
  // One frame: its four-character code ("H264"/"I264", "DIVX"/"DIVI", "JPEG"), picture size (0 when
  // the driver did not set it), time in milliseconds on any fixed scale, and its bytes. The file
  // starts at the first key frame; frames before it are skipped. False after a write error.
  bool Write(uint32_t fourCC, uint16_t width, uint16_t height, int64_t timeMs, const uint8_t* data, size_t size);
  // Writes the last frame and the index; false when that or any earlier write failed.
  bool Finish();

  uint64_t FramesWritten() const { return written_; }
  // From the first frame's time to the end of the last one written.
  int64_t DurationMs() const { return endMs_; }
  uint64_t FramesSkipped() const { return skipped_; }
  const std::string& Error() const { return error_; }

 private:
  enum class Codec { None, H264, Mpeg4, Jpeg };
  struct Pending {
    std::vector<uint8_t> data;
    int64_t timeMs = 0;
    bool key = false;
  };
  bool Start(Codec codec, uint16_t width, uint16_t height, const uint8_t* data, size_t size);
  // Writes the held frame, lasting until nextMs.
  bool Flush(int64_t nextMs);
  bool Fail(const std::string& what, int code);

  std::string path_;
  AVFormatContext* format_ = nullptr;
  AVStream* stream_ = nullptr;
  Codec codec_ = Codec::None;
  bool headerWritten_ = false;
  bool failed_ = false;
  bool finished_ = false;
  bool holding_ = false;
  Pending pending_;
  int64_t firstMs_ = 0;
  int64_t lastDuration_ = 40;
  int64_t endMs_ = 0;
  uint64_t written_ = 0;
  uint64_t skipped_ = 0;
  std::string error_;
};

}  // namespace zephrin::host
