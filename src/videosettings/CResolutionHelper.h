#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace norvale {

// Translates between the camera's resolution names ("1080p", "d1", ...) and picture sizes for the
// video standard of the camera (0 = PAL, anything else = NTSC).
class CResolutionHelper {
 public:
  explicit CResolutionHelper(int32_t videoStandard) : videoStandard_(videoStandard) {}
  virtual ~CResolutionHelper() = default;

  int32_t GetVideoStandard() const { return videoStandard_; }
  bool IsNTSC() const { return videoStandard_ != 0; }

  // Size of a name (exact, lower case) in the table of the helper's standard.
  bool GetResolutionSize(const std::string& name, uint16_t& width, uint16_t& height) const;
  // The name of exactly that size, or empty.
  std::string GetResolutionName(uint16_t width, uint16_t height) const;
  // Whether a orders before b by width, then height. A name outside the table orders before every
  // known name; nothing orders before an unknown name.
  static bool IsSmallerResolution(const std::string& a, const std::string& b);
  // Of the candidates, the smallest that is not smaller than the wanted name, else the largest;
  // empty when there is no candidate.
  static std::string ChooseResolution(const std::vector<std::string>& candidates, const std::string& wanted);
  // An NTSC rate in the helper's standard: unchanged for NTSC, scaled by 25/30 (truncated) for PAL.
  uint32_t ToStandardRate(uint32_t rate) const;

 private:
  int32_t videoStandard_;
};

}  // namespace norvale
