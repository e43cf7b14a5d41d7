// The resolution database is a file beside the host and may be damaged or edited by hand: whatever
// it holds, the queries the video settings answer come back consistent with each other — every
// combination the database allows is made of resolutions it lists, and no rate is 0 or an uncorrected
// PAL rate on an NTSC camera.
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "fuzz/FuzzFiles.h"
#include "videosettings/CXMLDatabaseReader.h"

namespace {
bool Subset(const std::set<std::string>& part, const std::set<std::string>& whole) {
  for (const std::string& name : part)
    if (!whole.count(name)) return false;
  return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  auto& scratch = zephrin::fuzz::Scratch();
  scratch.Write("Zephrin.dat", data + 1, size - 1);
  const int32_t standard = (data[0] & 1) ? 1 : 0;  // 1 NTSC
  norvale::CXMLDatabaseReader database(standard);
  database.SetDirectory(scratch.Path());
  if (!database.Open((data[0] & 2) ? "1080p,720p,5m" : "1080p,720p,D1", "Zephrin")) return 0;

  std::set<std::string> perStream[3];
  for (uint32_t stream = 0; stream < 3; ++stream) perStream[stream] = database.GetStreamResolutions(stream);
  for (uint32_t stream = 0; stream < 3; ++stream) {
    for (const std::string& name : perStream[stream]) {
      for (uint32_t rate : database.GetStreamFrameRates(name, stream)) {
        if (rate == 0) std::abort();
        if (standard == 1 && (rate == 12 || rate == 13 || rate == 25)) std::abort();
      }
    }
  }
  // Walk the first combinations of every mode as the video settings manager does.
  for (uint32_t mode = 1; mode <= 3; ++mode) {
    std::vector<std::string> chosen;
    for (uint32_t stream = 0; stream < mode; ++stream) {
      const std::set<std::string> allowed = database.GetAllowedResolutions(mode, chosen);
      if (!Subset(allowed, perStream[stream])) std::abort();
      if (allowed.empty()) break;
      chosen.push_back(stream % 2 ? *allowed.rbegin() : *allowed.begin());
    }
    if (chosen.size() == mode) {
      for (uint32_t stream = 0; stream < mode; ++stream) {
        const uint32_t rate = database.GetMaxFrameRate(stream, chosen);
        if (standard == 1 && (rate == 12 || rate == 13 || rate == 25)) std::abort();
      }
    }
    if (!database.GetAllowedResolutions(mode, {"a", "b", "c"}).empty()) std::abort();
  }
  database.Close();
  return 0;
}
