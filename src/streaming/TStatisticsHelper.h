#pragma once
#include <cstddef>
#include <deque>

namespace norvale {

// A first-in first-out window of the latest values with their running sum.
template <typename T>
class TStatisticsHelper {
 public:
  explicit TStatisticsHelper(size_t capacity = 1000) : capacity_(capacity) {}

  void Add(T value) {
    while (!values_.empty() && values_.size() >= capacity_) {
      sum_ -= static_cast<double>(values_.front());
      values_.pop_front();
    }
    values_.push_back(value);
    sum_ += static_cast<double>(value);
  }
  // sum / count; 0 for an empty window.
  double Average() const { return values_.empty() ? 0.0 : sum_ / static_cast<double>(values_.size()); }
  size_t Count() const { return values_.size(); }
  size_t Capacity() const { return capacity_; }

 private:
  size_t capacity_;
  std::deque<T> values_;
  double sum_ = 0.0;
};

}  // namespace norvale
