#pragma once
// The host's capability sink as a query writes into it. Every call into the host (on the sink, on the
// items and lists it hands out, and the query's outcome) passes one gate, which the host's end of the
// query closes: from then on no call reaches the host, a write is dropped and an item or list asked
// for is null, so that the query stops at its next part. A call already inside the host when the
// gate closes stays there and returns to a closed gate. The items and lists handed to the writer are
// stand-ins of this object, each valid until the next one of its kind is asked for.
#include <atomic>
#include <cstdint>
#include <memory>

#include "host/HostInterfaces.h"
#include "runtime/RecursiveLock.h"

namespace norvale {

class CGuardedCapabilitySink : public ipcapture::CapabilitySink {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(CGuardedCapabilitySink);
  CGuardedCapabilitySink();
  ~CGuardedCapabilitySink();
  CGuardedCapabilitySink(const CGuardedCapabilitySink&) = delete;
  CGuardedCapabilitySink& operator=(const CGuardedCapabilitySink&) = delete;

  // The host's sink; set before the query's thread starts.
  void SetHost(ipcapture::CapabilitySink* host) { host_ = host; }
  bool HasHost() const { return host_ != nullptr; }

  // Makes call, a call into the host, unless the gate is closed; false when it was not made.
  template <class Call>
  bool Pass(Call&& call) {
    RecursiveLockGuard guard(gate_);
    if (closed_.load()) return false;
    call();
    return true;
  }
  // Closes the gate, waiting at most ms for a call inside the host to return; false when one is
  // still inside. On the thread that makes that call it closes at once.
  bool Close(uint32_t ms);

  void SetCapability(uint32_t id, uint32_t value) override;                         // slot 1
  void SetModelName(const char* text) override;                                     // slot 2
  ipcapture::CapabilityConnectionItem* GetConnectionItem(uint32_t index) override;  // slot 3
  void Reserved4() override {}                                                      // slot 4: never called
  ipcapture::CapabilityPropertyItem* GetPropertyItem(int32_t id) override;          // slot 5
  ipcapture::CapabilityResolutionList* GetResolutionList() override;                // slot 6
  void Reserved7() override {}                                                      // slot 7: never called
  ipcapture::CapabilityFrameRateList* GetFrameRateList(int32_t kind) override;      // slot 8

 private:
  class ConnectionItem;
  class PropertyItem;
  class ResolutionList;
  class FrameRateList;

  RecursiveLock gate_;
  std::atomic<bool> closed_{false};
  ipcapture::CapabilitySink* host_ = nullptr;
  const std::unique_ptr<ConnectionItem> connection_;
  const std::unique_ptr<PropertyItem> property_;
  const std::unique_ptr<ResolutionList> resolutions_;
  const std::unique_ptr<FrameRateList> frameRates_;
};

}  // namespace norvale
