#pragma once
#include "ptz/CBasePTZControl.h"

namespace norvale {

// A channel's PTZ control for this camera family: its communicator speaks the family's CGI protocol
// with the abilities the host handed back as host parameter 5.
class CElmoPTZControl : public CBasePTZControl {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(CElmoPTZControl);
  CElmoPTZControl(IDriver* driver, int32_t channel);
  ~CElmoPTZControl() override;

  CBasePTZComm* CreateComm() override;
};

}  // namespace norvale
