// A camera's brand and MAC address become the name of a file in the host's directory. Whatever bytes
// the camera sends, the name is either empty or a bare file name of letters, digits, '.', '_' and '-'
// that ends in ".preset". Input: brand, a NUL byte, MAC address (no NUL: all of it is the brand).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "discovery/ElmoParameterList.h"

namespace PL = norvale::ElmoParameterList;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\0');
  const std::string brand = input.substr(0, split);
  const std::string mac = split == std::string::npos ? std::string("001A2B3C4D5E") : input.substr(split + 1);

  const std::string name = PL::PresetFileName(brand, mac);
  if (name.empty()) return 0;
  if (!PL::IsPresetFileName(name)) std::abort();
  if (name.find_first_of("/\\:") != std::string::npos || name.find('\0') != std::string::npos) std::abort();
  if (name.size() < 10 || name.compare(name.size() - 7, 7, ".preset") != 0) std::abort();
  for (unsigned char c : name)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
          c == '-'))
      std::abort();
  if (name.size() > 255) std::abort();
  // The same camera always gets the same file.
  if (PL::PresetFileName(brand, mac) != name) std::abort();
  return 0;
}
