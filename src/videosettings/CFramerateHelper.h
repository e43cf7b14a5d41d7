#pragma once
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "videosettings/CResolutionHelper.h"

namespace norvale {

// One way of reaching a frame rate on a camera that is set by frame skipping: the sensor's base
// rate, the skip option written to the camera, and the rate that results.
struct FrameSkipEntry {
  uint32_t baseRate = 0;
  uint32_t skipOption = 0;
  uint32_t rate = 0;
  bool operator==(const FrameSkipEntry&) const = default;
};

// Frame-rate knowledge of one camera series: its frame-skip options and the rates they give, and
// the highest rate per resolution.
class CFramerateHelper : public CResolutionHelper {
 public:
  // secondStream: the host's second-H.264-stream setting.
  CFramerateHelper(int32_t videoStandard, uint32_t series, bool secondStream);

  uint32_t GetSeries() const { return series_; }
  // The skip options the camera offers, in the order of its option list.
  const std::vector<uint32_t>& GetFrameSkipOptions() const { return options_; }
  const std::vector<FrameSkipEntry>& GetFrameSkipTable() const { return table_; }

  // Distinct rates the table gives, overall or from one base rate.
  std::set<uint32_t> GetFrameRates() const;
  std::set<uint32_t> GetFrameRates(uint32_t baseRate) const;
  // The entry whose rate is the highest not above the wanted rate (or the lowest rate when all are
  // above it), among the entries of the base rate (any base for 0). All zero for an empty table.
  FrameSkipEntry FindFrameSkip(uint32_t wantedRate, uint32_t baseRate) const;
  // The highest rate the camera gives at a resolution; in the helper's standard unless unscaled.
  uint32_t GetMaxFrameRate(const std::string& resolution, bool unscaled) const;

 private:
  uint32_t series_;
  std::vector<uint32_t> options_;
  std::vector<FrameSkipEntry> table_;
};

}  // namespace norvale
