#pragma once
// Polls a condition until it holds or a time limit passes; returns its last value. Bounds a wait,
// measures nothing.
#include <chrono>
#include <functional>
#include <thread>

namespace zephrin::test {

inline bool WaitUntil(const std::function<bool()>& condition, int ms = 10000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace zephrin::test
