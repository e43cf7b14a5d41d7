#include "MediaFileWriter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace zephrin::host {

namespace {

constexpr uint32_t FourCC(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) | (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8) |
         (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24);
}

constexpr AVRational kMilliseconds{1, 1000};

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

// Offset of the next 00 00 01 at or after from, or size.
size_t NextStartCode(const uint8_t* data, size_t size, size_t from) {
  for (size_t i = from; i + 3 <= size; ++i)
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) return i;
  return size;
}

// The sequence and picture parameter sets of an Annex B access unit, each behind a four-byte start
// code, as the muxers take them for the stream's decoder configuration.
std::vector<uint8_t> H264ParameterSets(const uint8_t* data, size_t size) {
  std::vector<uint8_t> sets;
  size_t start = NextStartCode(data, size, 0);
  while (start < size) {
    const size_t nal = start + 3;
    size_t end = NextStartCode(data, size, nal);
    const size_t next = end;
    while (end > nal && data[end - 1] == 0) --end;  // the zero byte of a four-byte start code
    const int type = nal < size ? data[nal] & 0x1F : 0;
    if ((type == 7 || type == 8) && end > nal) {
      static const uint8_t kStartCode[4] = {0, 0, 0, 1};
      sets.insert(sets.end(), kStartCode, kStartCode + 4);
      sets.insert(sets.end(), data + nal, data + end);
    }
    start = next;
  }
  return sets;
}

// An MPEG-4 key frame carries the stream configuration (visual object sequence, object and object
// layer headers) before its first VOP.
std::vector<uint8_t> Mpeg4Configuration(const uint8_t* data, size_t size) {
  for (size_t at = NextStartCode(data, size, 0); at + 3 < size; at = NextStartCode(data, size, at + 3))
    if (data[at + 3] == 0xB6) return std::vector<uint8_t>(data, data + at);
  return {};
}

}  // namespace

bool MediaFileWriter::Serves(const std::string& path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return false;
  std::string extension = path.substr(dot + 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
  return extension == "mp4" || extension == "m4v" || extension == "mkv" || extension == "avi" || extension == "mov";
}

MediaFileWriter::MediaFileWriter(std::string path) : path_(std::move(path)) {}

MediaFileWriter::~MediaFileWriter() {
  if (!finished_) Finish();
  if (format_) {
    if (format_->pb) avio_closep(&format_->pb);
    avformat_free_context(format_);
  }
}

bool MediaFileWriter::Fail(const std::string& what, int code) {
  failed_ = true;
  if (error_.empty()) error_ = code != 0 ? what + ": " + AvError(code) : what;
  return false;
}

bool MediaFileWriter::Open() {
  const int status = avformat_alloc_output_context2(&format_, nullptr, nullptr, path_.c_str());
  if (status < 0 || !format_) return Fail("no container format for " + path_, status);
  const int opened = avio_open(&format_->pb, path_.c_str(), AVIO_FLAG_WRITE);
  if (opened < 0) return Fail("cannot write " + path_, opened);
  return true;
}

bool MediaFileWriter::Start(Codec codec, uint16_t width, uint16_t height, const uint8_t* data, size_t size) {
  const AVCodecID id = codec == Codec::H264    ? AV_CODEC_ID_H264
                       : codec == Codec::Mpeg4 ? AV_CODEC_ID_MPEG4
                                               : AV_CODEC_ID_MJPEG;
  const char* name = codec == Codec::H264 ? "H.264" : codec == Codec::Mpeg4 ? "MPEG-4" : "JPEG";
  if (avformat_query_codec(format_->oformat, id, FF_COMPLIANCE_NORMAL) == 0)
    return Fail(
        std::string("a ") + format_->oformat->long_name + " file cannot hold " + name + " video (" + path_ + ")", 0);
  if (width == 0 || height == 0) return Fail(std::string("the first ") + name + " key frame has no picture size", 0);
  stream_ = avformat_new_stream(format_, nullptr);
  if (!stream_) return Fail("cannot add a video stream to " + path_, AVERROR(ENOMEM));
  AVCodecParameters* parameters = stream_->codecpar;
  parameters->codec_type = AVMEDIA_TYPE_VIDEO;
  parameters->codec_id = id;
  parameters->width = width;
  parameters->height = height;
  const std::vector<uint8_t> configuration = codec == Codec::H264    ? H264ParameterSets(data, size)
                                             : codec == Codec::Mpeg4 ? Mpeg4Configuration(data, size)
                                                                     : std::vector<uint8_t>();
  if (!configuration.empty()) {
    parameters->extradata = static_cast<uint8_t*>(av_mallocz(configuration.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!parameters->extradata) return Fail("out of memory", AVERROR(ENOMEM));
    std::memcpy(parameters->extradata, configuration.data(), configuration.size());
    parameters->extradata_size = static_cast<int>(configuration.size());
  }
  stream_->time_base = kMilliseconds;
  const int status = avformat_write_header(format_, nullptr);
  if (status < 0) return Fail("cannot start " + path_, status);
  headerWritten_ = true;
  codec_ = codec;
  return true;
}

bool MediaFileWriter::Write(uint32_t fourCC, uint16_t width, uint16_t height, int64_t timeMs, const uint8_t* data,
                            size_t size) {
  if (failed_ || finished_ || !format_) return false;
  Codec codec = Codec::None;
  bool key = false;
  if (fourCC == FourCC('H', '2', '6', '4') || fourCC == FourCC('I', '2', '6', '4')) {
    codec = Codec::H264;
    key = fourCC == FourCC('H', '2', '6', '4');
  } else if (fourCC == FourCC('D', 'I', 'V', 'X') || fourCC == FourCC('D', 'I', 'V', 'I')) {
    codec = Codec::Mpeg4;
    key = fourCC == FourCC('D', 'I', 'V', 'X');
  } else if (fourCC == FourCC('J', 'P', 'E', 'G')) {
    codec = Codec::Jpeg;
    key = true;
  }
  if (!data || size == 0 || codec == Codec::None || (headerWritten_ && codec != codec_) || (!headerWritten_ && !key)) {
    ++skipped_;
    return true;
  }
  if (!headerWritten_) {
    if (!Start(codec, width, height, data, size)) return false;
    firstMs_ = timeMs;
  }
  if (holding_) {
    // Time stamps must grow; a frame time that went back still gets the next millisecond.
    if (timeMs <= pending_.timeMs) timeMs = pending_.timeMs + 1;
    if (!Flush(timeMs)) return false;
  }
  pending_.data.assign(data, data + size);
  pending_.timeMs = std::max(timeMs, firstMs_);
  pending_.key = key;
  holding_ = true;
  return true;
}

bool MediaFileWriter::Flush(int64_t nextMs) {
  holding_ = false;
  AVPacket* packet = av_packet_alloc();
  if (!packet) return Fail("out of memory", AVERROR(ENOMEM));
  int status = av_new_packet(packet, static_cast<int>(pending_.data.size()));
  if (status == 0) {
    std::memcpy(packet->data, pending_.data.data(), pending_.data.size());
    lastDuration_ = std::max<int64_t>(nextMs - pending_.timeMs, 1);
    packet->pts = packet->dts = pending_.timeMs - firstMs_;
    packet->duration = lastDuration_;
    packet->stream_index = stream_->index;
    if (pending_.key) packet->flags |= AV_PKT_FLAG_KEY;
    av_packet_rescale_ts(packet, kMilliseconds, stream_->time_base);
    status = av_write_frame(format_, packet);
  }
  av_packet_free(&packet);
  if (status < 0) return Fail("writing " + path_ + " failed", status);
  ++written_;
  endMs_ = pending_.timeMs - firstMs_ + lastDuration_;
  return true;
}

bool MediaFileWriter::Finish() {
  if (finished_) return !failed_;
  finished_ = true;
  if (!format_) return false;
  if (holding_ && !failed_) Flush(pending_.timeMs + lastDuration_);
  if (headerWritten_) {
    const int status = av_write_trailer(format_);
    if (status < 0) Fail("finishing " + path_ + " failed", status);
  } else if (!failed_) {
    Fail("no key frame arrived; nothing was written to " + path_, 0);
  }
  if (format_->pb) {
    const int status = avio_closep(&format_->pb);
    if (status < 0) Fail("closing " + path_ + " failed", status);
  }
  // A file without a header is no recording; leave none behind.
  if (!headerWritten_) std::remove(path_.c_str());
  return !failed_;
}

}  // namespace zephrin::host
