#pragma once
#include <cstdint>

#include "host/HostInterfaces.h"

namespace norvale::legacy {

// The capability-query module of the superseded driver: every query fails at once, on the caller's
// thread, with a notice that points the user to Zephrin. Its own namespace keeps it apart from
// Zephrin's discovery module of the same class name.
class CCapabilityQueryModule : public ipcapture::IIPCapabilityQuery {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(CCapabilityQueryModule);
  static constexpr const char* kSupersededText =
      "This driver was replaced with Zephrin module and doesn't supported anymore";

  CCapabilityQueryModule(ipcapture::CapabilityCallback* callback, bool videoStandard)
      : videoStandard_(videoStandard), callback_(callback) {}

  // Reports the notice through QueryFailed and answers 0: no query is ever started.
  int32_t Start(const char* address, uint16_t port, const char* user, const char* password,
                ipcapture::CapabilitySink* sink) override;
  void Terminate() override {}

 private:
  bool videoStandard_;  // kept as the host gave it; never used
  ipcapture::CapabilityCallback* callback_;
};

}  // namespace norvale::legacy
