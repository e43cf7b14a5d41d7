// Digital I/O as the host sees it: outputs switched off at start and switched once per change,
// input changes reported, and failures reported per attempt but logged once per run of failures.
#include "camera/CIOBase.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "support/FakeDriver.h"
#include "support/IOSinkRecorder.h"
#include "support/WaitUntil.h"

namespace norvale {
namespace {

using zephrin::test::FakeDriver;
using zephrin::test::RecordingIOSink;

using zephrin::test::WaitUntil;

std::vector<std::pair<uint32_t, uint32_t>> Changes(RecordingIOSink& sink) {
  std::vector<std::pair<uint32_t, uint32_t>> changes;
  for (const auto& change : sink.Changes()) changes.emplace_back(change.input, change.state);
  return changes;
}
int Failures(RecordingIOSink& sink) { return static_cast<int>(sink.Failures()); }

// A camera whose inputs and whose answers to output commands the test sets.
class ScriptedIO : public CIOBase {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(ScriptedIO);
  explicit ScriptedIO(IDriver* driver) : CIOBase(driver) {}
  ~ScriptedIO() override { StopWorkers(); }

  void SetInputs(std::vector<uint32_t> states) {
    std::lock_guard<std::mutex> lock(mutex_);
    inputs_ = std::move(states);
  }
  void FailInputs(bool fail) { failInputs_ = fail; }
  void FailOutputs(bool fail) { failOutputs_ = fail; }
  std::vector<std::pair<uint32_t, uint32_t>> commands() {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
  }
  int polls() { return polls_; }

 protected:
  bool SetCameraOutput(uint32_t index, uint32_t state) override {
    std::lock_guard<std::mutex> lock(mutex_);
    commands_.emplace_back(index, state);
    return !failOutputs_;
  }
  bool ReadCameraInputs(uint32_t count) override {
    ++polls_;
    if (failInputs_) return false;
    std::vector<uint32_t> states;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      states = inputs_;
    }
    for (uint32_t i = 0; i < count && i < states.size(); ++i) RecordInputState(i, states[i]);
    return true;
  }

 private:
  std::mutex mutex_;
  std::vector<uint32_t> inputs_;
  std::vector<std::pair<uint32_t, uint32_t>> commands_;
  std::atomic<bool> failInputs_{false};
  std::atomic<bool> failOutputs_{false};
  std::atomic<int> polls_{0};
};

using Commands = std::vector<std::pair<uint32_t, uint32_t>>;

struct Device {
  FakeDriver driver;
  RecordingIOSink sink;
  std::unique_ptr<ScriptedIO> io;
  Device(int32_t inputs, int32_t outputs) {
    driver.deviceInfo.address = "127.0.0.5";
    driver.deviceInfo.port = 80;
    driver.cameraValues = {inputs, outputs};
    io = std::make_unique<ScriptedIO>(&driver);
    EXPECT_TRUE(io->SetCallback(&sink));
  }
};

TEST(DigitalOutputs, EveryOutputIsSwitchedOffAtStartAndEachChangeIsSentOnce) {
  Device d(0, 2);
  ASSERT_TRUE(d.io->StartIO());
  ASSERT_TRUE(WaitUntil([&] { return d.io->commands().size() == 2; }));
  EXPECT_EQ(d.io->commands(), (Commands{{0, IOStateInactive}, {1, IOStateInactive}}));

  EXPECT_TRUE(d.io->SetOutputState(0, IOStateActive));
  EXPECT_TRUE(d.io->SetOutputState(0, IOStateActive));
  EXPECT_TRUE(d.io->SetOutputState(1, IOStateInactive));  // already off
  EXPECT_TRUE(d.io->SetOutputState(1, IOStateActive));
  ASSERT_TRUE(WaitUntil([&] { return d.io->commands().size() == 4; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(d.io->commands(),
            (Commands{{0, IOStateInactive}, {1, IOStateInactive}, {0, IOStateActive}, {1, IOStateActive}}));
  EXPECT_TRUE(d.io->StopIO());
  EXPECT_EQ(Failures(d.sink), 0);
}

TEST(DigitalOutputs, RequestsOutsideTheCameraOrOutsideARunAreRefused) {
  Device d(0, 2);
  EXPECT_FALSE(d.io->SetOutputState(0, IOStateActive));  // not started
  ASSERT_TRUE(d.io->StartIO());
  EXPECT_FALSE(d.io->SetOutputState(2, IOStateActive));
  EXPECT_TRUE(d.io->StopIO());
  EXPECT_FALSE(d.io->SetOutputState(0, IOStateActive));
  for (const auto& command : d.io->commands()) EXPECT_EQ(command.second, IOStateInactive);
}

TEST(DigitalOutputs, AFailedCommandIsLoggedOnceAndTheNextCommandIsSentAgain) {
  Device d(0, 1);
  d.io->FailOutputs(true);
  ASSERT_TRUE(d.io->StartIO());
  ASSERT_TRUE(WaitUntil([&] { return Failures(d.sink) == 1; }));
  // The states are forgotten after a failure: the same request goes out again.
  EXPECT_TRUE(d.io->SetOutputState(0, IOStateInactive));
  ASSERT_TRUE(WaitUntil([&] { return Failures(d.sink) == 2; }));
  ASSERT_TRUE(WaitUntil([&] { return d.driver.Count("Unable to change output state") >= 1; }));
  EXPECT_EQ(d.driver.Count("norvale::CIOBase::SetOutputStateWrapper: Unable to change output state for device "
                           "127.0.0.5:80 (output index 0)"),
            1u);
  d.io->FailOutputs(false);
  EXPECT_TRUE(d.io->SetOutputState(0, IOStateActive));
  ASSERT_TRUE(WaitUntil([&] { return d.io->commands().size() == 3; }));
  d.io->FailOutputs(true);
  EXPECT_TRUE(d.io->SetOutputState(0, IOStateInactive));
  ASSERT_TRUE(WaitUntil([&] { return Failures(d.sink) == 3; }));
  EXPECT_TRUE(WaitUntil([&] { return d.driver.Count("Unable to change output state") == 2; }));
  EXPECT_EQ(d.io->commands(), (Commands{{0, 1}, {0, 1}, {0, 2}, {0, 1}}));
  for (const auto& line : d.driver.Lines()) EXPECT_EQ(line.level, LogError);
}

TEST(DigitalInputs, ChangesAreReportedOnceEach) {
  Device d(2, 0);
  d.io->SetInputs({IOStateInactive, IOStateActive});
  ASSERT_TRUE(d.io->StartIO());
  ASSERT_TRUE(WaitUntil([&] { return Changes(d.sink).size() == 2; }));  // the first poll comes at once
  EXPECT_EQ(Changes(d.sink), (Commands{{0, IOStateInactive}, {1, IOStateActive}}));
  d.io->SetInputs({IOStateActive, IOStateActive});
  ASSERT_TRUE(WaitUntil([&] { return Changes(d.sink).size() == 3; }));
  const int polls = d.io->polls();
  ASSERT_TRUE(WaitUntil([&] { return d.io->polls() > polls; }));
  EXPECT_EQ(Changes(d.sink), (Commands{{0, IOStateInactive}, {1, IOStateActive}, {0, IOStateActive}}));
  EXPECT_TRUE(d.io->StopIO());
  EXPECT_EQ(d.io->GetInputCount(), 2u);
  EXPECT_EQ(d.io->GetOutputCount(), 0u);
}

TEST(DigitalInputs, ACameraThatStopsAnsweringIsLoggedOncePerRunOfFailures) {
  Device d(1, 0);
  d.io->SetInputs({IOStateActive});
  d.io->FailInputs(true);
  ASSERT_TRUE(d.io->StartIO());
  ASSERT_TRUE(WaitUntil([&] { return Failures(d.sink) >= 3; }));  // one per tick
  EXPECT_EQ(
      d.driver.Count("norvale::CIOBase::GetInputStatesWrapper: GetInputStates() method failed! Device 127.0.0.5:80"),
      1u);
  EXPECT_TRUE(Changes(d.sink).empty());
  d.io->FailInputs(false);
  ASSERT_TRUE(WaitUntil([&] { return Changes(d.sink).size() == 1; }));
  d.io->FailInputs(true);
  const int failures = Failures(d.sink);
  ASSERT_TRUE(WaitUntil([&] { return Failures(d.sink) > failures; }));
  // The line follows the host's notification.
  EXPECT_TRUE(WaitUntil([&] { return d.driver.Count("GetInputStates() method failed!") == 2; }));
  // After the failure the input is reported again once the camera answers.
  d.io->FailInputs(false);
  ASSERT_TRUE(WaitUntil([&] { return Changes(d.sink).size() == 2; }));
  EXPECT_EQ(Changes(d.sink), (Commands{{0, IOStateActive}, {0, IOStateActive}}));
  EXPECT_TRUE(d.io->StopIO());
}

TEST(DigitalIOLifecycle, NoWorkersWithoutIOAndRestartAfterStop) {
  Device none(0, 0);
  EXPECT_TRUE(none.io->StartIO());
  EXPECT_FALSE(none.io->SetOutputState(0, IOStateActive));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(none.io->polls(), 0);
  EXPECT_TRUE(none.io->StopIO());

  Device d(1, 1);
  d.io->SetInputs({IOStateInactive});
  ASSERT_TRUE(d.io->StartIO());
  ASSERT_TRUE(WaitUntil([&] { return Changes(d.sink).size() == 1 && d.io->commands().size() == 1; }));
  EXPECT_TRUE(d.io->StopIO());
  ASSERT_TRUE(d.io->StartIO());
  // A new run starts from undetermined states: the input is reported and the output switched again.
  ASSERT_TRUE(WaitUntil([&] { return Changes(d.sink).size() == 2 && d.io->commands().size() == 2; }));
  EXPECT_TRUE(d.io->StopIO());
  EXPECT_FALSE(d.io->SetCallback(nullptr));
}

TEST(DigitalIOLifecycle, CountsComeFromTheCameraValuesWithinLimits) {
  Device negative(-1, -5);
  EXPECT_EQ(negative.io->GetInputCount(), 0u);
  EXPECT_EQ(negative.io->GetOutputCount(), 0u);
  Device huge(0x7fffffff, 3);
  EXPECT_EQ(huge.io->GetInputCount(), CIOBase::kMaxIOCount);
  EXPECT_EQ(huge.io->GetOutputCount(), 3u);
}

TEST(DigitalIOLifecycle, DestroyingARunningObjectStopsItsWorkers) {
  Device d(2, 2);
  d.io->FailInputs(true);
  ASSERT_TRUE(d.io->StartIO());
  ASSERT_TRUE(WaitUntil([&] { return Failures(d.sink) >= 1; }));
  d.io.reset();
  const int failures = Failures(d.sink);
  std::this_thread::sleep_for(std::chrono::milliseconds(1700));
  EXPECT_EQ(Failures(d.sink), failures);
}

TEST(DigitalIOLifecycle, OutputRequestsFromAnotherHostThreadRaceSafelyWithStartAndStop) {
  Device d(0, 1);
  std::atomic<bool> done{false};
  std::atomic<int> accepted{0};
  std::thread setter([&] {
    while (!done)
      if (d.io->SetOutputState(0, IOStateActive)) ++accepted;
  });
  for (int round = 0; round < 200; ++round) {
    ASSERT_TRUE(d.io->StartIO());
    ASSERT_TRUE(d.io->StopIO());
  }
  done = true;
  setter.join();
  // Outside a run nothing is taken.
  EXPECT_FALSE(d.io->SetOutputState(0, IOStateActive));
}

}  // namespace
}  // namespace norvale
