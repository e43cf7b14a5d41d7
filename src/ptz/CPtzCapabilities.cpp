#include "ptz/CPtzCapabilities.h"

#include <climits>
#include <cstdlib>

#include "runtime/StringUtils.h"

namespace norvale {

namespace {

// The value of the first entry "key=value" whose key is exactly the wanted one and whose value is
// not empty. Blanks separate entries, so they never surround a key.
std::string EntryValue(const std::string& text, const std::string& key) {
  static const char* const kSeparators = "; \t\r\n";
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t start = text.find_first_not_of(kSeparators, pos);
    if (start == std::string::npos) break;
    size_t end = text.find_first_of(kSeparators, start);
    if (end == std::string::npos) end = text.size();
    const size_t eq = text.find('=', start);
    if (eq != std::string::npos && eq < end && eq + 1 < end && text.compare(start, eq - start, key) == 0 &&
        eq - start == key.size())
      return text.substr(eq + 1, end - eq - 1);
    pos = end;
  }
  return {};
}

// Leading blanks, an optional sign and decimal digits, as the C library reads a number; values
// beyond the 32-bit range saturate instead of overflowing.
int32_t DecimalValue(const std::string& text) {
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

}  // namespace

std::string CPtzCapabilities::ToString() const {
  return FormatString("Pan=%d; Tilt=%d; Zoom=%d; Focus=%d; Iris=%d; Center=%d; Unzoom=%d; AreaZoom=%d; Preset=%d",
                      pan ? 1 : 0, tilt ? 1 : 0, zoom ? 1 : 0, focus ? 1 : 0, iris ? 1 : 0,
                      center && (pan || tilt) ? 1 : 0, unzoom && zoom ? 1 : 0, areaZoom && zoom ? 1 : 0, presetCount);
}

bool CPtzCapabilities::Parse(const std::string& text) {
  auto flag = [&](const char* key) { return EntryValue(text, key) == "1"; };
  pan = flag("Pan");
  tilt = flag("Tilt");
  zoom = flag("Zoom");
  focus = flag("Focus");
  iris = flag("Iris");
  areaZoom = flag("AreaZoom");
  center = flag("Center");
  unzoom = flag("Unzoom");
  presetCount = DecimalValue(EntryValue(text, "Preset"));
  return true;
}

}  // namespace norvale
