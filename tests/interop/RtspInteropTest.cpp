// The RTSP client and RTP reception against GStreamer's RTSP server (tests/interop/rtsp_test_server.py):
// every transport mode, every codec and every authentication scheme.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "streaming/CBaseRTSPClient.h"
#include "streaming/CRTPReceiver.h"
#include "streaming/CUDPClient.h"
#include "support/FakeDriver.h"
#include "support/WaitUntil.h"

namespace {

using Clock = std::chrono::steady_clock;

using zephrin::test::WaitUntil;

uint16_t FreeTcpPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  socklen_t length = sizeof sa;
  getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length);
  close(fd);
  return ntohs(sa.sin_port);
}

// The GStreamer server as a child process; its output lines are collected as they come.
class GstRtspServerProcess {
 public:
  GstRtspServerProcess(const std::string& auth, int sessionTimeout) {
    port_ = FreeTcpPort();
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return;
    const std::string script = std::string(ZEPHRIN_INTEROP_DIR) + "/rtsp_test_server.py";
    const std::string port = std::to_string(port_);
    const std::string timeout = std::to_string(sessionTimeout);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(pipeFds[1], STDOUT_FILENO);
      close(pipeFds[0]);
      close(pipeFds[1]);
      execl("/usr/bin/python3", "python3", script.c_str(), "--address", "127.0.0.1", "--port", port.c_str(), "--auth",
            auth.c_str(), "--user", "viewer", "--password", "pa55word", "--session-timeout", timeout.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(pipeFds[1]);
    fd_ = pipeFds[0];
    reader_ = std::thread([this] { Read(); });
    ready_ = WaitUntil([this] { return Count("READY") > 0 || exited_; }, 20000) && !exited_;
  }
  ~GstRtspServerProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      if (!WaitUntil([this] { return exited_.load(); }, 5000)) kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (reader_.joinable()) reader_.join();
    if (fd_ >= 0) close(fd_);
  }

  bool Ready() const { return ready_; }
  uint16_t Port() const { return port_; }
  size_t Count(const std::string& prefix) {
    std::lock_guard<std::mutex> lock(m_);
    size_t n = 0;
    for (const auto& line : lines_) n += line.rfind(prefix, 0) == 0;
    return n;
  }
  std::vector<std::string> Lines(const std::string& prefix) {
    std::lock_guard<std::mutex> lock(m_);
    std::vector<std::string> out;
    for (const auto& line : lines_)
      if (line.rfind(prefix, 0) == 0) out.push_back(line);
    return out;
  }

 private:
  void Read() {
    std::string pending;
    char buffer[1024];
    for (;;) {
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n <= 0) break;
      pending.append(buffer, static_cast<size_t>(n));
      for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
        std::lock_guard<std::mutex> lock(m_);
        lines_.push_back(pending.substr(0, end));
        pending.erase(0, end + 1);
      }
    }
    exited_ = true;
  }

  pid_t pid_ = -1;
  int fd_ = -1;
  uint16_t port_ = 0;
  bool ready_ = false;
  std::atomic<bool> exited_{false};
  std::thread reader_;
  std::mutex m_;
  std::vector<std::string> lines_;
};

// One server per authentication scheme, shared by the cases that use it.
GstRtspServerProcess& ServerFor(const std::string& auth) {
  static std::array<std::unique_ptr<GstRtspServerProcess>, 3> servers;
  const size_t index = auth == "none" ? 0 : auth == "basic" ? 1 : 2;
  // A short session timeout: a UDP session that is not kept alive expires within the test.
  if (!servers[index]) servers[index] = std::make_unique<GstRtspServerProcess>(auth, 3);
  return *servers[index];
}

// Takes packets from the RTSP client (interleaved modes) and the RTP receiver (UDP mode) alike.
class StreamUser : public norvale::IRTSPClientUser, public norvale::IRTPReceiverUser {
 public:
  bool OnDescribe(const norvale::SDPDescription& description) override {
    std::lock_guard<std::mutex> lock(m);
    described = description;
    ++describeCalls;
    return true;
  }
  void OnInterleavedPacket(const norvale::CRTPPacket& packet) override { Add(packet); }
  void OnClientStopped() override { ++stopped; }
  void OnRTPPacket(const norvale::platform::SocketAddress&, const norvale::CRTPPacket& packet) override { Add(packet); }
  void OnRTPTimeout() override {}
  void OnRTPClosed() override {}

  void Add(const norvale::CRTPPacket& packet) {
    std::lock_guard<std::mutex> lock(m);
    arrivals.push_back(Clock::now());
    payloadTypes.push_back(packet.payloadType);
  }
  size_t Packets() {
    std::lock_guard<std::mutex> lock(m);
    return arrivals.size();
  }

  std::mutex m;
  norvale::SDPDescription described;
  std::atomic<int> describeCalls{0};
  std::atomic<int> stopped{0};
  std::vector<Clock::time_point> arrivals;
  std::vector<uint8_t> payloadTypes;
};

// The RTP port pair of UDP mode: the receiver on an even port, a UDP client taking RTCP beside it.
class RtpPorts : public norvale::IRTPClientUser {
 public:
  RtpPorts(norvale::IDriver* driver, norvale::IRTPReceiverUser* user) : receiver(driver), rtcp(driver) {
    receiver.SetUser(user);
    for (uint16_t port = static_cast<uint16_t>(30000 + (getpid() % 500) * 40); port < 60000; port += 2) {
      if (!receiver.Start(port)) continue;
      if (rtcp.Open(this, static_cast<uint16_t>(port + 1))) {
        rtpPort = port;
        return;
      }
      receiver.Stop();
    }
  }
  ~RtpPorts() override {
    rtcp.Close();
    receiver.Stop();
  }
  void OnClientPacket(norvale::IRTPClient*, const norvale::platform::SocketAddress&, const uint8_t*, size_t) override {}
  void OnClientTimeout(norvale::IRTPClient*) override {}
  void OnClientClosed(norvale::IRTPClient*) override {}

  norvale::CRTPReceiver receiver;
  norvale::CUDPClient rtcp;
  uint16_t rtpPort = 0;
};

const char* ModeName(int mode) {
  return mode == norvale::RTPoverUDP ? "UDP" : mode == norvale::RTPoverTCP ? "TCP" : "RTSP";
}

using Case = std::tuple<std::string, norvale::RTPMode, std::string>;  // codec, mode, auth

class GstRtspInterop : public testing::TestWithParam<Case> {};

TEST_P(GstRtspInterop, SessionStreamsPacketsOfTheCodecUntilTeardown) {
  const auto& [codec, mode, auth] = GetParam();
  GstRtspServerProcess& server = ServerFor(auth);
  ASSERT_TRUE(server.Ready()) << "the GStreamer RTSP test server did not start";
  const size_t teardownsBefore = server.Count("REQUEST TEARDOWN");
  const size_t optionsBefore = server.Count("REQUEST OPTIONS");

  zephrin::test::FakeDriver driver;
  StreamUser user;
  std::unique_ptr<RtpPorts> ports;
  norvale::RTSPConnectionSettings settings;
  settings.host = "127.0.0.1";
  settings.serverPort = server.Port();
  settings.path = codec;
  if (auth != "none") {
    settings.user = "viewer";
    settings.password = "pa55word";
  }
  if (mode == norvale::RTPoverUDP) {
    ports = std::make_unique<RtpPorts>(&driver, &user);
    ASSERT_NE(ports->rtpPort, 0);
    settings.clientRTPPort = ports->rtpPort;
    settings.clientRTCPPort = static_cast<uint16_t>(ports->rtpPort + 1);
  }

  norvale::CBaseRTSPClient client(&driver);
  ASSERT_TRUE(client.Start(settings, &user, mode));
  ASSERT_TRUE(WaitUntil([&] { return user.Packets() > 0; }, 15000))
      << "no RTP packet arrived; description seen " << user.describeCalls
      << " times; client log: " << (driver.Lines().empty() ? std::string("(empty)") : driver.Lines().back().text);
  // Watch the stream for a few seconds: longer than the session timeout, so that a UDP session
  // lives only if the keep-alive works.
  std::this_thread::sleep_for(std::chrono::milliseconds(4000));
  const size_t optionsDuringStream = server.Count("REQUEST OPTIONS") - optionsBefore;
  client.Stop();
  EXPECT_TRUE(WaitUntil([&] { return server.Count("REQUEST TEARDOWN") > teardownsBefore; }, 5000));
  EXPECT_EQ(user.stopped, 1);

  // The description.
  ASSERT_EQ(user.describeCalls, 1);
  const norvale::SDPDescription& d = user.described;
  if (codec == "h264") {
    EXPECT_EQ(d.video.encoding, "H264/90000");
    ASSERT_FALSE(d.sps.empty());
    ASSERT_FALSE(d.pps.empty());
    EXPECT_EQ(d.sps[0] & 0x1F, 7);
    EXPECT_EQ(d.pps[0] & 0x1F, 8);
  } else if (codec == "mpeg4") {
    EXPECT_EQ(d.video.encoding, "MP4V-ES/90000");
    ASSERT_GE(d.config.size(), 4u);
    EXPECT_EQ(d.config[0], 0x00);
    EXPECT_EQ(d.config[1], 0x00);
    EXPECT_EQ(d.config[2], 0x01);
  } else {
    EXPECT_EQ(d.video.encoding, "JPEG/90000");
  }

  // The transport the server was asked for.
  const auto setups = server.Lines("REQUEST SETUP");
  ASSERT_FALSE(setups.empty());
  if (mode == norvale::RTPoverUDP)
    EXPECT_EQ(setups.back(), "REQUEST SETUP RTP/AVP;unicast;client_port=" + std::to_string(settings.clientRTPPort) +
                                 "-" + std::to_string(settings.clientRTCPPort));
  else
    EXPECT_EQ(setups.back(), "REQUEST SETUP RTP/AVP/TCP;unicast;interleaved=0-1");
  // Keep-alives went out while the stream ran, in the interleaved modes too.
  EXPECT_GE(optionsDuringStream, 1u);

  // Packets of the codec's payload type kept arriving, without a gap, for the whole watch.
  std::lock_guard<std::mutex> lock(user.m);
  const uint8_t expectedType = codec == "jpeg" ? 26 : 96;
  for (uint8_t type : user.payloadTypes) ASSERT_EQ(type, expectedType);
  ASSERT_GE(user.arrivals.size(), 20u);
  EXPECT_GE(user.arrivals.back() - user.arrivals.front(), std::chrono::milliseconds(3500));
  for (size_t i = 1; i < user.arrivals.size(); ++i)
    ASSERT_LT(user.arrivals[i] - user.arrivals[i - 1], std::chrono::milliseconds(2000)) << "gap after packet " << i;
}

// Every pair of codec, mode and authentication scheme occurs once.
INSTANTIATE_TEST_SUITE_P(
    AllModesCodecsAndSchemes, GstRtspInterop,
    testing::Values(Case{"h264", norvale::RTPoverUDP, "none"}, Case{"h264", norvale::RTPoverTCP, "basic"},
                    Case{"h264", norvale::RTPoverRTSP, "digest"}, Case{"jpeg", norvale::RTPoverUDP, "basic"},
                    Case{"jpeg", norvale::RTPoverTCP, "digest"}, Case{"jpeg", norvale::RTPoverRTSP, "none"},
                    Case{"mpeg4", norvale::RTPoverUDP, "digest"}, Case{"mpeg4", norvale::RTPoverTCP, "none"},
                    Case{"mpeg4", norvale::RTPoverRTSP, "basic"}),
    [](const testing::TestParamInfo<Case>& info) {
      return std::get<0>(info.param) + "_" + ModeName(std::get<1>(info.param)) + "_" + std::get<2>(info.param);
    });

TEST(GstRtspInteropAuth, WrongPasswordFailsDescribe) {
  for (const std::string auth : {"basic", "digest"}) {
    GstRtspServerProcess& server = ServerFor(auth);
    ASSERT_TRUE(server.Ready());
    zephrin::test::FakeDriver driver;
    StreamUser user;
    norvale::RTSPConnectionSettings settings;
    settings.host = "127.0.0.1";
    settings.serverPort = server.Port();
    settings.path = "h264";
    settings.user = "viewer";
    settings.password = "wrong";
    norvale::CBaseRTSPClient client(&driver);
    ASSERT_TRUE(client.Start(settings, &user, norvale::RTPoverRTSP));
    ASSERT_TRUE(WaitUntil([&] { return user.stopped == 1; }, 10000)) << auth;
    client.Stop();
    EXPECT_EQ(user.describeCalls, 0) << auth;
    EXPECT_TRUE(driver.Contains("DESCRIBE")) << auth;
  }
}

}  // namespace
