#include "support/CapabilityHost.h"

#include <chrono>
#include <cstdio>

namespace zephrin::test {

namespace {
std::string Text(const char* text) { return text ? text : "(null)"; }
}  // namespace

class RecordingCapabilitySink::ValueItem : public norvale::ipcapture::ICapabilityValueItem {
 public:
  ValueItem(RecordingCapabilitySink& sink, uint32_t index) : sink_(sink), index_(index) {}
  void SetValue(const char* text) override {
    sink_.connection[index_] = Text(text);
    sink_.Record("connection " + std::to_string(index_) + "=" + Text(text));
  }

 private:
  RecordingCapabilitySink& sink_;
  uint32_t index_;
};

class RecordingCapabilitySink::PropertyItem : public norvale::ipcapture::ICapabilityPropertyItem {
 public:
  PropertyItem(RecordingCapabilitySink& sink, int32_t id) : sink_(sink), id_(id) {}
  void SetValue(const char* text) override {
    sink_.properties[id_].value = Text(text);
    sink_.Record("property " + std::to_string(id_) + " value=" + Text(text));
  }
  void Reserved2() override {}
  void Reserved3() override {}
  void SetTextFlag(int32_t isText) override {
    sink_.properties[id_].textFlag = isText;
    sink_.Record("property " + std::to_string(id_) + " text=" + std::to_string(isText));
  }
  void SetName(const char* name) override {
    sink_.properties[id_].name = Text(name);
    sink_.Record("property " + std::to_string(id_) + " name=" + Text(name));
  }
  void SetReserved6(int32_t value) override {
    sink_.properties[id_].reserved6 = value;
    sink_.Record("property " + std::to_string(id_) + " slot6=" + std::to_string(value));
  }

 private:
  RecordingCapabilitySink& sink_;
  int32_t id_;
};

class RecordingCapabilitySink::ResolutionList : public norvale::ipcapture::ICapabilityResolutionList {
 public:
  explicit ResolutionList(RecordingCapabilitySink& sink) : sink_(sink) {}
  void Add(const char* text, uint32_t width, uint32_t height, uint32_t interval) override {
    sink_.resolutions.push_back({Text(text), width, height, interval});
    char line[160];
    std::snprintf(line, sizeof line, "resolution %s %ux%u@%u", Text(text).c_str(), width, height, interval);
    sink_.Record(line);
  }

 private:
  RecordingCapabilitySink& sink_;
};

class RecordingCapabilitySink::FrameRateList : public norvale::ipcapture::ICapabilityFrameRateList {
 public:
  explicit FrameRateList(RecordingCapabilitySink& sink) : sink_(sink) {}
  void SetDefault(uint32_t interval) override {
    sink_.defaultInterval = interval;
    sink_.Record("frame interval default " + std::to_string(interval));
  }
  void Add(uint32_t interval) override {
    sink_.frameIntervals.push_back(interval);
    sink_.Record("frame interval " + std::to_string(interval));
  }

 private:
  RecordingCapabilitySink& sink_;
};

RecordingCapabilitySink::RecordingCapabilitySink()
    : resolutionList_(std::make_unique<ResolutionList>(*this)), frameRateList_(std::make_unique<FrameRateList>(*this)) {}

RecordingCapabilitySink::~RecordingCapabilitySink() = default;

void RecordingCapabilitySink::Record(const std::string& event) {
  std::lock_guard<std::mutex> lock(mutex_);
  events_.push_back(event);
}

std::vector<std::string> RecordingCapabilitySink::Events() {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}

void RecordingCapabilitySink::SetCapability(uint32_t id, uint32_t value) {
  capabilities[id] = value;
  Record("capability " + std::to_string(id) + "=" + std::to_string(value));
}

void RecordingCapabilitySink::SetModelName(const char* text) {
  modelName = Text(text);
  Record("model " + modelName);
}

norvale::ipcapture::ICapabilityValueItem* RecordingCapabilitySink::GetConnectionItem(uint32_t index) {
  valueItems_.push_back(std::make_unique<ValueItem>(*this, index));
  return valueItems_.back().get();
}

norvale::ipcapture::ICapabilityPropertyItem* RecordingCapabilitySink::GetPropertyItem(int32_t id) {
  if (refusePropertyItems) return nullptr;
  propertyOrder.push_back(id);
  propertyItems_.push_back(std::make_unique<PropertyItem>(*this, id));
  return propertyItems_.back().get();
}

norvale::ipcapture::ICapabilityResolutionList* RecordingCapabilitySink::GetResolutionList() {
  return resolutionList_.get();
}

norvale::ipcapture::ICapabilityFrameRateList* RecordingCapabilitySink::GetFrameRateList(int32_t kind) {
  frameRateListKinds.push_back(kind);
  return frameRateList_.get();
}

void RecordingCapabilityCallback::QuerySucceeded() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++succeeded_;
  cv_.notify_all();
}

void RecordingCapabilityCallback::QueryFailed(int32_t reason, const char* text) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++failed_;
  reason_ = reason;
  text_ = Text(text);
  cv_.notify_all();
}

void RecordingCapabilityCallback::QueryAbandoned() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++abandoned_;
  cv_.notify_all();
}

bool RecordingCapabilityCallback::WaitOutcome(int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return succeeded_ + failed_ > 0; });
}

int RecordingCapabilityCallback::succeeded() {
  std::lock_guard<std::mutex> lock(mutex_);
  return succeeded_;
}
int RecordingCapabilityCallback::failed() {
  std::lock_guard<std::mutex> lock(mutex_);
  return failed_;
}
int RecordingCapabilityCallback::abandoned() {
  std::lock_guard<std::mutex> lock(mutex_);
  return abandoned_;
}
int32_t RecordingCapabilityCallback::reason() {
  std::lock_guard<std::mutex> lock(mutex_);
  return reason_;
}
std::string RecordingCapabilityCallback::text() {
  std::lock_guard<std::mutex> lock(mutex_);
  return text_;
}

}  // namespace zephrin::test
