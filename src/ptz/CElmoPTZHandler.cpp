#include "ptz/CElmoPTZHandler.h"

#include <new>

#include "ptz/CElmoPTZControl.h"
#include "runtime/HostParameterKeys.h"

namespace norvale {

CElmoPTZHandler::CElmoPTZHandler(IDriver* driver, uint32_t channelCount)
    : CBasePTZHandler(driver, channelCount, "eVision") {}

// The controls are released here, while the family's overrides are still in place.
CElmoPTZHandler::~CElmoPTZHandler() { ReleaseControls(); }

std::string CElmoPTZHandler::GetXMLStorageFileName() {
  const std::string name = Driver() ? Driver()->GetStringParam(hostparam::kPresetFileName) : std::string();
  if (name.empty() && Driver())
    Driver()->Log(LogError, "%s: PTZ handler for camera %s is not created!", ZEPHRIN_FUNCTION,
                  Driver()->GetDeviceName().c_str());
  return name;
}

CBasePTZControl* CElmoPTZHandler::CreateControl(uint32_t channel) {
  return new (std::nothrow) CElmoPTZControl(Driver(), static_cast<int32_t>(channel));
}

}  // namespace norvale
