#include "runtime/DeviceInfo.h"

namespace norvale {

std::string DeviceName(const DEVICE_INFO* info) {
  return (info ? info->address : std::string()) + ":" + std::to_string(info ? info->port : 0);
}

uint32_t StopLimit(const DEVICE_INFO* info) {
  const int32_t timeout = info && info->networkTimeout > 0 ? info->networkTimeout : 5000;
  return 2u * static_cast<uint32_t>(timeout);
}

}  // namespace norvale
