// The camera's brand and product short name are outside input: any bytes must map without a crash,
// and the result must stay consistent. Input: default brand, brand value and short name separated
// by newlines (fewer lines leave the leading values empty).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "camera/CElmoNameMapper.h"
#include "runtime/StringUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> parts = norvale::Split(std::string(reinterpret_cast<const char*>(data), size), "\n");
  while (parts.size() < 3) parts.insert(parts.begin(), std::string());
  const std::string& shortName = parts[2];

  norvale::CElmoNameMapper mapper;
  const bool ok = mapper.Map(parts[0], parts[1], shortName);
  if (ok != !shortName.empty()) std::abort();
  if (mapper.GetUnconvertedModel() != shortName) std::abort();
  if (mapper.GetSeries() > 9 || mapper.GetModel().empty() || mapper.GetBrand().empty()) std::abort();
  if (mapper.GetConvertedModel().size() > 7) std::abort();
  return 0;
}
