// A rude host against a simulated camera: for a bounded time, with a fixed seed, every callback of the
// driver may block past the stop limits, call the driver from inside, or have another thread call it
// at that moment. The driver must survive it, answer every call within its limit, hand every frame
// buffer back, and leave no thread or descriptor behind once it is deleted.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "host/HostInterfaces.h"
#include "support/CamSimProcess.h"
#include "support/HostObjects.h"
#include "support/LiveDriverTest.h"
#ifndef _WIN32
#include "support/ProcessCounts.h"
#endif
#include "support/RudeHost.h"
#include "support/RudeSession.h"

namespace {

using namespace norvale::ipcapture;
using zephrin::test::CamSimProcess;
using zephrin::test::RudeHost;
using zephrin::test::RudeSession;
using zephrin::test::TestDeviceSource;
using zephrin::test::TestFrameAllocator;

// The longest a host call may take: a stop gives each thread it ends twice the network time-out
// (5 s by default), and the parts of a stream end one after another inside that.
constexpr double kHostCallLimitMs = 2 * 5000 + 5000;
constexpr auto kSession = std::chrono::seconds(45);

class RudeHostTest : public ::testing::Test, protected zephrin::test::LiveDriverTest {
 protected:
  void SetUp() override {
#ifdef _WIN32
    GTEST_SKIP() << "the session counts the process's threads and descriptors, which only a POSIX build can";
#endif
    LoadDriver();
  }
};

TEST_F(RudeHostTest, SeededSessionSurvivesAndCleansUp) {
  CamSimProcess::Options options;
  options.address = "127.0.0.71";
  options.rtsp = true;
  options.profile = "ptz-dome";
  options.user = "operator";
  options.password = "secret";
  CamSimProcess camera(options);
  ASSERT_TRUE(camera.Ready()) << camera.Error();
  TestDeviceSource device;
  device.connection.address = options.address;
  device.connection.port = camera.HttpPort();
  device.connection.user = "operator";
  device.connection.password = "secret";
  device.camera.model = "ELMO DH620";
  const char* params[] = {"1", "3", "DH620", "2.4.1", "", "", "", "720p,d1,vga,cif,qvga", "0"};
  for (uint32_t n = 1; n <= 9; ++n)
    if (*params[n - 1]) device.SetParam(n, params[n - 1]);

#ifndef _WIN32
  const size_t threadsBefore = zephrin::test::Threads();
  const size_t descriptorsBefore = zephrin::test::OpenFiles();
#endif
  TestFrameAllocator allocator;
  RudeHost::Options rudeness;
  rudeness.seed =
      std::getenv("ZEPHRIN_RUDE_SEED") ? static_cast<uint32_t>(std::atoi(std::getenv("ZEPHRIN_RUDE_SEED"))) : 1;
  rudeness.reenterPerMille = 100;
  rudeness.concurrentPerMille = 60;
  RudeHost host(rudeness);
  size_t frames = 0, reclaimed = 0;
  {
    RudeSession session(host, create_, delete_, &device, &allocator);
    ASSERT_TRUE(session.Open());
    const auto end = std::chrono::steady_clock::now() + kSession;
    for (uint32_t turn = 0; std::chrono::steady_clock::now() < end; ++turn) {
      std::this_thread::sleep_for(std::chrono::milliseconds(700));
      // The host's own thread takes part too, and faults on the camera's side give signal losses.
      // Every fourth turn the stream is started again (slower than a stream takes to come up), so
      // that the callbacks keep coming.
      if (turn % 2) session.Perform(static_cast<RudeHost::Call>(turn / 2 % RudeHost::kCalls), false);
      if (turn % 8 == 0) session.Perform(RudeHost::Call::StartCapture, false);
      if (turn % 15 == 7) camera.Control("/camsim/rtsp-fault?path=*&close=1");
    }
    frames = session.Sink().frames;
    host.Calm();
    session.Delete("end of session");
#ifndef _WIN32
    // A thread the driver abandoned inside the host ends when the host lets it go; give it a moment.
    for (int i = 0;
         i < 100 && (zephrin::test::Threads() != threadsBefore || zephrin::test::OpenFiles() != descriptorsBefore); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
#endif
    // Frames the host held while a delete of the driver returned are the host's to free.
    reclaimed = session.Sink().ReclaimKept(allocator);
  }

  std::string longest;
  const double longestMs = host.LongestMs(&longest);
  std::printf(
      "rude host: %zu frames (%zu kept by the host after a delete), %zu blocked callbacks, %zu calls from inside, "
      "%zu from another thread; longest call %.0f ms (%s)\n",
      frames, reclaimed, host.blocks.load(), host.reentries.load(), host.concurrent.load(), longestMs, longest.c_str());
  EXPECT_LE(longestMs, kHostCallLimitMs) << longest;
  EXPECT_GT(frames, 0u);
  EXPECT_GT(host.reentries.load() + host.concurrent.load(), 0u);
  EXPECT_TRUE(allocator.Balanced()) << allocator.Outstanding() << " outstanding, " << allocator.BadReleases()
                                    << " bad releases";
#ifndef _WIN32
  EXPECT_EQ(zephrin::test::Threads(), threadsBefore);
  EXPECT_EQ(zephrin::test::OpenFiles(), descriptorsBefore);
#endif
}

}  // namespace
