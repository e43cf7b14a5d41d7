// Work-item queues: items run one at a time in order, failures are contained, and stopping drops
// what is still queued without running it.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "runtime/CQueueThread.h"
#include "support/FakeDriver.h"
#include "support/WaitUntil.h"

namespace norvale {
namespace {

struct Counters {
  std::atomic<int> destroyed{0};
};

class Item {
 public:
  Item(Counters* counters, int number, bool throws = false, CEvent* gate = nullptr)
      : counters_(counters), number_(number), throws_(throws), gate_(gate) {}
  virtual ~Item() { ++counters_->destroyed; }
  int Number() const { return number_; }
  bool Throws() const { return throws_; }
  CEvent* Gate() const { return gate_; }

 private:
  Counters* counters_;
  int number_;
  bool throws_;
  CEvent* gate_;
};

class Queue : public CQueueThread<Item> {
 public:
  using CQueueThread::CQueueThread;
  ~Queue() override { StopQueue(); }

  std::vector<int> Order() {
    std::lock_guard<std::mutex> lock(mutex_);
    return order_;
  }
  std::atomic<int> started{0};

 protected:
  void HandleWorkItem(Item* item) override {
    ++started;
    if (item->Gate()) item->Gate()->Wait(platform::kInfinite);
    if (item->Throws()) throw std::runtime_error("item failed");
    std::lock_guard<std::mutex> lock(mutex_);
    order_.push_back(item->Number());
  }

 private:
  std::mutex mutex_;
  std::vector<int> order_;
};

using zephrin::test::WaitUntil;

TEST(CQueueThread, ItemsAreHandledInPushOrderAndThenDeleted) {
  Counters counters;
  zephrin::test::FakeDriver driver;
  Queue queue(&driver);
  ASSERT_TRUE(queue.StartQueue("ptz"));
  for (int i = 0; i < 200; ++i) ASSERT_TRUE(queue.Push(new Item(&counters, i)));
  ASSERT_TRUE(WaitUntil([&] { return counters.destroyed == 200; }, 20000));
  const auto order = queue.Order();
  ASSERT_EQ(200u, order.size());
  for (int i = 0; i < 200; ++i) EXPECT_EQ(i, order[i]);
  EXPECT_TRUE(queue.StopQueue());
  EXPECT_TRUE(driver.Lines().empty());
}

TEST(CQueueThread, ItemsPushedFromSeveralThreadsAreAllHandled) {
  Counters counters;
  Queue queue;
  ASSERT_TRUE(queue.StartQueue("many"));
  std::vector<std::thread> pushers;
  for (int t = 0; t < 4; ++t)
    pushers.emplace_back([&, t] {
      for (int i = 0; i < 100; ++i) queue.Push(new Item(&counters, t * 1000 + i));
    });
  for (auto& p : pushers) p.join();
  ASSERT_TRUE(WaitUntil([&] { return counters.destroyed == 400; }, 20000));
  const auto order = queue.Order();
  EXPECT_EQ(400u, order.size());
  // Each pusher's own items keep their order.
  std::vector<int> last(4, -1);
  for (int n : order) {
    EXPECT_GT(n % 1000, last[n / 1000]);
    last[n / 1000] = n % 1000;
  }
}

TEST(CQueueThread, ThrowingItemDoesNotStopTheQueue) {
  Counters counters;
  Queue queue;
  ASSERT_TRUE(queue.StartQueue("ptz"));
  queue.Push(new Item(&counters, 1));
  queue.Push(new Item(&counters, 2, true));
  queue.Push(new Item(&counters, 3));
  ASSERT_TRUE(WaitUntil([&] { return counters.destroyed == 3; }, 20000));
  EXPECT_EQ((std::vector<int>{1, 3}), queue.Order());
  EXPECT_TRUE(queue.IsRunning());
  queue.Push(new Item(&counters, 4));
  ASSERT_TRUE(WaitUntil([&] { return counters.destroyed == 4; }, 20000));
  EXPECT_EQ((std::vector<int>{1, 3, 4}), queue.Order());
}

TEST(CQueueThread, PushAfterStopIsRefusedAndTheItemDeleted) {
  Counters counters;
  Queue queue;
  ASSERT_TRUE(queue.StartQueue("ptz"));
  ASSERT_TRUE(queue.StopQueue());
  EXPECT_FALSE(queue.Push(new Item(&counters, 1)));
  EXPECT_EQ(1, counters.destroyed.load());
  EXPECT_EQ(0u, queue.QueuedCount());
  EXPECT_TRUE(queue.Order().empty());
}

TEST(CQueueThread, StopDeletesQueuedItemsWithoutHandlingThem) {
  Counters counters;
  CManualEvent gate;
  Queue queue;
  ASSERT_TRUE(queue.StartQueue("ptz"));
  queue.Push(new Item(&counters, 1, false, &gate));
  ASSERT_TRUE(WaitUntil([&] { return queue.started == 1; }, 20000));
  for (int i = 2; i <= 5; ++i) queue.Push(new Item(&counters, i));
  // Open the gate once StopQueue has dropped the waiting items.
  std::thread opener([&] {
    ASSERT_TRUE(WaitUntil([&] { return counters.destroyed == 4; }, 20000));
    gate.Set();
  });
  EXPECT_TRUE(queue.StopQueue());
  opener.join();
  EXPECT_EQ(5, counters.destroyed.load());
  EXPECT_EQ((std::vector<int>{1}), queue.Order()) << "only the item already running completes";
  EXPECT_EQ(1, queue.started.load());
}

TEST(CQueueThread, StopSignalledWhileDrainingDropsTheRest) {
  Counters counters;
  CManualEvent gate;
  Queue queue;
  ASSERT_TRUE(queue.StartQueue("ptz"));
  queue.Push(new Item(&counters, 1, false, &gate));
  ASSERT_TRUE(WaitUntil([&] { return queue.started == 1; }, 20000));
  for (int i = 2; i <= 5; ++i) queue.Push(new Item(&counters, i));
  queue.StopEvent().Set();  // the item event is signalled too
  gate.Set();
  ASSERT_TRUE(WaitUntil([&] { return counters.destroyed == 5; }, 20000));
  EXPECT_EQ(1, queue.started.load());
  EXPECT_TRUE(queue.JoinThread(5000));
}

TEST(CQueueThread, QueueCanBeRestartedAfterStop) {
  Counters counters;
  Queue queue;
  ASSERT_TRUE(queue.StartQueue("ptz"));
  ASSERT_TRUE(queue.StopQueue());
  ASSERT_TRUE(queue.StartQueue("ptz"));
  ASSERT_TRUE(queue.Push(new Item(&counters, 7)));
  ASSERT_TRUE(WaitUntil([&] { return counters.destroyed == 1; }, 20000));
  EXPECT_EQ((std::vector<int>{7}), queue.Order());
}

TEST(CQueueThread, DestroyingTheQueueDeletesWhatIsLeft) {
  Counters counters;
  {
    Queue queue;  // never started
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(queue.Push(new Item(&counters, i)));
    EXPECT_EQ(3u, queue.QueuedCount());
  }
  EXPECT_EQ(3, counters.destroyed.load());
}

}  // namespace
}  // namespace norvale
