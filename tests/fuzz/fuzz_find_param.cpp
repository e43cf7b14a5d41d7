// Parameter lookup over arbitrary key, separator, text and delimiters: a result is always a piece of
// the text that directly follows the separator and holds no delimiter.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "runtime/StringUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  const std::string key = provider.ConsumeRandomLengthString(16);
  const std::string separator = provider.ConsumeRandomLengthString(4);
  const std::string delimiters = provider.ConsumeRandomLengthString(4);
  const std::string text = provider.ConsumeRemainingBytesAsString();
  const std::string value = norvale::FindParamValue(key, separator, text, delimiters);
  if (value.empty()) return 0;
  if (key.empty() || separator.empty() || delimiters.empty()) __builtin_trap();
  if (value.find_first_of(delimiters) != std::string::npos) __builtin_trap();
  if (text.find(separator + value) == std::string::npos) __builtin_trap();
  if (text.find(key) == std::string::npos) __builtin_trap();
  return 0;
}
