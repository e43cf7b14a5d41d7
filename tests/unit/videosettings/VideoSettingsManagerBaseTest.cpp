// The worker of the video settings manager: stored requests, one round serving every queued caller,
// and the ways a caller stops waiting.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "support/FakeDriver.h"
#include "videosettings/CBaseVideoSettingsManager.h"

namespace {

using norvale::ChannelSettings;
using zephrin::test::FakeDriver;

// Rounds wait at a gate the test opens; each round's result comes from a script.
class GatedManager : public norvale::CBaseVideoSettingsManager {
 public:
  GatedManager(norvale::IDriver* driver, bool start = true) : CBaseVideoSettingsManager(driver, 0) {
    if (start) StartWorker("Video Settings Manager thread (test)");
  }
  ~GatedManager() override {
    Open(1000);
    StopWorker();
  }

  bool Synchronize() override {
    std::unique_lock<std::mutex> lock(mutex_);
    const int round = rounds_++;
    entered_.notify_all();
    gate_.wait(lock, [&] { return opened_ > round; });
    if (throwIn == round) throw std::runtime_error("round failed");
    return round < static_cast<int>(results.size()) ? results[round] : true;
  }
  void OnReset(bool keep) override { resets.push_back(keep); }

  // Lets the first n rounds finish.
  void Open(int n) {
    std::lock_guard<std::mutex> lock(mutex_);
    opened_ = n;
    gate_.notify_all();
  }
  bool WaitForRound(int n) {
    std::unique_lock<std::mutex> lock(mutex_);
    return entered_.wait_for(lock, std::chrono::seconds(5), [&] { return rounds_ >= n; });
  }
  int Rounds() {
    std::lock_guard<std::mutex> lock(mutex_);
    return rounds_;
  }
  using CBaseVideoSettingsManager::SetCallerLimit;
  using CBaseVideoSettingsManager::StopWorker;

  std::vector<bool> results;
  int throwIn = -1;
  std::vector<bool> resets;

 private:
  std::mutex mutex_;
  std::condition_variable gate_;
  std::condition_variable entered_;
  int rounds_ = 0;
  int opened_ = 0;
};

ChannelSettings Request(int32_t kind, uint16_t width) {
  ChannelSettings s;
  s.frameInterval = 40;
  s.quality = 50;
  s.width = width;
  s.height = 480;
  s.streamKind = kind;
  return s;
}

class VideoSettingsManagerBase : public ::testing::Test {
 protected:
  FakeDriver driver_;
};

TEST_F(VideoSettingsManagerBase, CallersQueuedDuringARoundShareTheNextOne) {
  GatedManager manager(&driver_);
  manager.results = {true, false};
  auto first = std::async(std::launch::async, [&] { return manager.Apply(nullptr, 3, Request(0, 640)); });
  ASSERT_TRUE(manager.WaitForRound(1));

  // Three callers arrive while round 0 runs.
  std::vector<std::future<bool>> later;
  for (int kind = 0; kind < 3; ++kind)
    later.push_back(
        std::async(std::launch::async, [&, kind] { return manager.Apply(nullptr, 1, Request(kind, 320)); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  manager.Open(2);
  EXPECT_TRUE(first.get());
  for (auto& f : later) EXPECT_FALSE(f.get());  // all three got round 1's result
  EXPECT_EQ(manager.Rounds(), 2);
}

TEST_F(VideoSettingsManagerBase, TheLatestRequestOfEachKindIsKeptUntilAResetWithoutKeep) {
  GatedManager manager(&driver_);
  manager.Open(100);
  EXPECT_TRUE(manager.Apply(nullptr, 3, Request(0, 640)));
  EXPECT_TRUE(manager.Apply(nullptr, 1, Request(2, 320)));
  EXPECT_TRUE(manager.Apply(nullptr, 2, Request(0, 1280)));
  auto records = manager.StreamRecords();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].codec, 2);
  EXPECT_EQ(records[0].settings.width, 1280);
  EXPECT_EQ(records[2].codec, 1);

  manager.Reset(true);
  EXPECT_EQ(manager.StreamRecords().size(), 2u);
  manager.Reset(false);
  EXPECT_TRUE(manager.StreamRecords().empty());
  EXPECT_EQ(manager.resets, (std::vector<bool>{true, false}));
}

TEST_F(VideoSettingsManagerBase, ACallerStopsWaitingOnItsStopEventOrItsTimeLimit) {
  GatedManager manager(&driver_);
  norvale::CManualEvent stop;
  auto waiting = std::async(std::launch::async, [&] { return manager.Apply(&stop, 3, Request(0, 640)); });
  ASSERT_TRUE(manager.WaitForRound(1));
  stop.Set();
  EXPECT_FALSE(waiting.get());  // while the round still runs

  manager.SetCallerLimit(50);
  EXPECT_FALSE(manager.Apply(nullptr, 3, Request(0, 640)));
  manager.Open(100);
}

TEST_F(VideoSettingsManagerBase, AFailingRoundAnswersFalseAndTheNextCallTriesAgain) {
  GatedManager manager(&driver_);
  manager.throwIn = 0;
  manager.Open(100);
  EXPECT_FALSE(manager.Apply(nullptr, 3, Request(0, 640)));
  EXPECT_TRUE(manager.Apply(nullptr, 3, Request(0, 640)));
  EXPECT_EQ(manager.Rounds(), 2);
}

TEST_F(VideoSettingsManagerBase, StoppingTheWorkerReleasesWaitingCallersAndRefusesNewOnes) {
  GatedManager manager(&driver_);
  auto waiting = std::async(std::launch::async, [&] { return manager.Apply(nullptr, 3, Request(0, 640)); });
  ASSERT_TRUE(manager.WaitForRound(1));
  auto queued = std::async(std::launch::async, [&] { return manager.Apply(nullptr, 3, Request(1, 640)); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  manager.Open(1);
  manager.StopWorker();
  EXPECT_FALSE(queued.get());
  waiting.get();  // round 0 may or may not have finished before the stop; either way it returned
  EXPECT_FALSE(manager.Apply(nullptr, 3, Request(0, 640)));
  EXPECT_EQ(manager.StreamRecords().size(), 2u);  // requests are still kept

  GatedManager neverStarted(&driver_, false);
  EXPECT_FALSE(neverStarted.Apply(nullptr, 3, Request(0, 640)));
  EXPECT_EQ(neverStarted.Rounds(), 0);
}

}  // namespace
