// A preset file left by an earlier run, a crash or a hand edit may hold anything. Opening it always
// leaves a usable file; entries read from it are real entries; and what is written to it reads back
// the same, also after the file is opened again.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/FuzzFiles.h"
#include "ptz/CXMLPrepositionReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  const std::string newName = provider.ConsumeRandomLengthString(64);
  const uint32_t newSlot = provider.ConsumeIntegral<uint32_t>();
  const std::vector<uint8_t> file = provider.ConsumeRemainingBytes<uint8_t>();
  auto& scratch = zephrin::fuzz::Scratch();
  const std::string path = scratch.Write("camera.preset", file.data(), file.size());

  std::vector<std::string> names;
  {
    CXMLPrepositionReader reader("eVision");
    if (!reader.Init(path)) std::abort();  // a damaged file is replaced, never fatal
    for (uint32_t channel = 0; channel < 3; ++channel) {
      for (uint32_t position = 0; position < 8; ++position) {
        std::string name;
        uint32_t slot = 0;
        if (reader.ReadEntry(channel, position, name, slot) && name.empty()) std::abort();
      }
    }
    if (!CXMLPrepositionReader::IsStorableText(newName) || newName.empty()) return 0;
    if (!reader.WriteEntry(1, 2, newName, newSlot)) std::abort();
    std::string name;
    uint32_t slot = 0;
    if (!reader.ReadEntry(1, 2, name, slot) || name != newName || slot != newSlot) std::abort();
  }
  CXMLPrepositionReader again("eVision");
  if (!again.Init(path)) std::abort();
  std::string name;
  uint32_t slot = 0;
  if (!again.ReadEntry(1, 2, name, slot) || name != newName || slot != newSlot) std::abort();
  return 0;
}
