#pragma once
#include "discovery/CCapabilityQueryModule.h"

namespace norvale {

// The capability query of the camera family: each query reads a CElmoCameraProperties.
class CElmoCapabilityQueryModule : public CCapabilityQueryModule {
 public:
  CElmoCapabilityQueryModule(ipcapture::CapabilityCallback* callback, bool ntsc)
      : CCapabilityQueryModule(callback, ntsc) {}
  ~CElmoCapabilityQueryModule() override { Shutdown(); }

  CBaseCameraProperties* CreateProperties() override;
};

}  // namespace norvale
