// MPEG-4 depacketizer: packet sequences with loss, duplicates, markers and failing hand-overs; the
// first record is the described configuration.
#include "fuzz/DepacketizerFuzz.h"
#include "streaming/CMpeg4RTPMediaParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zephrin::fuzz::RunPackets<norvale::CMpeg4RTPMediaParser>(data, size, true);
  return 0;
}
