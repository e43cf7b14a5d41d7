// The capability-query entry points of the superseded driver, kept under their old names so that a
// host configured for it still loads; every query is answered with the superseded notice. Nothing
// thrown inside leaves through them.
#include <mutex>

#include "host/HostInterfaces.h"
#include "legacy/CCapabilityQueryModule.h"
#include "platform/Guard.h"

using norvale::legacy::CCapabilityQueryModule;
using namespace norvale::ipcapture;

// A Windows library exports exactly what is marked for export (visibility attributes do not reach
// its export table); elsewhere the library is built with hidden visibility and these are shown.
#ifdef _WIN32
#define WENDRICK_EXPORT extern "C" __declspec(dllexport)
#else
#define WENDRICK_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {
// Recursive: a host may uninitialise from inside the callback that Start calls.
std::recursive_mutex moduleMutex;
CCapabilityQueryModule* processModule = nullptr;  // filled by InitCapabilityQuery
}  // namespace

WENDRICK_EXPORT int32_t InitCapabilityQuery(CapabilityCallback* callback, int32_t videoStandard) {
  try {
    std::lock_guard<std::recursive_mutex> lock(moduleMutex);
    if (processModule) return 0;
    processModule = new CCapabilityQueryModule(callback, videoStandard != 0);
    return 1;
  }
  ZEPHRIN_RETHROW_CANCELLATION catch (...) { return 0; }
}

WENDRICK_EXPORT int32_t StartCapabilityQuery(const char* address, uint16_t port, const char* user, const char* password,
                                             CapabilitySink* sink) {
  try {
    if (!address || !user || !password) return 0;
    std::lock_guard<std::recursive_mutex> lock(moduleMutex);
    if (!processModule) return 0;
    return processModule->Start(address, port, user, password, sink);
  }
  ZEPHRIN_RETHROW_CANCELLATION catch (...) { return 0; }
}

WENDRICK_EXPORT int32_t TerminateCapabilityQuery() {
  try {
    std::lock_guard<std::recursive_mutex> lock(moduleMutex);
    if (processModule) processModule->Terminate();
  }
  ZEPHRIN_RETHROW_CANCELLATION catch (...) {}
  return 1;
}

WENDRICK_EXPORT int32_t UninitCapabilityQuery() {
  try {
    CCapabilityQueryModule* module = nullptr;
    {
      std::lock_guard<std::recursive_mutex> lock(moduleMutex);
      module = processModule;
      processModule = nullptr;
    }
    DeleteObject(module);
  }
  ZEPHRIN_RETHROW_CANCELLATION catch (...) {}
  return 1;
}

WENDRICK_EXPORT IIPCapabilityQuery* CreateCapabilityQueryModule(CapabilityCallback* callback, int32_t videoStandard) {
  try {
    return new CCapabilityQueryModule(callback, videoStandard != 0);
  }
  ZEPHRIN_RETHROW_CANCELLATION catch (...) { return nullptr; }
}

WENDRICK_EXPORT void DeleteCapabilityQueryModule(IDeletable* module) {
  try {
    DeleteObject(module);
  }
  ZEPHRIN_RETHROW_CANCELLATION catch (...) {}
}
