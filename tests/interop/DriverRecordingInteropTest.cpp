// The whole driver, loaded as the host loads it, records from GStreamer's RTSP server in each way RTP
// can travel (UDP, TCP, interleaved in the RTSP connection), and ffmpeg decodes every delivered frame.
// The camera's CGI side (which the driver asks before it streams) comes from zephrin-camsim on the
// same loopback address; the RTSP server takes port 554 there, which needs root.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DecodeCheck.h"
#include "host/HostInterfaces.h"
#include "support/CamSimProcess.h"
#include "support/HostLibrary.h"
#include "support/HostObjects.h"
#include "support/StreamSettings.h"

namespace {

namespace fs = std::filesystem;
using namespace norvale::ipcapture;
using zephrin::test::CamSimProcess;
using zephrin::test::HostLibrary;
using zephrin::test::RecordingFrameSink;
using zephrin::test::RecordingLogSink;
using zephrin::test::TempDir;
using zephrin::test::TestDeviceSource;
using zephrin::test::TestFrameAllocator;
using zephrin::test::TestStreamSettings;

// tests/interop/rtsp_test_server.py on port 554 of an address, until destroyed. Its UDP packets leave
// from that address, as a camera's do, since the driver keeps only the device's packets.
class RtspServer {
 public:
  RtspServer(const std::string& address, const std::string& auth) {
    int out[2];
    if (pipe(out) != 0) return;
    const std::string script = std::string(ZEPHRIN_INTEROP_DIR) + "/rtsp_test_server.py";
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      close(out[1]);
      execl("/usr/bin/python3", "python3", script.c_str(), "--address", address.c_str(), "--port", "554", "--auth",
            auth.c_str(), "--user", "operator", "--password", "secret", "--fps", "25", "--udp-from-address",
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    file_ = fdopen(out[0], "r");
    char line[256];
    while (file_ && std::fgets(line, sizeof line, file_))
      if (std::string(line).rfind("READY", 0) == 0) {
        ready_ = true;
        break;
      }
  }
  ~RtspServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (file_) std::fclose(file_);
  }
  bool Ready() const { return ready_; }

 private:
  pid_t pid_ = -1;
  FILE* file_ = nullptr;
  bool ready_ = false;
};

std::string ExecutableDirectory() { return fs::read_symlink("/proc/self/exe").parent_path().string(); }

struct Case {
  const char* name;
  const char* mode;  // RTPMode text of the device configuration file
  const char* auth;
  int32_t codec;
  const char* format;  // ffmpeg demuxer
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class DriverRecording : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root: the RTSP server listens on port 554 of a loopback address";
    // The device configuration file beside the host executable chooses how RTP travels.
    configPath_ = ExecutableDirectory() + "/Zephrin.xml";
    if (fs::exists(configPath_)) GTEST_SKIP() << configPath_ << " exists already; not overwriting it";
  }
  void TearDown() override {
    if (!configPath_.empty() && wroteConfig_) fs::remove(configPath_);
  }

  std::string configPath_;
  bool wroteConfig_ = false;
};

TEST_P(DriverRecording, EveryDeliveredFrameDecodes) {
  const Case& c = GetParam();
  const std::string address = "127.0.0.61";

  CamSimProcess::Options options;
  options.address = address;
  options.rtsp = false;
  options.profile = "nh222";
  options.user = "operator";
  options.password = "secret";
  options.auth = std::string(c.auth) == "none" ? "none" : c.auth;
  CamSimProcess cgi(options);
  ASSERT_TRUE(cgi.Ready()) << cgi.Error();
  RtspServer server(address, c.auth);
  ASSERT_TRUE(server.Ready());

  std::ofstream(configPath_) << "<Configuration><Device address=\"" << address << "\" port=\"" << cgi.HttpPort()
                             << "\"><RTPMode>" << c.mode << "</RTPMode></Device></Configuration>";
  wroteConfig_ = true;

  HostLibrary library("Zephrin");
  ASSERT_TRUE(library.IsLoaded()) << library.Error();
  auto create = library.Function<CreateIPCaptureFn>("CreateIPCaptureEx5");
  auto destroy = library.Function<DeleteObjectFn>("DeleteIPCaptureEx5");
  ASSERT_TRUE(create && destroy);

  RecordingLogSink log;
  TestFrameAllocator allocator;
  TestDeviceSource device;
  device.connection.address = address;
  device.connection.port = cgi.HttpPort();
  device.connection.user = "operator";
  device.connection.password = "secret";
  device.camera.model = "ELMO NH222";
  for (const auto& [number, text] : std::vector<std::pair<uint32_t, std::string>>{
           {1, "0"}, {2, "6"}, {3, "NH222"}, {8, "d1,vga,cif,qvga"}, {9, "0"}})
    device.SetParam(number, text);
  IIPCaptureDriverEx5* driver = create();
  ASSERT_TRUE(driver->Open(&log, &allocator, &device));

  RecordingFrameSink sink;
  sink.SetKeepData(true);
  TestStreamSettings settings;
  settings.format.codec = c.codec;
  settings.format.resolution = {320, 240};
  settings.rate.frameInterval = 40;
  ASSERT_TRUE(driver->GetVideoCapture()->StartCapture(0, &sink, &settings));
  const bool enough = sink.WaitForFrames(40, 30000);
  driver->GetVideoCapture()->StopCapture(0);
  driver->Close();
  destroy(driver);
  ASSERT_TRUE(enough) << sink.FrameCount() << " frames";
  EXPECT_TRUE(allocator.Balanced());
  EXPECT_EQ(log.Count("cannot be stopped"), 0u);

  TempDir dir;
  std::vector<uint8_t> stream;
  const auto frames = sink.Frames();
  for (const auto& frame : frames) stream.insert(stream.end(), frame.data.begin(), frame.data.end());
  if (c.codec == CodecH264 && stream.size() >= 5) stream.resize(stream.size() - 5);  // the last delimiter
  const std::string path = dir.File(std::string("recording.") + c.format);
  ASSERT_TRUE(zephrin::test::WriteFile(path, stream));
  const zephrin::test::StreamInfo info = zephrin::test::ProbeStream(path, c.format);
  EXPECT_EQ(info.errors, "");
  EXPECT_EQ(info.width, 320);
  EXPECT_EQ(info.height, 240);
  if (c.codec == CodecMPEG4)
    EXPECT_GE(info.frames, static_cast<int>(frames.size()));  // a payload may carry several pictures
  else
    EXPECT_EQ(info.frames, static_cast<int>(frames.size()));
}

INSTANTIATE_TEST_SUITE_P(Transports, DriverRecording,
                         ::testing::Values(Case{"H264OverUDPWithDigest", "RTPoverUDP", "digest", CodecH264, "h264"},
                                           Case{"H264OverTCPWithBasic", "RTPoverTCP", "basic", CodecH264, "h264"},
                                           Case{"H264InterleavedWithoutAuth", "RTPoverRTSP", "none", CodecH264, "h264"},
                                           Case{"JPEGOverUDP", "RTPoverUDP", "digest", CodecJPEG, "mjpeg"},
                                           Case{"MPEG4Interleaved", "RTPoverRTSP", "basic", CodecMPEG4, "m4v"}),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
