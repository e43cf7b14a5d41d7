// RTSP response parser: two responses in a row (values persist between them) for any request kind.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "streaming/CRTSPResponseParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  const int firstKind = provider.ConsumeIntegralInRange<int>(1, 7);
  const int secondKind = provider.ConsumeIntegralInRange<int>(1, 7);
  const std::string first = provider.ConsumeRandomLengthString(4096);
  const std::string second = provider.ConsumeRemainingBytesAsString();
  norvale::CRTSPResponseParser parser;
  parser.ParseResponse(first, static_cast<norvale::RTSPMethod>(firstKind));
  parser.ParseResponse(second, static_cast<norvale::RTSPMethod>(secondKind));
  if (parser.Realm().find('"') != std::string::npos || parser.Nonce().find('"') != std::string::npos) __builtin_trap();
  return 0;
}
