#pragma once
// The host's capability-query callback and capability sink: they record every call, with the
// calling thread, so a test can check what a query reported and from where.
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/HostInterfaces.h"
#include "hostobjects/HostContract.h"

namespace zephrin::test {

class RecordingCapabilityCallback : public norvale::ipcapture::CapabilityCallback {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(RecordingCapabilityCallback);
  struct Failure {
    int32_t reason;
    std::string text;
    bool nullText;
  };

  void Reserved1() override { HostContract::Violation("CapabilityCallback", 1); }
  void QuerySucceeded() override;
  void QueryFailed(int32_t reason, const char* text) override;
  void QueryAbandoned() override;

  size_t Succeeded();
  std::vector<Failure> Failures();
  size_t Abandoned();
  // Succeeded + failed + abandoned calls.
  size_t Outcomes();
  // The thread of every call, in order.
  std::vector<std::thread::id> CallerThreads();
  bool WaitForOutcome(uint32_t ms);

 private:
  void Record();
  std::mutex mutex_;
  std::condition_variable changed_;
  size_t succeeded_ = 0;
  size_t abandoned_ = 0;
  std::vector<Failure> failures_;
  std::vector<std::thread::id> threads_;
};

class RecordingCapabilitySink : public norvale::ipcapture::CapabilitySink {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(RecordingCapabilitySink);
  struct Property {
    std::string name;
    std::string value;
    int32_t isText = -1;  // slot 4's argument, -1 when never called
    int32_t flags = -1;   // slot 6's argument, -1 when never called
  };
  struct Resolution {
    std::string text;
    uint32_t width;
    uint32_t height;
    uint32_t frameInterval;
  };

  RecordingCapabilitySink();
  virtual ~RecordingCapabilitySink();

  void SetCapability(uint32_t id, uint32_t value) override;
  void SetModelName(const char* text) override;
  norvale::ipcapture::CapabilityConnectionItem* GetConnectionItem(uint32_t index) override;
  void Reserved4() override { HostContract::Violation("CapabilitySink", 4); }
  norvale::ipcapture::CapabilityPropertyItem* GetPropertyItem(int32_t id) override;
  norvale::ipcapture::CapabilityResolutionList* GetResolutionList() override;
  void Reserved7() override { HostContract::Violation("CapabilitySink", 7); }
  norvale::ipcapture::CapabilityFrameRateList* GetFrameRateList(int32_t kind) override;

  // Items and lists are refused (null), as a host that cannot store them would.
  void SetRefuseItems(bool refuse);

  std::map<uint32_t, uint32_t> Capabilities();
  // Every SetCapability call in order, repeats included.
  std::vector<std::pair<uint32_t, uint32_t>> CapabilityCalls();
  std::optional<std::string> ModelName();
  std::map<uint32_t, std::string> ConnectionItems();
  std::map<int32_t, Property> Properties();
  // Property ids in the order they were first requested.
  std::vector<int32_t> PropertyOrder();
  std::vector<Resolution> Resolutions();
  std::vector<uint32_t> FrameRates();
  std::optional<uint32_t> DefaultFrameRate();
  std::vector<int32_t> FrameRateListKinds();

 private:
  class ConnectionItem;
  class PropertyItem;
  class ResolutionList;
  class FrameRateList;

  std::mutex mutex_;
  bool refuse_ = false;
  std::map<uint32_t, uint32_t> capabilities_;
  std::vector<std::pair<uint32_t, uint32_t>> capabilityCalls_;
  std::optional<std::string> modelName_;
  std::map<uint32_t, std::string> connection_;
  std::map<int32_t, Property> properties_;
  std::vector<int32_t> propertyOrder_;
  std::vector<Resolution> resolutions_;
  std::vector<uint32_t> frameRates_;
  std::optional<uint32_t> defaultFrameRate_;
  std::vector<int32_t> frameRateKinds_;
  std::map<uint32_t, std::unique_ptr<ConnectionItem>> connectionItems_;
  std::map<int32_t, std::unique_ptr<PropertyItem>> propertyItems_;
  std::unique_ptr<ResolutionList> resolutionList_;
  std::unique_ptr<FrameRateList> frameRateList_;
};

}  // namespace zephrin::test
