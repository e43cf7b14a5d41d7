// The entry points the recording host finds by name. One create function and one delete function
// stand behind every name of their family. Nothing thrown inside leaves through them.

#include "discovery/CapabilityQueryEntry.h"
#include "driver/CWendrickDriver.h"
#include "host/HostInterfaces.h"
#include "platform/Guard.h"

using norvale::ipcapture::CapabilityCallback;
using norvale::ipcapture::CapabilitySink;
using norvale::ipcapture::DeleteObject;
using norvale::ipcapture::IDeletable;
using norvale::ipcapture::IIPCapabilityQuery;
using norvale::ipcapture::IIPCaptureDriverEx5;

// A Windows library exports exactly what is marked for export (visibility attributes do not reach
// its export table); elsewhere the library is built with hidden visibility and these are shown.
#ifdef _WIN32
#define ZEPHRIN_EXPORT extern "C" __declspec(dllexport)
#else
#define ZEPHRIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif
#define ZEPHRIN_ALIAS(target) __attribute__((alias(#target)))

ZEPHRIN_EXPORT IIPCaptureDriverEx5* CreateIPCapture() {
  try {
    return new norvale::CWendrickDriver();
  }
  ZEPHRIN_RETHROW_CANCELLATION catch (...) { return nullptr; }
}

ZEPHRIN_EXPORT IIPCaptureDriverEx5* CreateIPCaptureEx() ZEPHRIN_ALIAS(CreateIPCapture);
ZEPHRIN_EXPORT IIPCaptureDriverEx5* CreateIPCaptureEx2() ZEPHRIN_ALIAS(CreateIPCapture);
ZEPHRIN_EXPORT IIPCaptureDriverEx5* CreateIPCaptureEx3() ZEPHRIN_ALIAS(CreateIPCapture);
ZEPHRIN_EXPORT IIPCaptureDriverEx5* CreateIPCaptureEx4() ZEPHRIN_ALIAS(CreateIPCapture);
ZEPHRIN_EXPORT IIPCaptureDriverEx5* CreateIPCaptureEx5() ZEPHRIN_ALIAS(CreateIPCapture);

// Frees a capture driver (within its stop limit) or a capability-query module.
ZEPHRIN_EXPORT void DeleteIPCapture(IDeletable* object) {
  try {
    if (auto* driver = dynamic_cast<norvale::CIPCaptureDriver*>(object))
      norvale::CIPCaptureDriver::Delete(driver);
    else
      DeleteObject(object);
  }
  ZEPHRIN_RETHROW_CANCELLATION catch (...) {}
}

ZEPHRIN_EXPORT void DeleteIPCaptureEx(IDeletable* object) ZEPHRIN_ALIAS(DeleteIPCapture);
ZEPHRIN_EXPORT void DeleteIPCaptureEx2(IDeletable* object) ZEPHRIN_ALIAS(DeleteIPCapture);
ZEPHRIN_EXPORT void DeleteIPCaptureEx3(IDeletable* object) ZEPHRIN_ALIAS(DeleteIPCapture);
ZEPHRIN_EXPORT void DeleteIPCaptureEx4(IDeletable* object) ZEPHRIN_ALIAS(DeleteIPCapture);
ZEPHRIN_EXPORT void DeleteIPCaptureEx5(IDeletable* object) ZEPHRIN_ALIAS(DeleteIPCapture);
ZEPHRIN_EXPORT void DeleteCapabilityQueryModule(IDeletable* object) ZEPHRIN_ALIAS(DeleteIPCapture);

// The capability query: a process-wide module (Init, Start, Terminate, Uninit) and modules the host
// owns (Create, freed by DeleteCapabilityQueryModule). videoStandard: non-zero = NTSC.
ZEPHRIN_EXPORT int32_t InitCapabilityQuery(CapabilityCallback* callback, int32_t videoStandard) {
  return norvale::CapabilityQueryEntry::Init(callback, videoStandard);
}

ZEPHRIN_EXPORT int32_t StartCapabilityQuery(const char* address, uint16_t port, const char* user, const char* password,
                                            CapabilitySink* sink) {
  return norvale::CapabilityQueryEntry::Start(address, port, user, password, sink);
}

ZEPHRIN_EXPORT int32_t TerminateCapabilityQuery() { return norvale::CapabilityQueryEntry::Terminate(); }

ZEPHRIN_EXPORT int32_t UninitCapabilityQuery() { return norvale::CapabilityQueryEntry::Uninit(); }

ZEPHRIN_EXPORT IIPCapabilityQuery* CreateCapabilityQueryModule(CapabilityCallback* callback, int32_t videoStandard) {
  return norvale::CapabilityQueryEntry::Create(callback, videoStandard);
}
