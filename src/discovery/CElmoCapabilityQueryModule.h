#pragma once
#include "discovery/CCapabilityQueryModule.h"

namespace norvale {

// The capability query of the camera family: each query reads a CElmoCameraProperties.
class CElmoCapabilityQueryModule : public CCapabilityQueryModule {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(CElmoCapabilityQueryModule);
  CElmoCapabilityQueryModule(ipcapture::CapabilityCallback* callback, bool ntsc)
      : CCapabilityQueryModule(callback, ntsc) {}
  virtual ~CElmoCapabilityQueryModule() { Shutdown(); }

  CBaseCameraProperties* CreateProperties() override;
};

}  // namespace norvale
