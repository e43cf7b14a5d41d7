#include "hostobjects/CapabilityRecorder.h"

#include <algorithm>
#include <chrono>

namespace zephrin::test {

namespace ip = norvale::ipcapture;

// ---- callback -------------------------------------------------------------------------------------
void RecordingCapabilityCallback::Record() {
  threads_.push_back(std::this_thread::get_id());
  changed_.notify_all();
}

void RecordingCapabilityCallback::QuerySucceeded() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++succeeded_;
  Record();
}

void RecordingCapabilityCallback::QueryFailed(int32_t reason, const char* text) {
  std::lock_guard<std::mutex> lock(mutex_);
  failures_.push_back({reason, text ? text : "", text == nullptr});
  Record();
}

void RecordingCapabilityCallback::QueryAbandoned() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++abandoned_;
  Record();
}

size_t RecordingCapabilityCallback::Succeeded() {
  std::lock_guard<std::mutex> lock(mutex_);
  return succeeded_;
}

std::vector<RecordingCapabilityCallback::Failure> RecordingCapabilityCallback::Failures() {
  std::lock_guard<std::mutex> lock(mutex_);
  return failures_;
}

size_t RecordingCapabilityCallback::Abandoned() {
  std::lock_guard<std::mutex> lock(mutex_);
  return abandoned_;
}

size_t RecordingCapabilityCallback::Outcomes() {
  std::lock_guard<std::mutex> lock(mutex_);
  return threads_.size();
}

std::vector<std::thread::id> RecordingCapabilityCallback::CallerThreads() {
  std::lock_guard<std::mutex> lock(mutex_);
  return threads_;
}

bool RecordingCapabilityCallback::WaitForOutcome(uint32_t ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return !threads_.empty(); });
}

// ---- sink items -------------------------------------------------------------------------------------
class RecordingCapabilitySink::ConnectionItem : public ip::CapabilityConnectionItem {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(ConnectionItem);
  ConnectionItem(RecordingCapabilitySink& sink, uint32_t index) : sink_(sink), index_(index) {}
  void SetValue(const char* text) override {
    std::lock_guard<std::mutex> lock(sink_.mutex_);
    sink_.connection_[index_] = text ? text : "";
  }

 private:
  RecordingCapabilitySink& sink_;
  uint32_t index_;
};

class RecordingCapabilitySink::PropertyItem : public ip::CapabilityPropertyItem {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(PropertyItem);
  PropertyItem(RecordingCapabilitySink& sink, int32_t id) : sink_(sink), id_(id) {}
  void SetValue(const char* text) override {
    std::lock_guard<std::mutex> lock(sink_.mutex_);
    sink_.properties_[id_].value = text ? text : "";
  }
  void Reserved2() override { HostContract::Violation("CapabilityPropertyItem", 2); }
  void Reserved3() override { HostContract::Violation("CapabilityPropertyItem", 3); }
  void SetValueIsText(int32_t isText) override {
    std::lock_guard<std::mutex> lock(sink_.mutex_);
    sink_.properties_[id_].isText = isText;
  }
  void SetName(const char* name) override {
    std::lock_guard<std::mutex> lock(sink_.mutex_);
    sink_.properties_[id_].name = name ? name : "";
  }
  void SetFlags(int32_t flags) override {
    std::lock_guard<std::mutex> lock(sink_.mutex_);
    sink_.properties_[id_].flags = flags;
  }

 private:
  RecordingCapabilitySink& sink_;
  int32_t id_;
};

class RecordingCapabilitySink::ResolutionList : public ip::CapabilityResolutionList {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(ResolutionList);
  explicit ResolutionList(RecordingCapabilitySink& sink) : sink_(sink) {}
  void Add(const char* text, uint32_t width, uint32_t height, uint32_t frameInterval) override {
    std::lock_guard<std::mutex> lock(sink_.mutex_);
    sink_.resolutions_.push_back({text ? text : "", width, height, frameInterval});
  }

 private:
  RecordingCapabilitySink& sink_;
};

class RecordingCapabilitySink::FrameRateList : public ip::CapabilityFrameRateList {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(FrameRateList);
  explicit FrameRateList(RecordingCapabilitySink& sink) : sink_(sink) {}
  void SetDefault(uint32_t frameInterval) override {
    std::lock_guard<std::mutex> lock(sink_.mutex_);
    sink_.defaultFrameRate_ = frameInterval;
  }
  void Add(uint32_t frameInterval) override {
    std::lock_guard<std::mutex> lock(sink_.mutex_);
    sink_.frameRates_.push_back(frameInterval);
  }

 private:
  RecordingCapabilitySink& sink_;
};

// ---- sink -------------------------------------------------------------------------------------------
RecordingCapabilitySink::RecordingCapabilitySink() = default;
RecordingCapabilitySink::~RecordingCapabilitySink() = default;

void RecordingCapabilitySink::SetCapability(uint32_t id, uint32_t value) {
  std::lock_guard<std::mutex> lock(mutex_);
  capabilities_[id] = value;
  capabilityCalls_.emplace_back(id, value);
}

void RecordingCapabilitySink::SetModelName(const char* text) {
  std::lock_guard<std::mutex> lock(mutex_);
  modelName_ = text ? text : "";
}

ip::CapabilityConnectionItem* RecordingCapabilitySink::GetConnectionItem(uint32_t index) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (refuse_) return nullptr;
  auto& item = connectionItems_[index];
  if (!item) item = std::make_unique<ConnectionItem>(*this, index);
  return item.get();
}

ip::CapabilityPropertyItem* RecordingCapabilitySink::GetPropertyItem(int32_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (refuse_) return nullptr;
  auto& item = propertyItems_[id];
  if (!item) {
    item = std::make_unique<PropertyItem>(*this, id);
    propertyOrder_.push_back(id);
  }
  return item.get();
}

ip::CapabilityResolutionList* RecordingCapabilitySink::GetResolutionList() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (refuse_) return nullptr;
  if (!resolutionList_) resolutionList_ = std::make_unique<ResolutionList>(*this);
  return resolutionList_.get();
}

ip::CapabilityFrameRateList* RecordingCapabilitySink::GetFrameRateList(int32_t kind) {
  std::lock_guard<std::mutex> lock(mutex_);
  frameRateKinds_.push_back(kind);
  if (refuse_) return nullptr;
  if (!frameRateList_) frameRateList_ = std::make_unique<FrameRateList>(*this);
  return frameRateList_.get();
}

void RecordingCapabilitySink::SetRefuseItems(bool refuse) {
  std::lock_guard<std::mutex> lock(mutex_);
  refuse_ = refuse;
}

std::map<uint32_t, uint32_t> RecordingCapabilitySink::Capabilities() {
  std::lock_guard<std::mutex> lock(mutex_);
  return capabilities_;
}

std::vector<std::pair<uint32_t, uint32_t>> RecordingCapabilitySink::CapabilityCalls() {
  std::lock_guard<std::mutex> lock(mutex_);
  return capabilityCalls_;
}

std::optional<std::string> RecordingCapabilitySink::ModelName() {
  std::lock_guard<std::mutex> lock(mutex_);
  return modelName_;
}

std::map<uint32_t, std::string> RecordingCapabilitySink::ConnectionItems() {
  std::lock_guard<std::mutex> lock(mutex_);
  return connection_;
}

std::map<int32_t, RecordingCapabilitySink::Property> RecordingCapabilitySink::Properties() {
  std::lock_guard<std::mutex> lock(mutex_);
  return properties_;
}

std::vector<int32_t> RecordingCapabilitySink::PropertyOrder() {
  std::lock_guard<std::mutex> lock(mutex_);
  return propertyOrder_;
}

std::vector<RecordingCapabilitySink::Resolution> RecordingCapabilitySink::Resolutions() {
  std::lock_guard<std::mutex> lock(mutex_);
  return resolutions_;
}

std::vector<uint32_t> RecordingCapabilitySink::FrameRates() {
  std::lock_guard<std::mutex> lock(mutex_);
  return frameRates_;
}

std::optional<uint32_t> RecordingCapabilitySink::DefaultFrameRate() {
  std::lock_guard<std::mutex> lock(mutex_);
  return defaultFrameRate_;
}

std::vector<int32_t> RecordingCapabilitySink::FrameRateListKinds() {
  std::lock_guard<std::mutex> lock(mutex_);
  return frameRateKinds_;
}

}  // namespace zephrin::test
