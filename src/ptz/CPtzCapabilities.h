#pragma once
#include <cstdint>
#include <string>

namespace norvale {

// Which pan-tilt-zoom operations a camera supports and how many presets it stores. The camera
// properties write its text form; the host hands that text back and the PTZ control parses it.
class CPtzCapabilities {
 public:
  virtual ~CPtzCapabilities() = default;

  bool pan = false;
  bool tilt = false;
  bool zoom = false;
  bool focus = false;
  bool iris = false;
  bool areaZoom = false;
  bool center = false;
  bool unzoom = false;
  int32_t presetCount = 0;

  // "Pan=1; Tilt=1; Zoom=1; Focus=0; Iris=0; Center=1; Unzoom=1; AreaZoom=1; Preset=16". Center is
  // written as 1 only with pan or tilt, Unzoom and AreaZoom only with zoom.
  std::string ToString() const;
  // Replaces the whole record with what the text says. Entries are separated by any of "; \t\r\n";
  // a flag is set only by the value "1"; a missing or unreadable Preset gives 0. Any text is accepted.
  bool Parse(const std::string& text);
};

}  // namespace norvale
