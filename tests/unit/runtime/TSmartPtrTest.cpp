// Shared ownership of video settings managers and preset readers.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "runtime/TSmartPtr.h"

namespace norvale {
namespace {

struct Base {
  virtual ~Base() = default;
  virtual int Value() const { return 1; }
};

struct Derived : Base {
  explicit Derived(std::atomic<int>* deletions) : deletions_(deletions) {}
  ~Derived() override { ++*deletions_; }
  int Value() const override { return 2; }
  std::atomic<int>* deletions_;
};

TEST(TSmartPtr, CopiesShareOneCountAndTheLastReleaseDeletesThroughTheVirtualDestructor) {
  std::atomic<int> deletions{0};
  TSmartPtr<Base> first(new Derived(&deletions));
  EXPECT_EQ(1, first.UseCount());
  {
    TSmartPtr<Base> second(first);
    TSmartPtr<Base> third;
    third = second;
    EXPECT_EQ(3, first.UseCount());
    EXPECT_EQ(first.Get(), third.Get());
    EXPECT_EQ(2, third->Value());
    third.Release();
    EXPECT_FALSE(third);
    EXPECT_EQ(0, third.UseCount());
    EXPECT_EQ(2, first.UseCount());
  }
  EXPECT_EQ(0, deletions.load());
  EXPECT_EQ(1, first.UseCount());
  first.Release();
  EXPECT_EQ(1, deletions.load());
  first.Release();  // releasing an empty pointer does nothing
  EXPECT_EQ(1, deletions.load());
}

TEST(TSmartPtr, AssignmentReleasesTheOldObject) {
  std::atomic<int> deletionsA{0}, deletionsB{0};
  TSmartPtr<Base> a(new Derived(&deletionsA));
  TSmartPtr<Base> b(new Derived(&deletionsB));
  a = b;
  EXPECT_EQ(1, deletionsA.load());
  EXPECT_EQ(2, b.UseCount());
  a = a;
  EXPECT_EQ(2, a.UseCount());
  TSmartPtr<Base> moved(std::move(a));
  EXPECT_FALSE(a);
  EXPECT_EQ(2, moved.UseCount());
  b = TSmartPtr<Base>();
  moved = TSmartPtr<Base>();
  EXPECT_EQ(1, deletionsB.load());
}

TEST(TSmartPtr, CopiesReleasedOnManyThreadsDeleteOnce) {
  std::atomic<int> deletions{0};
  for (int round = 0; round < 20; ++round) {
    TSmartPtr<Base> shared(new Derived(&deletions));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([copy = shared]() mutable {
        for (int i = 0; i < 100; ++i) {
          TSmartPtr<Base> local(copy);
          EXPECT_EQ(2, local->Value());
        }
      });
    }
    shared.Release();
    for (auto& t : threads) t.join();
  }
  EXPECT_EQ(20, deletions.load());
}

}  // namespace
}  // namespace norvale
