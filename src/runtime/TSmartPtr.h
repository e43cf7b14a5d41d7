#pragma once
#include <atomic>
#include <utility>

namespace norvale {

// Shared owning pointer with a separately allocated reference count; the last release deletes the
// object through its virtual destructor.
template <typename T>
class TSmartPtr {
 public:
  TSmartPtr() = default;
  explicit TSmartPtr(T* object) : object_(object), count_(object ? new std::atomic<long>(1) : nullptr) {}
  TSmartPtr(const TSmartPtr& other) : object_(other.object_), count_(other.count_) {
    if (count_) count_->fetch_add(1);
  }
  TSmartPtr(TSmartPtr&& other) noexcept
      : object_(std::exchange(other.object_, nullptr)), count_(std::exchange(other.count_, nullptr)) {}
  ~TSmartPtr() { Release(); }

  TSmartPtr& operator=(TSmartPtr other) noexcept {
    std::swap(object_, other.object_);
    std::swap(count_, other.count_);
    return *this;
  }

  void Release() {
    if (count_ && count_->fetch_sub(1) == 1) {
      delete object_;
      delete count_;
    }
    object_ = nullptr;
    count_ = nullptr;
  }

  T* Get() const { return object_; }
  T* operator->() const { return object_; }
  T& operator*() const { return *object_; }
  explicit operator bool() const { return object_ != nullptr; }
  long UseCount() const { return count_ ? count_->load() : 0; }

 private:
  T* object_ = nullptr;
  std::atomic<long>* count_ = nullptr;
};

}  // namespace norvale
