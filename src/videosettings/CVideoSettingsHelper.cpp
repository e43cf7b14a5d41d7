#include "videosettings/CVideoSettingsHelper.h"

#include <algorithm>
#include <initializer_list>
#include <set>

#include "runtime/StringUtils.h"

namespace norvale {

namespace {

constexpr int32_t kJpeg = 1, kMpeg4 = 2, kH264 = 3;

}  // namespace

CVideoSettingsHelper::CVideoSettingsHelper(int32_t videoStandard, bool secondStream, uint32_t series,
                                           const std::string& supportedResolutions)
    : CFramerateHelper(videoStandard, series, secondStream) {
  std::set<std::string> names;
  for (const std::string& item : Split(supportedResolutions, ",")) names.insert(item);
  auto has = [&](const char* name) { return names.count(name) != 0; };
  auto add = [&](std::initializer_list<const char*> sets) { sets_.insert(sets_.end(), sets.begin(), sets.end()); };

  if (secondStream) {  // three streams per set
    if (has("720p")) {
      add({"720p,720p,disable", "d1,720p,disable", "cif,720p,disable", "disable,720p,d1", "disable,720p,cif"});
      if (has("vga")) add({"vga,720p,disable", "disable,720p,vga"});
      if (has("qvga")) add({"qvga,720p,disable", "disable,720p,qvga"});
      if (has("sxga")) add({"disable,sxga,disable", "sxga,disable,disable"});
      if (has("1080p")) add({"disable,1080p,disable", "1080p,disable,disable"});
    } else if (has("d1") && has("cif")) {
      add({"d1,d1,disable", "cif,d1,disable", "disable,d1,cif", "disable,d1,d1"});
    }
  } else {  // two streams per set
    if (has("720p")) {
      add({"720p,720p", "d1,720p", "cif,720p"});
      if (has("1080p"))
        add({"disable,1080p", "1080p,disable"});
      else
        add({"720p,disable"});
    } else if (has("quadvga") && has("qcif") && has("vga")) {
      add({"vga,vga", "vga15,vga15", "quadvga,vga", "quadvga,qvga", "quadvga,cif", "quadvga,qcif"});
    } else if (has("d1") && has("cif")) {
      add({"d1,d1", "cif,d1"});
    }
  }
}

std::string CVideoSettingsHelper::SelectResolutionSet(const StreamRequest& request) const {
  const std::vector<std::string> current = Split(request.currentSet, ",");
  switch (current.size()) {
    case 2:
    case 3:
      return SelectFromOwnSets(request, current);
    case 4:
      return SelectForFourStreams(request, current);
    case 5:
      return SelectForFiveStreams(request);
    default:
      return {};
  }
}

std::string CVideoSettingsHelper::SelectFromOwnSets(const StreamRequest& request,
                                                    const std::vector<std::string>& current) const {
  size_t position = 0;
  switch (request.codec) {
    case kJpeg:
      position = 0;
      break;
    case kMpeg4:
      position = 1;
      break;
    case kH264:
      position = request.secondH264 ? 2 : 1;
      break;
    default:
      return {};
  }

  std::vector<std::string> candidates;
  bool vga15 = false;
  for (const std::string& set : sets_) {
    const std::vector<std::string> entries = Split(set, ",");
    if (position >= entries.size() || entries[position] == "disable") continue;
    std::string name = entries[position];
    if (name == "vga15") {
      vga15 = true;
      name = "vga";  // the 15 fps variant has the size of vga
    }
    if (std::find(candidates.begin(), candidates.end(), name) == candidates.end()) candidates.push_back(name);
  }
  if (candidates.empty()) return {};

  std::string name = ChooseResolution(candidates, ToLower(request.resolution));
  if (vga15 && request.frameRate == 15 && name == "vga") name = "vga15";

  if (position < current.size() && current[position] == name) return {};
  for (const std::string& set : sets_) {
    const std::vector<std::string> entries = Split(set, ",");
    if (position < entries.size() && entries[position] == name) return set;
  }
  return {};
}

std::string CVideoSettingsHelper::SelectForFourStreams(const StreamRequest& request,
                                                       const std::vector<std::string>& current) {
  size_t position = 0;
  switch (request.codec) {
    case kJpeg:
      position = 0;
      break;
    case kMpeg4:
      position = 1;
      break;
    case kH264:
      position = 2;
      break;
    default:
      return {};
  }
  const std::string wanted = ToLower(request.resolution);
  if (wanted.empty() || current.size() != 4 || current[position] == wanted) return {};
  std::vector<std::string> entries(4, "disable");
  entries[0] = wanted;
  entries[position] = wanted;
  return Join(entries, ",");
}

std::string CVideoSettingsHelper::SelectForFiveStreams(const StreamRequest& request) {
  if (request.resolution.empty() || request.currentSet.empty()) return {};
  std::vector<std::string> entries(5, "disable");
  entries[request.codec == kH264 ? 1 : 0] = ToLower(request.resolution);
  const std::string set = Join(entries, ",");
  return set == request.currentSet ? std::string() : set;
}

}  // namespace norvale
