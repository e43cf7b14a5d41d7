#include "ptz/CElmoPTZControl.h"

#include <new>

#include "ptz/CElmoPTZComm.h"
#include "runtime/HostParameterKeys.h"

namespace norvale {

CElmoPTZControl::CElmoPTZControl(IDriver* driver, int32_t channel) : CBasePTZControl(driver, channel) {}

CElmoPTZControl::~CElmoPTZControl() { Close(); }

CBasePTZComm* CElmoPTZControl::CreateComm() {
  CPtzCapabilities capabilities;
  if (Driver()) capabilities.Parse(Driver()->GetStringParam(hostparam::kPtzCapabilities));
  return new (std::nothrow)
      CElmoPTZComm(Driver(), capabilities, static_cast<uint16_t>(static_cast<uint32_t>(GetChannel()) & 0xFFFFu));
}

}  // namespace norvale
