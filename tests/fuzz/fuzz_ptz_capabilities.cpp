// The PTZ capability text comes back from the host as a parameter: any bytes must parse without a
// crash, and the written form of a parsed record must read back to the same record.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ptz/CPtzCapabilities.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  norvale::CPtzCapabilities caps;
  caps.Parse(std::string(reinterpret_cast<const char*>(data), size));
  const std::string text = caps.ToString();
  norvale::CPtzCapabilities again;
  again.Parse(text);
  if (again.ToString() != text || again.presetCount != caps.presetCount) std::abort();
  return 0;
}
