#include "runtime/DeviceInfo.h"

namespace norvale {

std::string DeviceName(const DEVICE_INFO* info) {
  return (info ? info->address : std::string()) + ":" + std::to_string(info ? info->port : 0);
}

}  // namespace norvale
