#include "unit/discovery/EventLogSink.h"

#include <cstdio>

namespace zephrin::test {

namespace {
std::string Text(const char* text) { return text ? text : "(null)"; }
}  // namespace

class EventLogSink::ValueItem : public norvale::ipcapture::CapabilityConnectionItem {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(ValueItem);
  ValueItem(EventLogSink& sink, uint32_t index) : sink_(sink), index_(index) {}
  void SetValue(const char* text) override {
    sink_.connection[index_] = Text(text);
    sink_.Record("connection " + std::to_string(index_) + "=" + Text(text));
  }

 private:
  EventLogSink& sink_;
  uint32_t index_;
};

class EventLogSink::PropertyItem : public norvale::ipcapture::CapabilityPropertyItem {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(PropertyItem);
  PropertyItem(EventLogSink& sink, int32_t id) : sink_(sink), id_(id) {}
  void SetValue(const char* text) override {
    sink_.properties[id_].value = Text(text);
    sink_.Record("property " + std::to_string(id_) + " value=" + Text(text));
  }
  void Reserved2() override { zephrin::test::HostContract::Violation("CapabilityPropertyItem", 2); }
  void Reserved3() override { zephrin::test::HostContract::Violation("CapabilityPropertyItem", 3); }
  void SetValueIsText(int32_t isText) override {
    sink_.properties[id_].isText = isText;
    sink_.Record("property " + std::to_string(id_) + " text=" + std::to_string(isText));
  }
  void SetName(const char* name) override {
    sink_.properties[id_].name = Text(name);
    sink_.Record("property " + std::to_string(id_) + " name=" + Text(name));
  }
  void SetFlags(int32_t value) override {
    sink_.properties[id_].flags = value;
    sink_.Record("property " + std::to_string(id_) + " slot6=" + std::to_string(value));
  }

 private:
  EventLogSink& sink_;
  int32_t id_;
};

class EventLogSink::ResolutionList : public norvale::ipcapture::CapabilityResolutionList {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(ResolutionList);
  explicit ResolutionList(EventLogSink& sink) : sink_(sink) {}
  void Add(const char* text, uint32_t width, uint32_t height, uint32_t interval) override {
    sink_.resolutions.push_back({Text(text), width, height, interval});
    char line[160];
    std::snprintf(line, sizeof line, "resolution %s %ux%u@%u", Text(text).c_str(), width, height, interval);
    sink_.Record(line);
  }

 private:
  EventLogSink& sink_;
};

class EventLogSink::FrameRateList : public norvale::ipcapture::CapabilityFrameRateList {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(FrameRateList);
  explicit FrameRateList(EventLogSink& sink) : sink_(sink) {}
  void SetDefault(uint32_t interval) override {
    sink_.defaultInterval = interval;
    sink_.Record("frame interval default " + std::to_string(interval));
  }
  void Add(uint32_t interval) override {
    sink_.frameIntervals.push_back(interval);
    sink_.Record("frame interval " + std::to_string(interval));
  }

 private:
  EventLogSink& sink_;
};

EventLogSink::EventLogSink()
    : resolutionList_(std::make_unique<ResolutionList>(*this)),
      frameRateList_(std::make_unique<FrameRateList>(*this)) {}

EventLogSink::~EventLogSink() = default;

void EventLogSink::Record(const std::string& event) {
  std::lock_guard<std::mutex> lock(mutex_);
  events_.push_back(event);
}

std::vector<std::string> EventLogSink::Events() {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}

void EventLogSink::SetCapability(uint32_t id, uint32_t value) {
  capabilities[id] = value;
  Record("capability " + std::to_string(id) + "=" + std::to_string(value));
}

void EventLogSink::SetModelName(const char* text) {
  modelName = Text(text);
  Record("model " + modelName);
}

norvale::ipcapture::CapabilityConnectionItem* EventLogSink::GetConnectionItem(uint32_t index) {
  valueItems_.push_back(std::make_unique<ValueItem>(*this, index));
  return valueItems_.back().get();
}

norvale::ipcapture::CapabilityPropertyItem* EventLogSink::GetPropertyItem(int32_t id) {
  if (refusePropertyItems) return nullptr;
  propertyOrder.push_back(id);
  propertyItems_.push_back(std::make_unique<PropertyItem>(*this, id));
  return propertyItems_.back().get();
}

norvale::ipcapture::CapabilityResolutionList* EventLogSink::GetResolutionList() { return resolutionList_.get(); }

norvale::ipcapture::CapabilityFrameRateList* EventLogSink::GetFrameRateList(int32_t kind) {
  frameRateListKinds.push_back(kind);
  return frameRateList_.get();
}

}  // namespace zephrin::test
