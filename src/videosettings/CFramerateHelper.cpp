#include "videosettings/CFramerateHelper.h"

#include <iterator>

namespace norvale {

CFramerateHelper::CFramerateHelper(int32_t videoStandard, uint32_t series, bool secondStream)
    : CResolutionHelper(videoStandard), series_(series) {
  switch (series) {
    case 2:
    case 3:
    case 9:
      options_ = {0, 5, 10, 15};
      if (secondStream) options_.insert(options_.end(), {2, 3, 4});
      break;
    case 5:
      options_ = {0, 2, 5, 100};
      break;
    default:
      options_ = {0, 5, 10, 15};
      break;
  }

  std::vector<uint32_t> baseRates;
  switch (series) {
    case 1:
    case 5:
      baseRates = {30, 15};
      break;
    case 2:
    case 3:
    case 4:
    case 6:
    case 9:
      baseRates = {30};
      break;
    default:
      break;
  }

  for (uint32_t base : baseRates) {
    for (uint32_t option : options_) {
      uint32_t rate = 0;
      if (option == 0) {
        rate = ToStandardRate(base);
      } else if (option == 100) {
        rate = 1;  // option 100 is the camera's one-frame-per-second mode
      } else {
        // Series 1 counts the skipped frames, the others count the frame period.
        const double x = series == 1 ? static_cast<double>(base) / (option + 1) : static_cast<double>(base) / option;
        rate = static_cast<uint32_t>(IsNTSC() ? x : x * 25 / 30);
      }
      if (rate != 0) table_.push_back({base, option, rate});
    }
  }
}

std::set<uint32_t> CFramerateHelper::GetFrameRates() const {
  std::set<uint32_t> rates;
  for (const auto& e : table_) rates.insert(e.rate);
  return rates;
}

std::set<uint32_t> CFramerateHelper::GetFrameRates(uint32_t baseRate) const {
  std::set<uint32_t> rates;
  for (const auto& e : table_)
    if (e.baseRate == baseRate) rates.insert(e.rate);
  return rates;
}

FrameSkipEntry CFramerateHelper::FindFrameSkip(uint32_t wantedRate, uint32_t baseRate) const {
  const std::set<uint32_t> rates = baseRate == 0 ? GetFrameRates() : GetFrameRates(baseRate);
  if (rates.empty()) return {};
  auto above = rates.upper_bound(wantedRate);
  const uint32_t chosen = above == rates.begin() ? *rates.begin() : *std::prev(above);

  const FrameSkipEntry* best = nullptr;
  for (const auto& e : table_) {
    if (e.rate != chosen || (baseRate != 0 && e.baseRate != baseRate)) continue;
    if (!best || e.baseRate < best->baseRate) best = &e;
  }
  return best ? *best : FrameSkipEntry{};
}

uint32_t CFramerateHelper::GetMaxFrameRate(const std::string& resolution, bool unscaled) const {
  uint32_t rate = 30;
  switch (series_) {
    case 1:
      rate = resolution == "vga" ? 30 : 15;
      break;
    case 5:
      rate = resolution == "quadvga" ? 15 : 30;
      break;
    case 7:
      if (resolution == "3m") return 15;  // the same at either standard
      if (resolution == "5m") rate = 15;
      break;
    default:
      break;
  }
  return unscaled ? rate : ToStandardRate(rate);
}

}  // namespace norvale
