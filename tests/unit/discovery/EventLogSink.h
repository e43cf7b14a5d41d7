#pragma once
// A capability sink that keeps every call as a readable line, in order, so a test can check the
// order in which a query writes.
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/HostInterfaces.h"
#include "support/HostContract.h"

namespace zephrin::test {

struct PropertyEntry {
  std::string name;
  std::string value;
  int32_t isText = -1;
  int32_t flags = -1;
};

struct ResolutionEntry {
  std::string text;
  uint32_t width = 0, height = 0, interval = 0;
};

class EventLogSink : public norvale::ipcapture::CapabilitySink {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(EventLogSink);
  EventLogSink();
  virtual ~EventLogSink();

  void SetCapability(uint32_t id, uint32_t value) override;
  void SetModelName(const char* text) override;
  norvale::ipcapture::CapabilityConnectionItem* GetConnectionItem(uint32_t index) override;
  void Reserved4() override { zephrin::test::HostContract::Violation("CapabilitySink", 4); }
  norvale::ipcapture::CapabilityPropertyItem* GetPropertyItem(int32_t id) override;
  norvale::ipcapture::CapabilityResolutionList* GetResolutionList() override;
  void Reserved7() override { zephrin::test::HostContract::Violation("CapabilitySink", 7); }
  norvale::ipcapture::CapabilityFrameRateList* GetFrameRateList(int32_t kind) override;

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

}  // namespace zephrin::test
