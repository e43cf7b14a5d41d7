#pragma once
#include <cstdint>

namespace norvale {

// Status values of the PTZ control slots.
enum PtzStatus : int32_t {
  PtzOk = 1,
  PtzBadArgument = -3,
  PtzFailed = -18,
  PtzNotSupported = -19,
  PtzPresetNotFound = -23,
  PtzPresetLimit = -26,
};

// Fields of the host's PTZ capability record (fourteen 32-bit integers).
enum PtzRecordField : int {
  PtzFieldPan = 1,
  PtzFieldTilt = 2,
  PtzFieldZoom = 3,
  PtzFieldFocus = 4,
  PtzFieldIris = 5,
  PtzFieldReserved6 = 6,
  PtzFieldPresetSlots = 7,
  PtzFieldPresetCount = 8,
  PtzFieldReserved9 = 9,
  PtzFieldReserved10 = 10,
  PtzFieldAreaZoom = 11,
  PtzFieldCenter = 12,
  PtzFieldUnzoom = 13,
  PtzRecordFields = 14,
};

}  // namespace norvale
