#pragma once
#include <cstdint>

#include "ptz/IIPParams.h"

namespace norvale {

// One queued PTZ command.
class CPTZItem {
 public:
  enum Type : int32_t { Move = 1, Focus = 2, Iris = 3, Stop = 4, AreaZoom = 5, Center = 6, Unzoom = 7 };
  enum Subtype : int32_t {
    None = 0,
    FocusNegative = 1,
    FocusPositive = 2,
    IrisPositive = 3,
    IrisNegative = 4,
    StopMoving = 5,
    StopZooming = 6,
    StopFocusing = 7,
    StopIris = 8,
  };
  // Move directions 0-7 pan and tilt; these two zoom.
  static constexpr int32_t kZoomIn = 8;
  static constexpr int32_t kZoomOut = 9;

  CPTZItem() = default;
  CPTZItem(int32_t type_, int32_t subtype_, IIPParams* params_, int32_t speed_ = 0, int32_t extraA_ = 0,
           int32_t extraB_ = 0, int32_t extraC_ = 0)
      : type(type_),
        subtype(subtype_),
        params(params_),
        speed(speed_),
        extraA(extraA_),
        extraB(extraB_),
        extraC(extraC_) {}
  virtual ~CPTZItem() = default;

  int32_t type = 0;
  int32_t subtype = 0;
  IIPParams* params = nullptr;  // not owned
  int32_t speed = 0;            // as the host gave it
  int32_t extraA = 0;           // move direction; first area-zoom / centre value
  int32_t extraB = 0;
  int32_t extraC = 0;
};

}  // namespace norvale
