#pragma once
#include <string>

#include "ptz/CBasePTZHandler.h"

namespace norvale {

// The PTZ driver of this camera family: presets are stored under the root "eVision" in the file
// named by host parameter 6.
class CElmoPTZHandler : public CBasePTZHandler {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(CElmoPTZHandler);
  CElmoPTZHandler(IDriver* driver, uint32_t channelCount);
  virtual ~CElmoPTZHandler();

  std::string GetXMLStorageFileName() override;
  CBasePTZControl* CreateControl(uint32_t channel) override;
};

}  // namespace norvale
