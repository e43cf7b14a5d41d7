#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "platform/Platform.h"
#include "platform/Socket.h"
#include "streaming/CRTCPHandler.h"
#include "support/FakeDriver.h"

namespace zephrin::test {
namespace {

using Bytes = std::vector<uint8_t>;
using norvale::CRTCPHandler;

// The camera's end of the RTCP conversation: a UDP socket on a loopback address.
class CameraSocket {
 public:
  explicit CameraSocket(const char* address = "127.0.0.1") {
    namespace platform = norvale::platform;
    socket_ = platform::CreateUdpSocket();
    const uint32_t local = platform::ResolveIPv4(address);
    bound_ = local != 0 && platform::Bind(socket_, local, 0);
  }
  ~CameraSocket() { norvale::platform::CloseSocket(socket_); }
  bool Bound() const { return bound_; }
  void SendTo(uint16_t port, const Bytes& data) {
    namespace platform = norvale::platform;
    platform::SendTo(socket_, data.data(), data.size(),
                     platform::SocketAddress::IPv4(platform::IPv4Address(127, 0, 0, 1), port));
  }
  // The next datagram within ms; empty when none comes.
  Bytes Receive(int ms) {
    namespace platform = norvale::platform;
    if (platform::WaitReadable(socket_, static_cast<uint32_t>(ms)) != platform::SocketWait::Ready) return {};
    Bytes buffer(2048);
    const int n = platform::ReceiveFrom(socket_, buffer.data(), buffer.size(), nullptr, nullptr);
    buffer.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return buffer;
  }

 private:
  norvale::platform::SocketHandle socket_;
  bool bound_ = false;
};

const uint32_t kLoopback = norvale::platform::IPv4Address(127, 0, 0, 1);

Bytes SenderReport(uint32_t ssrc, uint32_t ntpMiddle) {
  Bytes sr = {0x80,
              200,
              0,
              6,
              static_cast<uint8_t>(ssrc >> 24),
              static_cast<uint8_t>(ssrc >> 16),
              static_cast<uint8_t>(ssrc >> 8),
              static_cast<uint8_t>(ssrc),
              0xE8,
              0x01,
              static_cast<uint8_t>(ntpMiddle >> 24),
              static_cast<uint8_t>(ntpMiddle >> 16),
              static_cast<uint8_t>(ntpMiddle >> 8),
              static_cast<uint8_t>(ntpMiddle),
              0x55,
              0x66,
              0,
              0,
              0x10,
              0,
              0,
              0,
              0,
              100,
              0,
              0,
              0x20,
              0};
  return sr;
}
const Bytes kSdes = {0x81, 202, 0, 3, 0x11, 0x22, 0x33, 0x44, 1, 4, 'c', 'a', 'm', '1', 0, 0};
const Bytes kBye = {0x81, 203, 0, 1, 0x11, 0x22, 0x33, 0x44};

Bytes Join(const Bytes& a, const Bytes& b) {
  Bytes out = a;
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

// Tick counts handed out in turn: the first for the sender report's arrival, then for each report.
std::atomic<uint32_t> g_tick{0};
std::atomic<uint32_t> g_tickStep{0};
uint32_t FakeTick() { return g_tick.fetch_add(g_tickStep.load()); }

class ByeCounter : public norvale::IRTCPByeListener {
 public:
  void OnRTCPBye() override { ++count; }
  std::atomic<int> count{0};
};

class RtcpHandler : public ::testing::Test {
 protected:
  void SetUp() override {
    g_tick = 7000;
    g_tickStep = 500;
    ASSERT_TRUE(camera.Bound());
    handler.SetByeListener(&listener);
    ASSERT_TRUE(handler.Start(kLoopback, 0));
    port = handler.LocalPort();
    ASSERT_NE(port, 0);
  }

  FakeDriver driver;
  CameraSocket camera;
  ByeCounter listener;
  CRTCPHandler handler{&driver, &FakeTick};
  uint16_t port = 0;
};

uint32_t Word(const Bytes& b, size_t at) {
  return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) | b[at + 3];
}

TEST_F(RtcpHandler, SenderReportIsAnsweredWithAReceiverReportAndStopSaysGoodbye) {
  for (uint16_t s = 65533; s != 3; ++s) handler.UpdateSequence(s);
  camera.SendTo(port, Join(SenderReport(0xCAFE0001, 0xA1B2C3D4), kSdes));
  const Bytes rr = camera.Receive(3000);
  ASSERT_EQ(rr.size(), 32u);
  EXPECT_EQ(rr[0], 0x81);
  EXPECT_EQ(rr[1], 201);
  EXPECT_EQ(Word(rr, 0) & 0xFFFF, 7u);
  EXPECT_EQ(Word(rr, 4), handler.OwnSsrc());
  EXPECT_EQ(Word(rr, 8), 0xCAFE0001u);
  EXPECT_EQ(Word(rr, 12), 0u);
  EXPECT_EQ(Word(rr, 16), 65536u + 2);
  EXPECT_EQ(Word(rr, 20), 0u);
  EXPECT_EQ(Word(rr, 24), 0xA1B2C3D4u);
  EXPECT_EQ(Word(rr, 28), 32768u);  // the report went out 500 ms after the sender report came in
  EXPECT_TRUE(camera.Receive(200).empty()) << "one report per sender report";
  EXPECT_EQ(handler.ReportsSent(), 1u);

  handler.Stop();
  const Bytes bye = camera.Receive(3000);
  ASSERT_EQ(bye.size(), 8u);
  EXPECT_EQ(Bytes(bye.begin(), bye.begin() + 4), (Bytes{0x81, 203, 0, 1}));
  EXPECT_EQ(Word(bye, 4), handler.OwnSsrc());
  EXPECT_EQ(listener.count, 0);
}

TEST_F(RtcpHandler, WithoutASenderReportNothingIsEverSent) {
  handler.UpdateSequence(1);
  camera.SendTo(port, kSdes);
  camera.SendTo(port, {0x81, 201, 0, 1, 1, 2, 3, 4});
  EXPECT_TRUE(camera.Receive(300).empty());
  handler.Stop();
  EXPECT_TRUE(camera.Receive(300).empty());
}

TEST_F(RtcpHandler, ReportsFromAnotherAddressAreIgnored) {
  CameraSocket stranger("127.0.0.2");
  if (!stranger.Bound()) GTEST_SKIP() << "127.0.0.2 is not available";
  stranger.SendTo(port, SenderReport(1, 2));
  EXPECT_TRUE(stranger.Receive(300).empty());
  handler.Stop();
  EXPECT_TRUE(stranger.Receive(300).empty());
}

TEST_F(RtcpHandler, CameraByeIsPassedOnOnceAndEndsTheConversation) {
  camera.SendTo(port, SenderReport(5, 6));
  ASSERT_EQ(camera.Receive(3000).size(), 32u);
  camera.SendTo(port, kBye);
  camera.SendTo(port, kBye);
  for (int i = 0; i < 300 && listener.count == 0; ++i) usleep(10000);
  usleep(100000);
  EXPECT_EQ(listener.count, 1);
  handler.Stop();
  EXPECT_TRUE(camera.Receive(300).empty()) << "no goodbye to a camera that already left";
}

TEST_F(RtcpHandler, MalformedCompoundPacketsAreSkippedSafely) {
  Bytes shortSr = SenderReport(9, 9);
  shortSr[3] = 2;  // claims 12 bytes: too short for a sender report
  shortSr.resize(12);
  Bytes runsPast = SenderReport(9, 9);
  runsPast[3] = 40;
  Bytes wrongVersion = SenderReport(9, 9);
  wrongVersion[0] = 0x40;
  for (const Bytes& bad : {shortSr, runsPast, wrongVersion, Bytes{0x80, 200}, Bytes{}}) camera.SendTo(port, bad);
  EXPECT_TRUE(camera.Receive(300).empty());
  handler.Stop();
  EXPECT_TRUE(camera.Receive(200).empty());
}

TEST(RtcpHandlerStart, RefusesBadStarts) {
  FakeDriver driver;
  CRTCPHandler handler(&driver);
  EXPECT_FALSE(handler.Start(0, 0));
  ASSERT_TRUE(handler.Start(kLoopback, 0));
  EXPECT_FALSE(handler.Start(kLoopback, 0)) << "already open";
  const uint16_t taken = handler.LocalPort();
  CRTCPHandler other(&driver);
  EXPECT_FALSE(other.Start(kLoopback, taken)) << "port in use";
  handler.Stop();
  EXPECT_TRUE(other.Start(kLoopback, taken));
  other.Stop();
  EXPECT_NE(handler.OwnSsrc(), 0u);
}

}  // namespace
}  // namespace zephrin::test
