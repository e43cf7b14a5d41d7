#pragma once
// What stands behind the capability-query exports: one process-wide module for the Init, Start,
// Terminate and Uninit family, and modules the host owns from Create. Nothing thrown leaves here.
#include <cstdint>

#include "host/HostInterfaces.h"

namespace norvale::CapabilityQueryEntry {

// 1 when the process-wide module was created, 0 when one exists already (or creation failed).
int32_t Init(ipcapture::CapabilityCallback* callback, int32_t videoStandard);
// The module's Start result; 0 for a null address, user or password or without a module.
int32_t Start(const char* address, uint16_t port, const char* user, const char* password,
              ipcapture::CapabilitySink* sink);
int32_t Terminate();
// Destroys the process-wide module (bounded by its query thread's limit); 1.
int32_t Uninit();
// A new module owned by the host; null when it cannot be created.
ipcapture::IIPCapabilityQuery* Create(ipcapture::CapabilityCallback* callback, int32_t videoStandard);

}  // namespace norvale::CapabilityQueryEntry
