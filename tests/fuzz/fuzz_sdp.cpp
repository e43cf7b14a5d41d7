// SDP parser: any text is accepted or refused without reading outside it; decoded parameter sets
// stay within their limit.
#include <cstddef>
#include <cstdint>
#include <string>

#include "streaming/CSDPResponseParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  norvale::CSDPResponseParser parser;
  parser.Parse(std::string(reinterpret_cast<const char*>(data), size));
  const norvale::SDPDescription& d = parser.Description();
  if (d.sps.size() > 256 || d.pps.size() > 256) __builtin_trap();
  for (const norvale::SDPMedia* m : {&d.video, &d.audio, &d.metadata})
    if (m->connectionAddress.find('/') != std::string::npos) __builtin_trap();
  return 0;
}
