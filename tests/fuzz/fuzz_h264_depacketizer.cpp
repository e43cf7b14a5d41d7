// H.264 depacketizer: packet sequences with loss, duplicates, markers and failing hand-overs.
#include "fuzz/DepacketizerFuzz.h"
#include "streaming/CH264RTPMediaParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zephrin::fuzz::RunPackets<norvale::CH264RTPMediaParser>(data, size, true);
  return 0;
}
