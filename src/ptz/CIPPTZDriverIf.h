#pragma once
#include "host/HostInterfaces.h"

namespace norvale {

// The PTZ driver as the host sees it; the control lookup (GetPTZApiEx) is left to the handler.
class CIPPTZDriverIf : public ipcapture::IIPPTZDriverEx {};

}  // namespace norvale
