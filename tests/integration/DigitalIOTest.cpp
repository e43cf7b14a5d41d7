// Digital I/O through the driver the host opened, against simulated cameras: outputs switched off at
// start and once per change, input changes reported, and a camera that stops answering.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <utility>

#include "host/HostInterfaces.h"
#include "support/CamSimProcess.h"
#include "support/HostLibrary.h"
#include "support/HostObjects.h"
#include "support/IOSinkRecorder.h"
#ifndef _WIN32
#include "support/ProcessCounts.h"
#endif
#include "support/WaitUntil.h"

namespace {

using namespace norvale::ipcapture;
using zephrin::test::CamSimProcess;
using zephrin::test::HostLibrary;
using zephrin::test::RecordingIOSink;
using zephrin::test::RecordingLogSink;
using zephrin::test::TestDeviceSource;
using zephrin::test::TestFrameAllocator;

const std::string kOutputOff1 = "GET /cgi-bin/io/output.cgi?action=1:\\ 200";
const std::string kOutputOff2 = "GET /cgi-bin/io/output.cgi?action=2:\\ 200";
const std::string kOutputOn1 = "GET /cgi-bin/io/output.cgi?action=1:/ 200";

size_t CountLines(const std::vector<std::string>& log, const std::string& line) {
  return static_cast<size_t>(std::count(log.begin(), log.end(), line));
}

using zephrin::test::WaitUntil;

class DigitalIO : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(library_.IsLoaded()) << library_.Error();
    create_ = library_.Function<CreateIPCaptureFn>("CreateIPCapture");
    delete_ = library_.Function<DeleteObjectFn>("DeleteIPCapture");
    ASSERT_TRUE(create_ && delete_);
  }
  void TearDown() override {
    if (driver_) {
      if (ICaptureIOApi* io = driver_->GetIOApi()) io->StopIO();
      driver_->Close();
      delete_(driver_);
    }
  }

  // Starts a camera and opens the driver for it with the I/O counts the capability query reported.
  ICaptureIOApi* Open(const std::string& address, const std::string& profile, int32_t inputs, int32_t outputs,
                      const std::string& auth = "digest") {
    CamSimProcess::Options options;
    options.address = address;
    options.profile = profile;
    options.auth = auth;
    camera_ = std::make_unique<CamSimProcess>(options);
    EXPECT_TRUE(camera_->Ready()) << camera_->Error();
    if (!camera_->Ready()) return nullptr;
    device_.connection.address = address;
    device_.connection.port = camera_->HttpPort();
    device_.camera.value1 = inputs;
    device_.camera.value2 = outputs;
    device_.SetParam(1, "1");
    driver_ = create_();
    EXPECT_TRUE(driver_->Open(&log_, &allocator_, &device_));
    ICaptureIOApi* io = driver_->GetIOApi();
    EXPECT_NE(io, nullptr);
    if (io) {
      EXPECT_TRUE(io->SetCallback(&sink_));
    }
    return io;
  }

  HostLibrary library_{"Zephrin"};
  CreateIPCaptureFn create_ = nullptr;
  DeleteObjectFn delete_ = nullptr;
  std::unique_ptr<CamSimProcess> camera_;
  RecordingLogSink log_;
  TestFrameAllocator allocator_;
  TestDeviceSource device_;
  RecordingIOSink sink_;
  IIPCaptureDriverEx5* driver_ = nullptr;
};

TEST_F(DigitalIO, OutputsAreSwitchedOffAtStartAndEachChangeGoesOutOnce) {
  // Basic authentication: libcurl's Digest answer puts the raw backslash of "action=1:\" into a
  // quoted uri, which a strict Digest parser reads as an escaped quote.
  ICaptureIOApi* io = Open("127.0.0.40", "ptz-dome", 0, 2, "basic");
  ASSERT_NE(io, nullptr);
  EXPECT_EQ(io->GetInputCount(), 0u);
  EXPECT_EQ(io->GetOutputCount(), 2u);
  ASSERT_TRUE(io->StartIO());
  ASSERT_TRUE(WaitUntil(
      [&] {
        auto log = camera_->RequestLog();
        return CountLines(log, kOutputOff1) == 1 && CountLines(log, kOutputOff2) == 1;
      },
      10000));
  EXPECT_TRUE(io->SetOutputState(0, 2));
  EXPECT_TRUE(io->SetOutputState(0, 2));
  ASSERT_TRUE(WaitUntil([&] { return CountLines(camera_->RequestLog(), kOutputOn1) == 1; }, 10000));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto log = camera_->RequestLog();
  EXPECT_EQ(CountLines(log, kOutputOn1), 1u);
  EXPECT_EQ(CountLines(log, kOutputOff1), 1u);
  EXPECT_EQ(sink_.Failures(), 0u);
  EXPECT_TRUE(io->StopIO());
  EXPECT_FALSE(io->SetOutputState(1, 2));
}

TEST_F(DigitalIO, InputChangesAreReported) {
  ICaptureIOApi* io = Open("127.0.0.41", "ptz-dome", 2, 0);
  ASSERT_NE(io, nullptr);
  ASSERT_TRUE(io->StartIO());
  // The first poll reports both inputs inactive.
  ASSERT_TRUE(sink_.WaitForChanges(2, 10000));
  auto changes = sink_.Changes();
  EXPECT_EQ(changes[0].input, 0u);
  EXPECT_EQ(changes[0].state, 1u);
  EXPECT_EQ(changes[1].input, 1u);
  EXPECT_EQ(changes[1].state, 1u);
  ASSERT_TRUE(camera_->Control("/camsim/input?port=2&state=1"));
  ASSERT_TRUE(sink_.WaitForChanges(3, 10000));
  changes = sink_.Changes();
  EXPECT_EQ(changes[2].input, 1u);
  EXPECT_EQ(changes[2].state, 2u);
  // Unchanged inputs are not reported again.
  std::this_thread::sleep_for(std::chrono::milliseconds(3200));
  EXPECT_EQ(sink_.Changes().size(), 3u);
  EXPECT_EQ(sink_.Failures(), 0u);
}

TEST_F(DigitalIO, ACameraThatStopsAnsweringIsLoggedOnceAndFailsEveryPoll) {
  ICaptureIOApi* io = Open("127.0.0.42", "ptz-dome", 1, 0);
  ASSERT_NE(io, nullptr);
  ASSERT_TRUE(io->StartIO());
  ASSERT_TRUE(sink_.WaitForChanges(1, 10000));
  ASSERT_TRUE(camera_->Control("/camsim/fault?path=%2Fcgi-bin%2Fio%2Finput.cgi&close=1"));
  ASSERT_TRUE(sink_.WaitForFailures(3, 15000));  // one per poll
  EXPECT_EQ(log_.Count("GetInputStates() method failed! Device 127.0.0.42:" + std::to_string(camera_->HttpPort())), 1u);
  // Once the camera answers again the input is reported anew; the next failure is logged again.
  ASSERT_TRUE(camera_->Control("/camsim/fault?clear=1"));
  ASSERT_TRUE(sink_.WaitForChanges(2, 15000));
  EXPECT_EQ(sink_.Changes()[1].state, 1u);
  ASSERT_TRUE(camera_->Control("/camsim/fault?path=%2Fcgi-bin%2Fio%2Finput.cgi&close=1"));
  const size_t failures = sink_.Failures();
  ASSERT_TRUE(sink_.WaitForFailures(failures + 1, 15000));
  // The line follows the host's notification.
  EXPECT_TRUE(WaitUntil([&] { return log_.Count("GetInputStates() method failed!") == 2; }, 5000));
  ASSERT_TRUE(sink_.WaitForFailures(failures + 2, 15000));
  EXPECT_EQ(log_.Count("GetInputStates() method failed!"), 2u);
  EXPECT_EQ(log_.LevelOf("GetInputStates() method failed!"), 1);
}

// A host whose input sink waits on the host's own work while the host closes and deletes the driver:
// both return while the poll thread is still inside. The sink and the log hear nothing more once they
// have, and the driver's threads end when the host lets go.
TEST_F(DigitalIO, CloseAndDeleteReturnWhileThePollIsHeldInTheHost) {
  struct HeldSink : RecordingIOSink {
    std::atomic<bool> hold{true}, inside{false};
    std::atomic<int> calls{0};
    void InputStateChanged(uint32_t, uint32_t) override {
      ++calls;
      inside = true;
      // No cancellation point in the wait, so that terminating the thread cannot cut it short.
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(40);
      while (hold && std::chrono::steady_clock::now() < until) std::this_thread::yield();
      inside = false;
    }
  } held;
  ICaptureIOApi* io = Open("127.0.0.44", "ptz-dome", 2, 0);
  ASSERT_NE(io, nullptr);
#ifndef _WIN32
  const size_t threads = zephrin::test::Threads();
#endif
  ASSERT_TRUE(io->SetCallback(&held));
  ASSERT_TRUE(io->StartIO());
  ASSERT_TRUE(WaitUntil([&] { return held.inside.load(); }, 10000));
  driver_->Close();
  EXPECT_TRUE(held.inside) << "Close waited for the host's call to return";
  const int callsAtClose = held.calls;
  delete_(std::exchange(driver_, nullptr));
  EXPECT_TRUE(held.inside) << "the delete waited for the host's call to return";
  const size_t lines = log_.Size();
  held.hold = false;
#ifndef _WIN32
  EXPECT_TRUE(WaitUntil([&] { return zephrin::test::Threads() <= threads; }, 10000))
      << "the deleted driver's threads did not end";
#endif
  EXPECT_EQ(held.calls, callsAtClose) << "the poll called the host after Close returned";
  EXPECT_EQ(log_.Size(), lines) << "the driver wrote into the host's log after its delete returned";
}

TEST_F(DigitalIO, ACameraWithoutIOHasNothingToDo) {
  ICaptureIOApi* io = Open("127.0.0.43", "box-mpeg4", 0, 0);
  ASSERT_NE(io, nullptr);
  ASSERT_TRUE(io->StartIO());
  EXPECT_FALSE(io->SetOutputState(0, 2));
  std::this_thread::sleep_for(std::chrono::milliseconds(1700));
  EXPECT_EQ(camera_->CountRequests("/cgi-bin/io/"), 0u);
  EXPECT_TRUE(io->StopIO());
}

}  // namespace
