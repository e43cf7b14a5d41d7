// The installer's device configuration file may hold anything: whatever it holds, a reading yields
// one of the three transports, a yes/no dual-streaming flag and a brand, and never fails the caller.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/FuzzFiles.h"
#include "runtime/DeviceConfiguration.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto& scratch = zephrin::fuzz::Scratch();
  scratch.Write("Zephrin.xml", data, size);
  // The seeds name these devices; the last one has no section of its own.
  static const struct {
    const char* address;
    uint16_t port;
  } devices[] = {{"10.0.0.5", 80}, {"10.0.0.5", 8080}, {"camera.local", 554}, {"\"]|//*[\"", 1}};
  for (const auto& device : devices) {
    norvale::CDeviceConfiguration config;
    config.Read(scratch.Path(), "Zephrin", device.address, device.port);
    if (config.rtpMode < 0 || config.rtpMode > 2) std::abort();
    if (config.allowDualStreaming != 0 && config.allowDualStreaming != 1) std::abort();
    if (config.defaultBrand.empty()) std::abort();
  }
  return 0;
}
