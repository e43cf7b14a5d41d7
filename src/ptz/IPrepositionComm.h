#pragma once
#include <cstdint>
#include <string>

#include "runtime/IDriver.h"

namespace norvale {

// The camera side of the preset list: store the current position in a numbered camera slot, go to it,
// remove it. Slots count from 0. The log of IDebugMessage gives the list its log.
class IPrepositionComm : public virtual IDebugMessage {
 public:
  virtual bool StorePreposition(uint32_t slot, const std::string& name) = 0;                // slot 0
  virtual bool GotoPreposition(uint32_t slot, const std::string& name, int32_t value) = 0;  // slot 1
  virtual bool RemovePreposition(uint32_t slot, const std::string& name) {                  // slot 2
    (void)slot;
    (void)name;
    return true;
  }
};

}  // namespace norvale
