#pragma once
// An HTTP sender that answers from a script instead of a camera: each path gets a status and a
// body; an unknown path gets no answer at all, and a path can be made to hang until the request is
// closed from another thread.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "camera/CBaseHttpSender.h"

namespace zephrin::test {

class ScriptedHttpSender : public Web::CBaseHttpSender {
 public:
  struct Answer {
    uint32_t status = 200;
    std::string body;
    bool hang = false;  // SendRequest blocks until CloseRequest
  };

  explicit ScriptedHttpSender(const norvale::DEVICE_INFO& device = norvale::DEVICE_INFO()) : CBaseHttpSender(device) {}

  void Set(const std::string& path, uint32_t status, const std::string& body) {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_[path] = Answer{status, body, false};
  }
  void Hang(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_[path] = Answer{0, "", true};
  }
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  bool WaitForRequest(const std::string& path, int ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(ms),
                             [&] { return std::find(requests_.begin(), requests_.end(), path) != requests_.end(); });
  }

  bool SendRequest(const Web::HttpRequest& request) override {
    std::unique_lock<std::mutex> lock(mutex_);
    statusCode_ = 0;
    body_.clear();
    position_ = 0;
    requests_.push_back(request.path);
    changed_.notify_all();
    auto it = answers_.find(request.path);
    if (it == answers_.end() || request.path.empty()) return false;
    if (it->second.hang) {
      const uint64_t closes = closes_;
      changed_.wait(lock, [&] { return closes_ != closes; });
      return false;
    }
    statusCode_ = it->second.status;
    if (it->second.status == 0) return false;
    body_ = it->second.body;
    return true;
  }
  void CloseRequest() override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++closes_;
    body_.clear();
    position_ = 0;
    changed_.notify_all();
  }
  uint32_t GetAvailableSize() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<uint32_t>(std::min<size_t>(body_.size() - position_, 3000));
  }
  uint32_t ReadChunk(std::vector<uint8_t>& body, uint32_t maxBytes, bool clearFirst) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (clearFirst) body.clear();
    const size_t n = std::min<size_t>(maxBytes, body_.size() - position_);
    body.insert(body.end(), body_.begin() + static_cast<std::ptrdiff_t>(position_),
                body_.begin() + static_cast<std::ptrdiff_t>(position_ + n));
    position_ += n;
    return static_cast<uint32_t>(n);
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, Answer> answers_;
  std::vector<std::string> requests_;
  std::string body_;
  size_t position_ = 0;
  uint64_t closes_ = 0;
};

}  // namespace zephrin::test
