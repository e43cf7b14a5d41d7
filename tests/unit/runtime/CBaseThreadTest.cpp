// Worker threads: start, cooperative stop through the stop event, bounded stop with termination and
// the log lines the host sees when a thread overruns its limit.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "runtime/CBaseThread.h"
#include "runtime/RecursiveLock.h"
#include "support/FakeDriver.h"
#include "support/WaitUntil.h"

namespace norvale {
namespace {

using zephrin::test::FakeDriver;

class BodyThread : public CBaseThread {
 public:
  using Body = std::function<void(BodyThread&)>;
  BodyThread(IDriver* driver, Body body) : CBaseThread(driver), body_(std::move(body)) {}
  ~BodyThread() override { StopThread(2000); }

 protected:
  void ThreadBody() override { body_(*this); }

 private:
  Body body_;
};

using zephrin::test::WaitUntil;

TEST(CBaseThread, StartRunsTheBodyAndStopEndsItThroughTheStopEvent) {
  FakeDriver driver;
  std::atomic<int> runs{0};
  std::atomic<bool> sawStop{false};
  BodyThread thread(&driver, [&](BodyThread& self) {
    ++runs;
    sawStop = self.StopEvent().Wait(platform::kInfinite);
  });
  EXPECT_FALSE(thread.IsRunning());
  ASSERT_TRUE(thread.StartThread("worker"));
  EXPECT_EQ("worker", thread.ThreadName());
  EXPECT_TRUE(thread.IsRunning());
  EXPECT_TRUE(thread.StopThread(5000));
  EXPECT_FALSE(thread.IsRunning());
  EXPECT_EQ(1, runs.load());
  EXPECT_TRUE(sawStop);
  EXPECT_TRUE(driver.Lines().empty()) << "a thread that stops in time is not logged";
}

TEST(CBaseThread, SecondStartWhileRunningIsRefused) {
  FakeDriver driver;
  std::atomic<int> runs{0};
  BodyThread thread(&driver, [&](BodyThread& self) {
    ++runs;
    self.StopEvent().Wait(platform::kInfinite);
  });
  ASSERT_TRUE(thread.StartThread("first"));
  EXPECT_FALSE(thread.StartThread("second"));
  EXPECT_TRUE(thread.IsRunning());
  EXPECT_TRUE(thread.JoinThread(5000));
  EXPECT_EQ(1, runs.load());
}

TEST(CBaseThread, ReportsTheIdOfTheRunningThread) {
  FakeDriver driver;
  std::atomic<uint32_t> inside{0};
  BodyThread thread(&driver, [&](BodyThread&) { inside = platform::CurrentThreadId(); });
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(thread.StartThread("id"));
    ASSERT_TRUE(thread.JoinThread(5000));
    EXPECT_NE(0u, thread.ThreadId());
    EXPECT_EQ(inside.load(), thread.ThreadId());
  }
}

TEST(CBaseThread, StoppedThreadCanBeStartedAgainWithAFreshStopEvent) {
  FakeDriver driver;
  std::atomic<int> runs{0};
  std::atomic<int> stopAlreadySet{0};
  BodyThread thread(&driver, [&](BodyThread& self) {
    if (self.StopRequested()) ++stopAlreadySet;
    ++runs;
    self.StopEvent().Wait(platform::kInfinite);
  });
  for (int i = 1; i <= 3; ++i) {
    ASSERT_TRUE(thread.StartThread("again"));
    ASSERT_TRUE(WaitUntil([&] { return runs.load() == i; }, 20000));
    EXPECT_TRUE(thread.StopThread(5000));
  }
  EXPECT_EQ(3, runs.load());
  EXPECT_EQ(0, stopAlreadySet.load());
  EXPECT_TRUE(driver.Lines().empty());
}

TEST(CBaseThread, JoinOrStopOnANeverStartedThreadSucceedsSilently) {
  FakeDriver driver;
  BodyThread thread(&driver, [](BodyThread&) {});
  EXPECT_TRUE(thread.JoinThread(0));
  EXPECT_TRUE(thread.StopThread(0));
  EXPECT_TRUE(thread.StopThread());
  EXPECT_TRUE(driver.Lines().empty());
  EXPECT_TRUE(thread.StopRequested()) << "join and stop always raise the stop event";
}

TEST(CBaseThread, StopAndJoinFromInsideTheBodyReturnFalseWithoutEndingIt) {
  FakeDriver driver;
  std::atomic<int> stopResult{-1}, joinResult{-1};
  std::atomic<bool> continued{false};
  BodyThread thread(&driver, [&](BodyThread& self) {
    stopResult = self.StopThread(1000);  // at once: the starter may still be inside StartThread
    joinResult = self.JoinThread(1000);
    continued = true;
  });
  for (int i = 0; i < 20; ++i) {
    stopResult = joinResult = -1;
    continued = false;
    ASSERT_TRUE(thread.StartThread("self-stop"));
    EXPECT_TRUE(thread.JoinThread(10000));
    EXPECT_EQ(0, stopResult.load());
    EXPECT_EQ(0, joinResult.load());
    EXPECT_TRUE(continued);
  }
  EXPECT_TRUE(driver.Lines().empty());
}

TEST(CBaseThread, ExceptionFromTheBodyEndsOnlyThatThread) {
  FakeDriver driver;
  BodyThread thread(&driver, [](BodyThread&) { throw std::runtime_error("body failed"); });
  ASSERT_TRUE(thread.StartThread("throws"));
  EXPECT_TRUE(thread.JoinThread(10000));
  EXPECT_TRUE(driver.Lines().empty());
}

struct UnwindCounter {
  std::atomic<int>* count;
  ~UnwindCounter() { ++*count; }
};

TEST(CBaseThread, StopTerminatesAThreadThatIgnoresItsStopEventAndLogsIt) {
  FakeDriver driver;
  driver.deviceInfo.address = "10.1.2.3";
  driver.deviceInfo.port = 8080;
  std::atomic<bool> running{false};
  std::atomic<int> unwound{0};
  RecursiveLock lock;
  BodyThread thread(&driver, [&](BodyThread&) {
    UnwindCounter counter{&unwound};
    RecursiveLockGuard guard(lock);
    auto buffer = std::make_unique<std::vector<char>>(1 << 16);  // must be freed by the unwinder
    running = true;
    for (;;) platform::SleepMs(5);
  });
  ASSERT_TRUE(thread.StartThread("stubborn"));
  ASSERT_TRUE(WaitUntil([&] { return running.load(); }, 20000));
  const uint32_t id = thread.ThreadId();

  EXPECT_TRUE(thread.StopThread(100));
  EXPECT_FALSE(thread.IsRunning());
  EXPECT_EQ(1, unwound.load()) << "termination unwinds the thread's stack";
  EXPECT_TRUE(lock.TryLock()) << "scoped locks held by a terminated thread are released";
  lock.Unlock();

  const auto lines = driver.Lines();
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(LogWarning, lines[0].level);
  EXPECT_EQ("norvale::CBaseThread::StopThread: Thread (id=" + std::to_string(id) +
                ", name=\"stubborn\") for device 10.1.2.3:8080 was not stopped during 100 milliseconds and will be "
                "terminated!",
            lines[0].text);
}

TEST(CBaseThread, TerminatedObjectCanBeStartedAgain) {
  FakeDriver driver;
  std::atomic<int> runs{0};
  std::atomic<bool> stubborn{true};
  BodyThread thread(&driver, [&](BodyThread& self) {
    ++runs;
    if (stubborn) {
      for (;;) platform::SleepMs(5);
    }
    self.StopEvent().Wait(platform::kInfinite);
  });
  ASSERT_TRUE(thread.StartThread("restart"));
  ASSERT_TRUE(WaitUntil([&] { return runs.load() == 1; }, 20000));
  EXPECT_TRUE(thread.StopThread(50));
  stubborn = false;
  ASSERT_TRUE(thread.StartThread("restart"));
  ASSERT_TRUE(WaitUntil([&] { return runs.load() == 2; }, 20000));
  EXPECT_TRUE(thread.StopThread(5000));
  EXPECT_EQ(1u, driver.Lines().size());
}

TEST(CBaseThread, JoinWaitsPastItsLimitAndLogsBothLines) {
  FakeDriver driver;
  CManualEvent release;
  std::atomic<bool> finished{false};
  BodyThread thread(&driver, [&](BodyThread&) {
    release.Wait(platform::kInfinite);  // ignores the stop event
    finished = true;
  });
  ASSERT_TRUE(thread.StartThread("slow"));
  const uint32_t id = thread.ThreadId();
  // Release the body only once the overrun has been reported, so the order is certain.
  std::thread releaser([&] {
    EXPECT_TRUE(WaitUntil([&] { return driver.Contains("was not stopped"); }, 20000));
    release.Set();
  });
  EXPECT_TRUE(thread.JoinThread(50));
  releaser.join();
  EXPECT_TRUE(finished) << "JoinThread never terminates; it waits for the body";
  const auto lines = driver.Lines();
  ASSERT_EQ(2u, lines.size());
  const std::string who = "norvale::CBaseThread::JoinThread: Thread (id=" + std::to_string(id) + ", name=\"slow\")";
  EXPECT_EQ(LogWarning, lines[0].level);
  EXPECT_EQ(who + " for device 127.0.0.1:80 was not stopped during 50 milliseconds", lines[0].text);
  EXPECT_EQ(LogInfo, lines[1].level);
  EXPECT_EQ(who + " was stopped correctly", lines[1].text);
}

#ifdef _WIN32
TEST(CBaseThread, ThreadThatNeverReachesAStopPointIsKilledAndTheKillLogged) {
  // Windows can end a thread outright: one blocked where termination cannot reach it (a lock of the
  // host's) is killed after the grace time, and the log says that nothing of it was cleaned up.
  FakeDriver driver;
  std::mutex hostMutex;
  std::atomic<bool> blocked{false};
  std::atomic<int> runs{0};
  hostMutex.lock();
  BodyThread thread(&driver, [&](BodyThread& self) {
    if (++runs == 1) {
      blocked = true;
      std::lock_guard<std::mutex> wait(hostMutex);
      return;
    }
    self.StopEvent().Wait(platform::kInfinite);
  });
  ASSERT_TRUE(thread.StartThread("held"));
  ASSERT_TRUE(WaitUntil([&] { return blocked.load(); }, 20000));
  const uint32_t id = thread.ThreadId();

  EXPECT_TRUE(thread.StopThread(50));
  EXPECT_FALSE(thread.IsRunning());
  const auto lines = driver.Lines();
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ(LogError, lines[1].level);
  EXPECT_EQ("norvale::CBaseThread::StopThread: Thread (id=" + std::to_string(id) +
                ", name=\"held\") for device 127.0.0.1:80 did not reach a point where it could stop and was killed "
                "without cleaning up",
            lines[1].text);
  hostMutex.unlock();
  ASSERT_TRUE(thread.StartThread("held"));
  ASSERT_TRUE(WaitUntil([&] { return runs.load() == 2; }, 20000));
  EXPECT_TRUE(thread.StopThread(5000));
}
#else
// pthreads cannot end a thread that never reaches a cancellation point.
TEST(CBaseThread, ThreadBeyondTerminationIsReportedAndKeepsItsObjectAndStopEvent) {
  FakeDriver driver;
  std::mutex hostMutex;  // a lock of the host's: waiting on it is no point where a thread ends
  std::atomic<bool> blocked{false};
  std::atomic<bool> sawStop{false};
  std::atomic<int> runs{0};
  hostMutex.lock();
  BodyThread thread(&driver, [&](BodyThread& self) {
    if (++runs == 1) {
      blocked = true;
      { std::lock_guard<std::mutex> wait(hostMutex); }
      sawStop = self.StopRequested();
      return;
    }
    self.StopEvent().Wait(platform::kInfinite);
  });
  ASSERT_TRUE(thread.StartThread("held"));
  ASSERT_TRUE(WaitUntil([&] { return blocked.load(); }, 20000));

  EXPECT_FALSE(thread.StopThread(50)) << "a thread that still runs is not reported as stopped";
  EXPECT_TRUE(thread.IsRunning());
  EXPECT_TRUE(driver.Contains("could not be terminated and still runs"));
  EXPECT_FALSE(thread.StartThread("held")) << "no second thread beside the first";
  EXPECT_TRUE(thread.StopRequested()) << "a refused start leaves the old thread's stop signal set";

  // Once the host lets go, the old thread ends; only then does the object run again.
  hostMutex.unlock();
  ASSERT_TRUE(WaitUntil([&] { return !thread.IsRunning(); }, 20000));
  ASSERT_TRUE(thread.StartThread("held"));
  ASSERT_TRUE(WaitUntil([&] { return runs.load() == 2; }, 20000));
  EXPECT_TRUE(thread.StopThread(5000));
}

#endif

TEST(CBaseThread, HandleReadsRaceSafelyWithStartAndStop) {
  BodyThread thread(nullptr, [](BodyThread& self) { self.StopEvent().Wait(platform::kInfinite); });
  std::atomic<bool> done{false};
  std::thread reader([&] {
    while (!done) {
      thread.IsRunning();
      thread.IsCurrentThread();
    }
  });
  for (int i = 0; i < 300; ++i) {
    ASSERT_TRUE(thread.StartThread("flip"));
    ASSERT_TRUE(thread.StopThread(5000));
  }
  done = true;
  reader.join();
}

}  // namespace
}  // namespace norvale
