#pragma once
// The per-channel parameters a queued PTZ command carries to the camera protocol: the channel number,
// a host flag kept for the host, and the manual-focus state the protocol keeps in step with the camera.
#include <cstdint>

class IIPParams {
 public:
  virtual ~IIPParams() = default;                // slot 0
  virtual int32_t GetChannel() = 0;              // slot 1
  virtual bool GetFlagA() = 0;                   // slot 2
  virtual void SetFlagA(bool value) = 0;         // slot 3
  virtual bool GetManualFocus() = 0;             // slot 4
  virtual void SetManualFocus(bool manual) = 0;  // slot 5
};
