// The entry points the recording host finds by name. One create function and one delete function
// stand behind every name of their family. Nothing thrown inside leaves through them.
#include <cxxabi.h>

#include "driver/CWendrickDriver.h"
#include "driver/HostInterfaces.h"

using norvale::ipcapture::IDeletable;
using norvale::ipcapture::IIPCaptureDriverEx5;

#define ZEPHRIN_EXPORT extern "C" __attribute__((visibility("default")))
#define ZEPHRIN_ALIAS(target) __attribute__((alias(#target)))

ZEPHRIN_EXPORT IIPCaptureDriverEx5* CreateIPCapture() {
  try {
    return new norvale::CWendrickDriver();
  } catch (abi::__forced_unwind&) {
    throw;
  } catch (...) {
    return nullptr;
  }
}

ZEPHRIN_EXPORT IIPCaptureDriverEx5* CreateIPCaptureEx() ZEPHRIN_ALIAS(CreateIPCapture);
ZEPHRIN_EXPORT IIPCaptureDriverEx5* CreateIPCaptureEx2() ZEPHRIN_ALIAS(CreateIPCapture);
ZEPHRIN_EXPORT IIPCaptureDriverEx5* CreateIPCaptureEx3() ZEPHRIN_ALIAS(CreateIPCapture);
ZEPHRIN_EXPORT IIPCaptureDriverEx5* CreateIPCaptureEx4() ZEPHRIN_ALIAS(CreateIPCapture);
ZEPHRIN_EXPORT IIPCaptureDriverEx5* CreateIPCaptureEx5() ZEPHRIN_ALIAS(CreateIPCapture);

// Frees a capture driver or a capability-query module through its virtual destructor.
ZEPHRIN_EXPORT void DeleteIPCapture(IDeletable* object) {
  try {
    delete object;
  } catch (abi::__forced_unwind&) {
    throw;
  } catch (...) {
  }
}

ZEPHRIN_EXPORT void DeleteIPCaptureEx(IDeletable* object) ZEPHRIN_ALIAS(DeleteIPCapture);
ZEPHRIN_EXPORT void DeleteIPCaptureEx2(IDeletable* object) ZEPHRIN_ALIAS(DeleteIPCapture);
ZEPHRIN_EXPORT void DeleteIPCaptureEx3(IDeletable* object) ZEPHRIN_ALIAS(DeleteIPCapture);
ZEPHRIN_EXPORT void DeleteIPCaptureEx4(IDeletable* object) ZEPHRIN_ALIAS(DeleteIPCapture);
ZEPHRIN_EXPORT void DeleteIPCaptureEx5(IDeletable* object) ZEPHRIN_ALIAS(DeleteIPCapture);
ZEPHRIN_EXPORT void DeleteCapabilityQueryModule(IDeletable* object) ZEPHRIN_ALIAS(DeleteIPCapture);
