// JPEG depacketizer and JFIF header building: packet sequences with loss, duplicates, markers and
// failing hand-overs.
#include "fuzz/DepacketizerFuzz.h"
#include "streaming/CJpegRTPMediaParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zephrin::fuzz::RunPackets<norvale::CJpegRTPMediaParser>(data, size);
  return 0;
}
