// Replays recorded RTP packet sequences (1080p H.264 with FU-A fragments, 1080p JPEG, 720p MPEG-4)
// through each depacketizer into a minimal host allocator, beside a plain memcpy of the same payload
// bytes, and prints the ratio of the two throughputs at the end.
// The sequences are recorded once per run with tests/interop/rtp_capture.py (GStreamer).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "runtime/Base64.h"
#include "runtime/StringUtils.h"
#include "streaming/CH264RTPMediaParser.h"
#include "streaming/CJpegRTPMediaParser.h"
#include "streaming/CMpeg4RTPMediaParser.h"
#include "support/FakeDriver.h"

namespace {

using Bytes = std::vector<uint8_t>;
using norvale::ipcapture::FrameBuffer;
using norvale::ipcapture::SystemTimeRecord;

// One reusable buffer: what a host that recycles its buffers costs, and nothing more.
class ReusedFrameBuffer : public FrameBuffer {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(ReusedFrameBuffer);
  void Reserved1() override {}
  uint8_t* GetData() override { return data.data(); }
  void Reserved3() override {}
  void SetLength(uint32_t n) override { length = n; }
  void Reserved5() override {}
  void SetTime(const SystemTimeRecord* t) override { time = *t; }
  void Reserved7() override {}
  void Reserved8() override {}
  void Reserved9() override {}
  void SetCode(uint32_t c) override { code = c; }
  void Reserved11() override {}
  void SetHeight(uint16_t) override {}
  void Reserved13() override {}
  void SetWidth(uint16_t) override {}
  void Reserved15() override {}
  void SetSizeClass(uint32_t) override {}

  Bytes data;
  uint32_t length = 0;
  uint32_t code = 0;
  SystemTimeRecord time{};
};

class ReusingAllocator : public norvale::ipcapture::FrameAllocator {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(ReusingAllocator);
  void Reserved1() override {}
  FrameBuffer* Allocate(uint32_t, uint32_t capacity, const char*) override {
    if (buffer.data.size() < capacity) buffer.data.resize(capacity);
    return &buffer;
  }
  void Reserved3() override {}
  void Reserved4() override {}
  void Reserved5() override {}
  void Release(FrameBuffer*) override {}
  ReusedFrameBuffer buffer;
};

class CountingClient : public norvale::IMediaParserClient {
 public:
  bool OnFrameCompleted(FrameBuffer* frame) override {
    ++frames;
    bytes += static_cast<ReusedFrameBuffer*>(frame)->length;
    return true;
  }
  std::pair<uint16_t, uint16_t> GetRequestedSize() override { return {1920, 1080}; }
  std::string GetStreamName() override { return "Zephrin::RecStream"; }
  void ConvertTime(uint32_t, SystemTimeRecord* time) override { *time = {}; }
  uint64_t frames = 0;
  uint64_t bytes = 0;
};

struct Recording {
  std::vector<norvale::CRTPPacket> packets;
  Bytes sps, pps, config;
  size_t payloadBytes = 0;
  size_t largestFrame = 0;
  std::string error;
};

Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string CapsField(const std::string& caps, const std::string& name) {
  size_t at = caps.find(name + "=");
  if (at == std::string::npos) return {};
  at = caps.find(')', at) + 1;
  if (at < caps.size() && caps[at] == '"') ++at;
  std::string value;
  for (; at < caps.size() && caps[at] != '"' && caps[at] != ',' && caps[at] != '\n'; ++at) {
    if (caps[at] == '\\' && at + 1 < caps.size()) ++at;
    value += caps[at];
  }
  return value;
}

Recording Record(const std::string& codec, const std::string& arguments) {
  Recording r;
  const std::string dir = (std::filesystem::temp_directory_path() / "zephrin-bench").string();
  std::filesystem::create_directories(dir);
  const std::string prefix = dir + "/" + codec;
  const std::string command = "/usr/bin/python3 '" ZEPHRIN_SOURCE_DIR "/tests/interop/rtp_capture.py' --codec " +
                              codec + " --out '" + prefix + "' " + arguments + " >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) {
    r.error = "recording failed: " + command;
    return r;
  }
  const Bytes data = ReadAll(prefix + ".rtp");
  size_t frame = 0;
  for (size_t pos = 0; pos + 4 <= data.size();) {
    const size_t size =
        (size_t{data[pos]} << 24) | (size_t{data[pos + 1]} << 16) | (size_t{data[pos + 2]} << 8) | data[pos + 3];
    pos += 4;
    if (size > data.size() - pos) break;
    norvale::CRTPPacket packet;
    if (packet.Parse(data.data() + pos, size)) {
      r.payloadBytes += packet.payload.size();
      frame += packet.payload.size();
      if (packet.marker) {
        r.largestFrame = std::max(r.largestFrame, frame);
        frame = 0;
      }
      r.packets.push_back(std::move(packet));
    }
    pos += size;
  }
  const Bytes capsBytes = ReadAll(prefix + ".caps");
  const std::string caps(capsBytes.begin(), capsBytes.end());
  const std::vector<std::string> sets = norvale::Split(CapsField(caps, "sprop-parameter-sets"), ",");
  if (sets.size() == 2) {
    r.sps = norvale::Base64Decode(sets[0]);
    r.pps = norvale::Base64Decode(sets[1]);
  }
  r.config = norvale::HexToBytes(CapsField(caps, "config"));
  if (r.packets.empty()) r.error = "no packets recorded";
  return r;
}

Recording& H264() {
  static Recording r = Record("h264",
                              "--width 1920 --height 1080 --fps 25 --frames 100 --bitrate 8000 "
                              "--keyint 25 --pattern zone-plate");
  return r;
}
Recording& Jpeg() {
  static Recording r = Record("jpeg",
                              "--width 1920 --height 1080 --fps 25 --frames 50 --quality 85 "
                              "--pattern zone-plate");
  return r;
}
Recording& Mpeg4() {
  static Recording r = Record("mpeg4",
                              "--width 1280 --height 720 --fps 25 --frames 100 --bitrate 6000 "
                              "--keyint 25 --pattern zone-plate");
  return r;
}

void Report(benchmark::State& state, const Recording& r) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * r.payloadBytes));
  state.counters["packets/s"] =
      benchmark::Counter(static_cast<double>(state.iterations() * r.packets.size()), benchmark::Counter::kIsRate);
}

template <typename Parser>
void Depacketize(benchmark::State& state, Recording& r) {
  if (!r.error.empty()) {
    state.SkipWithError(r.error.c_str());
    return;
  }
  zephrin::test::FakeDriver driver;
  ReusingAllocator allocator;
  CountingClient client;
  driver.frameAllocator = &allocator;
  Parser parser(&driver);
  parser.SetClient(&client);
  parser.SetParameterSets(r.sps, r.pps, r.config);
  uint16_t sequence = 0;
  for (auto _ : state) {
    for (auto& packet : r.packets) {
      // Consecutive replays continue the sequence numbers, as a live stream would.
      packet.sequenceNumber = sequence++;
      parser.ProcessPacket(packet);
    }
  }
  if (client.frames == 0) state.SkipWithError("no frame was delivered");
  state.counters["frames/s"] = benchmark::Counter(static_cast<double>(client.frames), benchmark::Counter::kIsRate);
  Report(state, r);
}

// The same payload bytes copied into one frame-sized buffer, frame after frame.
void Copy(benchmark::State& state, const Recording& r) {
  if (!r.error.empty()) {
    state.SkipWithError(r.error.c_str());
    return;
  }
  Bytes frame(r.largestFrame + 65536);
  for (auto _ : state) {
    size_t offset = 0;
    for (const auto& packet : r.packets) {
      std::memcpy(frame.data() + offset, packet.payload.data(), packet.payload.size());
      offset = packet.marker ? 0 : offset + packet.payload.size();
    }
    benchmark::DoNotOptimize(frame.data());
    benchmark::ClobberMemory();
  }
  Report(state, r);
}

void BM_H264_Depacketizer(benchmark::State& s) { Depacketize<norvale::CH264RTPMediaParser>(s, H264()); }
void BM_H264_Memcpy(benchmark::State& s) { Copy(s, H264()); }
void BM_Jpeg_Depacketizer(benchmark::State& s) { Depacketize<norvale::CJpegRTPMediaParser>(s, Jpeg()); }
void BM_Jpeg_Memcpy(benchmark::State& s) { Copy(s, Jpeg()); }
void BM_Mpeg4_Depacketizer(benchmark::State& s) { Depacketize<norvale::CMpeg4RTPMediaParser>(s, Mpeg4()); }
void BM_Mpeg4_Memcpy(benchmark::State& s) { Copy(s, Mpeg4()); }
BENCHMARK(BM_H264_Depacketizer);
BENCHMARK(BM_H264_Memcpy);
BENCHMARK(BM_Jpeg_Depacketizer);
BENCHMARK(BM_Jpeg_Memcpy);
BENCHMARK(BM_Mpeg4_Depacketizer);
BENCHMARK(BM_Mpeg4_Memcpy);

// Prints as usual and keeps every run's throughput for the ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const auto it = run.counters.find("bytes_per_second");
      if (it != run.counters.end() && !run.error_occurred) throughput[run.benchmark_name()] = it->second.value;
    }
  }
  std::map<std::string, double> throughput;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const char* codec : {"H264", "Jpeg", "Mpeg4"}) {
    const std::string name = std::string("BM_") + codec;
    const auto parser = reporter.throughput.find(name + "_Depacketizer");
    const auto copy = reporter.throughput.find(name + "_Memcpy");
    if (parser == reporter.throughput.end() || copy == reporter.throughput.end() || copy->second <= 0) continue;
    std::printf("%-6s depacketizer / memcpy throughput: %.2f (%.0f MB/s vs %.0f MB/s; target at least 0.33)\n", codec,
                parser->second / copy->second, parser->second / 1e6, copy->second / 1e6);
  }
  benchmark::Shutdown();
  return 0;
}
