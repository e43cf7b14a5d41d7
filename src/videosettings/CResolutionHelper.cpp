#include "videosettings/CResolutionHelper.h"

#include <array>

namespace norvale {

namespace {

struct ResolutionEntry {
  const char* name;
  uint16_t width, height;
};

// Constant tables: initialised before any use and shared read-only by every thread.
constexpr std::array<ResolutionEntry, 13> kPal = {{
    {"5m", 2592, 1944},
    {"3m", 2048, 1536},
    {"1080p", 1920, 1080},
    {"sxga", 1280, 1024},
    {"quadvga", 1280, 960},
    {"720p", 1280, 720},
    {"xga", 1024, 768},
    {"svga", 800, 600},
    {"d1", 720, 576},
    {"vga", 640, 480},
    {"qvga", 320, 240},
    {"cif", 352, 288},
    {"qcif", 176, 144},
}};

constexpr std::array<ResolutionEntry, 13> kNtsc = {{
    {"5m", 2592, 1944},
    {"3m", 2048, 1536},
    {"1080p", 1920, 1080},
    {"sxga", 1280, 1024},
    {"quadvga", 1280, 960},
    {"720p", 1280, 720},
    {"xga", 1024, 768},
    {"svga", 800, 600},
    {"d1", 720, 480},
    {"vga", 640, 480},
    {"qvga", 320, 240},
    {"cif", 352, 240},
    {"qcif", 176, 120},
}};

const ResolutionEntry* Find(const std::array<ResolutionEntry, 13>& table, const std::string& name) {
  for (const auto& e : table)
    if (name == e.name) return &e;
  return nullptr;
}

}  // namespace

bool CResolutionHelper::GetResolutionSize(const std::string& name, uint16_t& width, uint16_t& height) const {
  const ResolutionEntry* e = Find(IsNTSC() ? kNtsc : kPal, name);
  if (!e) return false;
  width = e->width;
  height = e->height;
  return true;
}

std::string CResolutionHelper::GetResolutionName(uint16_t width, uint16_t height) const {
  for (const auto& e : IsNTSC() ? kNtsc : kPal)
    if (e.width == width && e.height == height) return e.name;
  return {};
}

bool CResolutionHelper::IsSmallerResolution(const std::string& a, const std::string& b) {
  // The PAL sizes order the names exactly as the NTSC ones do.
  const ResolutionEntry* sb = Find(kPal, b);
  if (!sb) return false;
  const ResolutionEntry* sa = Find(kPal, a);
  if (!sa) return true;
  if (sa->width != sb->width) return sa->width < sb->width;
  return sa->height < sb->height;
}

std::string CResolutionHelper::ChooseResolution(const std::vector<std::string>& candidates, const std::string& wanted) {
  const std::string* chosen = nullptr;
  for (const std::string& c : candidates)
    if (!IsSmallerResolution(c, wanted) && (!chosen || IsSmallerResolution(c, *chosen))) chosen = &c;
  if (!chosen) {
    for (const std::string& c : candidates)
      if (!chosen || IsSmallerResolution(*chosen, c)) chosen = &c;
  }
  return chosen ? *chosen : std::string();
}

uint32_t CResolutionHelper::ToStandardRate(uint32_t rate) const {
  if (IsNTSC()) return rate;
  return static_cast<uint32_t>(static_cast<uint64_t>(rate) * 25u / 30u);
}

}  // namespace norvale
