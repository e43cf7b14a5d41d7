#include "discovery/CapabilityQueryEntry.h"

#include <memory>
#include <utility>

#include "discovery/CElmoCapabilityQueryModule.h"
#include "platform/Guard.h"
#include "runtime/RecursiveLock.h"

namespace norvale::CapabilityQueryEntry {

namespace {
RecursiveLock& SlotLock() {
  static RecursiveLock lock;
  return lock;
}
CCapabilityQueryModule* slot = nullptr;
}  // namespace

using platform::Guarded;

int32_t Init(ipcapture::CapabilityCallback* callback, int32_t videoStandard) {
  return Guarded(
      [&]() -> int32_t {
        RecursiveLockGuard guard(SlotLock());
        if (slot) return 0;
        slot = new CElmoCapabilityQueryModule(callback, videoStandard != 0);
        return 1;
      },
      int32_t{0});
}

int32_t Start(const char* address, uint16_t port, const char* user, const char* password,
              ipcapture::CapabilitySink* sink) {
  return Guarded(
      [&]() -> int32_t {
        if (!address || !user || !password) return 0;
        RecursiveLockGuard guard(SlotLock());
        return slot ? slot->Start(address, port, user, password, sink) : 0;
      },
      int32_t{0});
}

int32_t Terminate() {
  Guarded(
      [&]() -> int32_t {
        RecursiveLockGuard guard(SlotLock());
        if (slot) slot->Terminate();
        return 1;
      },
      int32_t{1});
  return 1;
}

int32_t Uninit() {
  Guarded(
      [&]() -> int32_t {
        std::unique_ptr<CCapabilityQueryModule> module;
        {
          RecursiveLockGuard guard(SlotLock());
          module.reset(std::exchange(slot, nullptr));
        }
        // Destroyed outside the slot lock: it may wait for its query thread.
        module.reset();
        return 1;
      },
      int32_t{1});
  return 1;
}

ipcapture::IIPCapabilityQuery* Create(ipcapture::CapabilityCallback* callback, int32_t videoStandard) {
  return Guarded(
      [&]() -> ipcapture::IIPCapabilityQuery* { return new CElmoCapabilityQueryModule(callback, videoStandard != 0); },
      static_cast<ipcapture::IIPCapabilityQuery*>(nullptr));
}

}  // namespace norvale::CapabilityQueryEntry
