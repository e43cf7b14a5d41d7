// The depacketizers against real encoders and payloaders (GStreamer) and a real decoder (ffmpeg): every
// delivered frame decodes without error, to the same pictures as the encoder's own output, with the
// size the depacketizer reported.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "interop/DecodeCheck.h"
#include "runtime/Base64.h"
#include "runtime/StringUtils.h"
#include "streaming/CH264RTPMediaParser.h"
#include "streaming/CJpegRTPMediaParser.h"
#include "streaming/CMpeg4RTPMediaParser.h"
#include "support/FakeDriver.h"
#include "support/MemoryFrameAllocator.h"

namespace zephrin::test {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kFps = 25;
constexpr int kFrames = 100;  // four seconds

struct Delivery {
  std::vector<DeliveredFrame> frames;
  size_t outstanding = 0;
  uint32_t allocations = 0;
  uint32_t releases = 0;
};

template <typename Parser>
Delivery Depacketize(const std::vector<norvale::CRTPPacket>& packets, const Bytes& sps = {}, const Bytes& pps = {},
                     const Bytes& config = {}) {
  FakeDriver driver;
  MemoryFrameAllocator allocator;
  RecordingParserClient client;
  driver.frameAllocator = &allocator;
  Parser parser(&driver);
  parser.SetClient(&client);
  parser.SetParameterSets(sps, pps, config);
  for (const auto& packet : packets) parser.ProcessPacket(packet);
  Delivery d;
  d.frames = std::move(client.frames);
  d.outstanding = allocator.Outstanding();
  d.allocations = allocator.allocations;
  d.releases = allocator.releases;
  return d;
}

Bytes Concatenate(const std::vector<DeliveredFrame>& frames) {
  Bytes out;
  for (const auto& f : frames) out.insert(out.end(), f.data.begin(), f.data.end());
  return out;
}

void ExpectSteadyTimestamps(const std::vector<DeliveredFrame>& frames) {
  for (size_t i = 1; i < frames.size(); ++i)
    EXPECT_EQ(frames[i].rtpTimestamp - frames[i - 1].rtpTimestamp, 90000u / kFps) << "frame " << i;
}

// Decodes what was delivered and what the encoder wrote itself: same number of pictures, same pictures,
// no decoder complaint, and the size the depacketizer reported.
void ExpectDecodesLikeTheEncoderOutput(const TempDir& dir, const Delivery& d, const std::string& format,
                                       const std::string& reference, int width, int height) {
  ASSERT_EQ(d.frames.size(), static_cast<size_t>(kFrames));
  EXPECT_EQ(d.outstanding, 0u);
  EXPECT_EQ(d.allocations, d.releases);
  for (const auto& f : d.frames) {
    EXPECT_EQ(f.width, width);
    EXPECT_EQ(f.height, height);
  }
  ExpectSteadyTimestamps(d.frames);

  const std::string delivered = dir.File("delivered." + format);
  Bytes stream = Concatenate(d.frames);
  if (format == "h264") {
    // Each frame ends with an access unit delimiter, so a decoder knows at once that the frame is
    // complete; in a file made of all frames the last one opens an access unit that never comes.
    const Bytes delimiter = {0, 0, 1, 0x09, 0x30};
    ASSERT_GE(stream.size(), delimiter.size());
    ASSERT_TRUE(std::equal(delimiter.begin(), delimiter.end(), stream.end() - 5));
    stream.resize(stream.size() - delimiter.size());
  }
  ASSERT_TRUE(WriteFile(delivered, stream));
  const StreamInfo info = ProbeStream(delivered, format);
  EXPECT_EQ(info.errors, "");
  EXPECT_EQ(info.width, width);
  EXPECT_EQ(info.height, height);
  EXPECT_EQ(info.frames, kFrames);

  const std::vector<std::string> ours = DecodedFrameHashes(delivered, format);
  const std::vector<std::string> theirs = DecodedFrameHashes(reference, format);
  EXPECT_EQ(ours.size(), static_cast<size_t>(kFrames));
  EXPECT_EQ(ours, theirs);
}

std::string CaptureArguments(int width, int height, const std::string& more = "") {
  return "--width " + std::to_string(width) + " --height " + std::to_string(height) + " --fps " + std::to_string(kFps) +
         " --frames " + std::to_string(kFrames) + " " + more;
}

TEST(DepacketizerInterop, H264FromGStreamerDecodesFrameForFrame) {
  TempDir dir;
  const RtpCapture capture =
      CaptureRtp(dir, "h264", CaptureArguments(1280, 720, "--bitrate 4000 --keyint 25 --pattern zone-plate"));
  ASSERT_TRUE(capture.ok) << capture.error;
  const std::string sets = CapsField(capture.caps, "sprop-parameter-sets");
  const std::vector<std::string> parts = norvale::Split(sets, ",");
  ASSERT_EQ(parts.size(), 2u) << capture.caps;
  const Bytes sps = norvale::Base64Decode(parts[0]), pps = norvale::Base64Decode(parts[1]);
  // Key frames must have been split into fragments for this to test reassembly.
  const bool fragmented = std::any_of(capture.packets.begin(), capture.packets.end(),
                                      [](const auto& p) { return !p.payload.empty() && (p.payload[0] & 0x1F) == 28; });
  EXPECT_TRUE(fragmented);

  const Delivery d = Depacketize<norvale::CH264RTPMediaParser>(capture.packets, sps, pps);
  ASSERT_FALSE(d.frames.empty());
  EXPECT_EQ(d.frames[0].code, "H264");
  const size_t keys = std::count_if(d.frames.begin(), d.frames.end(), [](const auto& f) { return f.code == "H264"; });
  EXPECT_EQ(keys, static_cast<size_t>(kFrames / 25));
  ExpectDecodesLikeTheEncoderOutput(dir, d, "h264", capture.elementaryStream, 1280, 720);

  // A lost, a repeated and two swapped packets: the damaged frames and those that depend on them are
  // not delivered, and everything that is delivered still decodes cleanly.
  std::vector<norvale::CRTPPacket> damaged = capture.packets;
  const size_t n = damaged.size();
  damaged.erase(damaged.begin() + static_cast<long>(n / 5));
  damaged.insert(damaged.begin() + static_cast<long>(n / 2), damaged[n / 2]);
  std::swap(damaged[4 * n / 5], damaged[4 * n / 5 + 1]);
  const Delivery hurt = Depacketize<norvale::CH264RTPMediaParser>(damaged, sps, pps);
  EXPECT_LT(hurt.frames.size(), d.frames.size());
  EXPECT_GE(hurt.frames.size(), static_cast<size_t>(kFrames / 4));
  EXPECT_EQ(hurt.outstanding, 0u);
  Bytes stream = Concatenate(hurt.frames);
  stream.resize(stream.size() - 5);
  const std::string path = dir.File("damaged.h264");
  ASSERT_TRUE(WriteFile(path, stream));
  const StreamInfo info = ProbeStream(path, "h264");
  EXPECT_EQ(info.errors, "");
  EXPECT_EQ(info.frames, static_cast<int>(hurt.frames.size()));
}

TEST(DepacketizerInterop, Mpeg4FromGStreamerDecodesFrameForFrame) {
  TempDir dir;
  const RtpCapture capture =
      CaptureRtp(dir, "mpeg4", CaptureArguments(704, 576, "--bitrate 3000 --keyint 25 --pattern zone-plate"));
  ASSERT_TRUE(capture.ok) << capture.error;
  const Bytes config = norvale::HexToBytes(CapsField(capture.caps, "config"));
  ASSERT_FALSE(config.empty()) << capture.caps;

  const Delivery d = Depacketize<norvale::CMpeg4RTPMediaParser>(capture.packets, {}, {}, config);
  ASSERT_FALSE(d.frames.empty());
  EXPECT_EQ(d.frames[0].code, "DIVX");
  ExpectDecodesLikeTheEncoderOutput(dir, d, "m4v", capture.elementaryStream, 704, 576);

  // Without the description the configuration comes from the stream.
  const Delivery inBand = Depacketize<norvale::CMpeg4RTPMediaParser>(capture.packets);
  EXPECT_EQ(Concatenate(inBand.frames), Concatenate(d.frames));
}

TEST(DepacketizerInterop, JpegFromGStreamerDecodesFrameForFrame) {
  TempDir dir;
  const RtpCapture capture = CaptureRtp(dir, "jpeg", CaptureArguments(640, 480, "--quality 85"));
  ASSERT_TRUE(capture.ok) << capture.error;
  ASSERT_GE(capture.packets[0].payload.size(), 8u);
  EXPECT_GE(capture.packets[0].payload[5], 128) << "the payloader sends its tables in-band";

  const Delivery d = Depacketize<norvale::CJpegRTPMediaParser>(capture.packets);
  ASSERT_FALSE(d.frames.empty());
  EXPECT_EQ(d.frames[0].code, "JPEG");
  ExpectDecodesLikeTheEncoderOutput(dir, d, "mjpeg", capture.elementaryStream, 640, 480);
}

// ---- RTP/JPEG packets made here from baseline JPEG files ----------------------------------------------

struct JpegImage {
  int width = 0, height = 0;
  uint8_t lumaSampling = 0;
  uint16_t restartInterval = 0;
  bool hasRestart = false;
  std::vector<Bytes> tables;  // 64-byte tables in id order
  Bytes scan;                 // entropy-coded data, restart markers included, without the end marker
};

// Splits a stream of concatenated baseline JPEG files.
std::vector<JpegImage> ParseJpegs(const Bytes& data) {
  std::vector<JpegImage> images;
  size_t pos = 0;
  while (pos + 4 <= data.size() && data[pos] == 0xFF && data[pos + 1] == 0xD8) {
    JpegImage image;
    pos += 2;
    bool scan = false;
    while (!scan && pos + 4 <= data.size() && data[pos] == 0xFF) {
      const uint8_t marker = data[pos + 1];
      const size_t length = (size_t{data[pos + 2]} << 8) | data[pos + 3];
      const uint8_t* body = data.data() + pos + 4;
      if (pos + 2 + length > data.size()) return {};
      if (marker == 0xDB) {
        for (size_t i = 0; i + 65 <= length - 2; i += 65) {
          const size_t id = body[i] & 0x0F;
          if (image.tables.size() <= id) image.tables.resize(id + 1);
          image.tables[id].assign(body + i + 1, body + i + 65);
        }
      } else if (marker == 0xC0) {
        image.height = (body[1] << 8) | body[2];
        image.width = (body[3] << 8) | body[4];
        image.lumaSampling = body[7];
      } else if (marker == 0xDD) {
        image.hasRestart = true;
        image.restartInterval = static_cast<uint16_t>((body[0] << 8) | body[1]);
      } else if (marker == 0xDA) {
        scan = true;
      }
      pos += 2 + length;
    }
    const size_t start = pos;
    while (pos + 1 < data.size() && !(data[pos] == 0xFF && data[pos + 1] != 0 && (data[pos + 1] & 0xF8) != 0xD0)) ++pos;
    image.scan.assign(data.begin() + start, data.begin() + pos);
    if (pos + 1 >= data.size() || data[pos + 1] != 0xD9) return {};
    pos += 2;
    images.push_back(std::move(image));
  }
  return images;
}

std::vector<norvale::CRTPPacket> Packetize(const std::vector<JpegImage>& images, uint8_t q, bool inBandTables) {
  std::vector<norvale::CRTPPacket> packets;
  uint16_t sequence = 40000;
  uint32_t timestamp = 12345;
  for (const JpegImage& image : images) {
    const uint8_t type = static_cast<uint8_t>((image.lumaSampling == 0x21 ? 0 : 1) + (image.hasRestart ? 64 : 0));
    size_t offset = 0;
    do {
      Bytes payload = {0,
                       static_cast<uint8_t>(offset >> 16),
                       static_cast<uint8_t>(offset >> 8),
                       static_cast<uint8_t>(offset),
                       type,
                       q,
                       static_cast<uint8_t>(image.width / 8),
                       static_cast<uint8_t>(image.height / 8)};
      if (image.hasRestart) {
        payload.insert(payload.end(), {static_cast<uint8_t>(image.restartInterval >> 8),
                                       static_cast<uint8_t>(image.restartInterval), 0xFF, 0xFF});
      }
      if (offset == 0 && inBandTables) {
        Bytes tables;
        for (const Bytes& t : image.tables) tables.insert(tables.end(), t.begin(), t.end());
        payload.insert(payload.end(),
                       {0, 0, static_cast<uint8_t>(tables.size() >> 8), static_cast<uint8_t>(tables.size())});
        payload.insert(payload.end(), tables.begin(), tables.end());
      }
      const size_t n = std::min<size_t>(1400 - payload.size(), image.scan.size() - offset);
      payload.insert(payload.end(), image.scan.begin() + offset, image.scan.begin() + offset + n);
      offset += n;
      norvale::CRTPPacket packet;
      packet.sequenceNumber = sequence++;
      packet.timestamp = timestamp;
      packet.marker = offset == image.scan.size();
      packet.payloadType = 26;
      packet.payload = std::move(payload);
      packets.push_back(std::move(packet));
    } while (offset < image.scan.size());
    timestamp += 90000 / kFps;
  }
  return packets;
}

TEST(DepacketizerInterop, JpegWithTablesFromTheQFactorDecodesFrameForFrame) {
  TempDir dir;
  const RtpCapture capture = CaptureRtp(dir, "jpeg", CaptureArguments(640, 480, "--quality 60"));
  ASSERT_TRUE(capture.ok) << capture.error;
  const std::vector<JpegImage> images = ParseJpegs(ReadFile(capture.elementaryStream));
  ASSERT_EQ(images.size(), static_cast<size_t>(kFrames));
  // The encoder scales the standard tables by its quality exactly as the payload format's Q does.
  Bytes q60(128);
  norvale::CJpegRTPMediaParser::MakeTables(60, q60.data());
  ASSERT_EQ(images[0].tables.size(), 2u);
  ASSERT_EQ(images[0].tables[0], Bytes(q60.begin(), q60.begin() + 64));
  ASSERT_EQ(images[0].tables[1], Bytes(q60.begin() + 64, q60.end()));

  const Delivery d = Depacketize<norvale::CJpegRTPMediaParser>(Packetize(images, 60, false));
  ExpectDecodesLikeTheEncoderOutput(dir, d, "mjpeg", capture.elementaryStream, 640, 480);
}

TEST(DepacketizerInterop, JpegWithRestartIntervalAndInBandTablesDecodesFrameForFrame) {
  TempDir dir;
  const std::string reference = dir.File("restart.mjpeg");
  // Sliced encoding makes the encoder use restart markers.
  const CommandResult encode = RunCommand(
      "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=800x600:rate=" + std::to_string(kFps) + " -frames:v " +
      std::to_string(kFrames) +
      " -c:v mjpeg -huffman default -threads 4 -slices 4 -pix_fmt yuvj420p -q:v 4 -f mjpeg '" + reference + "'");
  ASSERT_EQ(encode.status, 0) << encode.output;
  const std::vector<JpegImage> images = ParseJpegs(ReadFile(reference));
  ASSERT_EQ(images.size(), static_cast<size_t>(kFrames));
  ASSERT_TRUE(images[0].hasRestart);
  ASSERT_GT(images[0].restartInterval, 0);

  const Delivery d = Depacketize<norvale::CJpegRTPMediaParser>(Packetize(images, 255, true));
  ExpectDecodesLikeTheEncoderOutput(dir, d, "mjpeg", reference, 800, 600);
}

}  // namespace
}  // namespace zephrin::test
