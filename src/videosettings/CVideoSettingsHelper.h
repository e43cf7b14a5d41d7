#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "videosettings/CFramerateHelper.h"

namespace norvale {

// One stream's wish, as the video settings hand it to SelectResolutionSet.
struct StreamRequest {
  int32_t codec = 0;        // 1 JPEG, 2 MPEG-4, 3 H.264
  std::string resolution;   // wanted name, empty when the host's size has no name
  std::string currentSet;   // the camera's current resolution set, e.g. "d1,cif,disable"
  uint32_t frameRate = 0;   // wanted frames per second
  bool secondH264 = false;  // the request is for the camera's second H.264 stream
};

// Resolution sets of multi-stream cameras: comma-separated lists with one resolution name per
// encoder stream (entry 0 JPEG, 1 MPEG-4 or the first H.264 stream, 2 the second H.264 stream),
// "disable" for a stream that is off.
class CVideoSettingsHelper : public CFramerateHelper {
 public:
  // supportedResolutions: the camera's resolution names, comma-separated.
  CVideoSettingsHelper(int32_t videoStandard, bool secondStream, uint32_t series,
                       const std::string& supportedResolutions);

  // The sets the camera accepts, as far as its supported names tell.
  const std::vector<std::string>& GetResolutionSets() const { return sets_; }
  // The set to write for the request, or empty when nothing has to change or nothing fits.
  std::string SelectResolutionSet(const StreamRequest& request) const;

 private:
  std::string SelectFromOwnSets(const StreamRequest& request, const std::vector<std::string>& current) const;
  static std::string SelectForFourStreams(const StreamRequest& request, const std::vector<std::string>& current);
  static std::string SelectForFiveStreams(const StreamRequest& request);

  std::vector<std::string> sets_;
};

}  // namespace norvale
