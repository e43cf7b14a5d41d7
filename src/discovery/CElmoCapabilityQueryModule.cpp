#include "discovery/CElmoCapabilityQueryModule.h"

#include "discovery/CElmoCameraProperties.h"

namespace norvale {

CBaseCameraProperties* CElmoCapabilityQueryModule::CreateProperties() {
  return new CElmoCameraProperties(Device(), NtscFlag());
}

}  // namespace norvale
