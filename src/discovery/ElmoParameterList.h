#pragma once
// Reading the camera's parameter list ("root.<group>.<name>=<value>" lines): pure functions over the
// text the camera sent, so that every decision about what a camera is can be checked without one.
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "discovery/PropertyCodec.h"

namespace norvale::ElmoParameterList {

constexpr const char* kListPath = "/cgi-bin/admin/param.cgi?action=list";
constexpr const char* kPropertyGroups =
    "&group=Brand&group=Properties&group=Network.eth0&group=Image.I0.Appearance&group=ImageSource.I0.Video"
    "&group=Frameskip&group=Framerate";
constexpr const char* kIOGroups = "&group=Input&group=Output";
constexpr const char* kFisheyeGroups = "&group=Fisheye";

// Some cameras run entries together; afterwards every "root." key (past the first two characters)
// starts a line.
std::string NormaliseLineBreaks(const std::string& text);

// The value of a key (up to the end of its line), empty when the key is absent.
std::string Value(const std::string& list, const std::string& key);
// The value split at "," without empty items.
std::vector<std::string> ListValue(const std::string& list, const std::string& key);

// The codecs of "root.Properties.Image.Format": mjpeg, mpeg4 and h264; other items are ignored.
std::set<uint32_t> ParseCodecs(const std::string& list);

// True when "root.ImageSource.I0.Video.DetectedType", lower-cased, is exactly "ntsc".
bool IsNtsc(const std::string& list);

// What the number of resolution-configuration entries says about the camera.
struct ResolutionConfiguration {
  bool accepted = false;
  std::string error;  // the failure text when not accepted
  uint32_t entries = 0;
  bool secondH264 = false;     // a second H.264 stream is configured
  uint32_t seriesIfUnset = 0;  // series implied by the entry count (0: none)
  uint32_t streams = 1;        // encoder streams that run at once
};
ResolutionConfiguration ClassifyResolutionConfiguration(const std::string& list, size_t codecCount);

// The name of the per-camera preset file, "<brand>_<mac>.preset", built from camera text: of brand
// and MAC address only letters, digits, '.' and '_' are kept (at most 64 of each); empty when either
// part is then empty. The result always passes IsPresetFileName.
std::string PresetFileName(const std::string& brand, const std::string& macAddress);
// A bare file name (no directory) of only letters, digits, '.', '_' and '-' that ends in ".preset".
bool IsPresetFileName(const std::string& name);

// A digital input or output count: a positive number up to kMaxIOCount, or 0 when absent, not a
// number or beyond what any camera of the family has (the host sizes its I/O state by it).
constexpr uint32_t kMaxIOCount = 256;
uint32_t PositiveCount(const std::string& list, const std::string& key);

// Whether an I/O CGI answer confirms that the camera has the I/O it claims.
bool IsPositiveProbeAnswer(const std::string& answer);

// The PTZ abilities stated by the camera's "info=1" answer.
struct PtzInfo {
  bool pan = false, tilt = false, zoom = false, focus = false, areaZoom = false;
  bool presets = false;  // the camera can go to stored presets
};
PtzInfo ParsePtzInfo(const std::string& answer);

}  // namespace norvale::ElmoParameterList
