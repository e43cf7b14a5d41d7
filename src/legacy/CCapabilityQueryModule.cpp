#include "legacy/CCapabilityQueryModule.h"

namespace norvale::legacy {

int32_t CCapabilityQueryModule::Start(const char*, uint16_t, const char*, const char*, ipcapture::CapabilitySink*) {
  (void)videoStandard_;
  if (callback_) callback_->QueryFailed(ipcapture::QueryOtherFailure, kSupersededText);
  return 0;
}

}  // namespace norvale::legacy
