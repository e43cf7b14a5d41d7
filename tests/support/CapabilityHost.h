#pragma once
// The host's side of a capability query: a sink and a callback that record everything the driver
// writes into them, in order, and let a test wait for the outcome.
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "driver/HostInterfaces.h"

namespace zephrin::test {

struct PropertyEntry {
  std::string name;
  std::string value;
  int32_t textFlag = -1;
  int32_t reserved6 = -1;
};

struct ResolutionEntry {
  std::string text;
  uint32_t width = 0, height = 0, interval = 0;
};

class RecordingCapabilitySink : public norvale::ipcapture::ICapabilitySink {
 public:
  RecordingCapabilitySink();
  ~RecordingCapabilitySink() override;

  void SetCapability(uint32_t id, uint32_t value) override;
  void SetModelName(const char* text) override;
  norvale::ipcapture::ICapabilityValueItem* GetConnectionItem(uint32_t index) override;
  void Reserved4() override {}
  norvale::ipcapture::ICapabilityPropertyItem* GetPropertyItem(int32_t id) override;
  norvale::ipcapture::ICapabilityResolutionList* GetResolutionList() override;
  void Reserved7() override {}
  norvale::ipcapture::ICapabilityFrameRateList* GetFrameRateList(int32_t kind) override;

  // Every call in order, as readable lines ("capability 8=1", "property 5 ...").
  std::vector<std::string> Events();
  std::string modelName;
  std::map<uint32_t, uint32_t> capabilities;
  std::map<uint32_t, std::string> connection;
  std::map<int32_t, PropertyEntry> properties;
  std::vector<int32_t> propertyOrder;
  std::vector<ResolutionEntry> resolutions;
  std::vector<uint32_t> frameIntervals;
  int64_t defaultInterval = -1;  // -1: none set
  std::vector<int32_t> frameRateListKinds;
  // Makes GetPropertyItem hand out nothing, as a host that cannot store properties would.
  bool refusePropertyItems = false;

  void Record(const std::string& event);

 private:
  class ValueItem;
  class PropertyItem;
  class ResolutionList;
  class FrameRateList;

  std::mutex mutex_;
  std::vector<std::string> events_;
  std::vector<std::unique_ptr<ValueItem>> valueItems_;
  std::vector<std::unique_ptr<PropertyItem>> propertyItems_;
  std::unique_ptr<ResolutionList> resolutionList_;
  std::unique_ptr<FrameRateList> frameRateList_;
};

class RecordingCapabilityCallback : public norvale::ipcapture::ICapabilityCallback {
 public:
  void Reserved1() override {}
  void QuerySucceeded() override;
  void QueryFailed(int32_t reason, const char* text) override;
  void QueryAbandoned() override;

  // Waits until the query has succeeded or failed; false on time-out.
  bool WaitOutcome(int timeoutMs);
  int succeeded();
  int failed();
  int abandoned();
  int32_t reason();
  std::string text();

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  int succeeded_ = 0, failed_ = 0, abandoned_ = 0;
  int32_t reason_ = -1;
  std::string text_;
};

}  // namespace zephrin::test
