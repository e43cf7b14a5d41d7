#include "runtime/DeviceConfiguration.h"

#include "platform/Platform.h"
#include "runtime/CXMLParser.h"
#include "runtime/StringUtils.h"

namespace norvale {

namespace {
// Element text as a hand-edited file may hold it, with the surrounding layout white space removed.
std::string ValueAt(CXMLParser& parser, const std::string& xpath) {
  const std::string text = parser.Text(xpath);
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}
}  // namespace

std::string CDeviceConfiguration::FilePath(const std::string& directory, const std::string& driverName) {
  if (driverName.empty()) return {};
  if (directory.empty()) return driverName + ".xml";
  if (directory.back() == platform::kPathSeparator) return directory + driverName + ".xml";
  return directory + platform::kPathSeparator + driverName + ".xml";
}

void CDeviceConfiguration::Read(IDriver* driver) {
  if (!driver) {
    *this = CDeviceConfiguration();
    return;
  }
  const DEVICE_INFO* info = driver->GetDeviceInfo();
  Read(driver->GetHostDirectory(), driver->GetDriverName(), info ? info->address : std::string(),
       info ? info->port : uint16_t{0});
}

void CDeviceConfiguration::Read(const std::string& directory, const std::string& driverName, const std::string& address,
                                uint16_t port) {
  *this = CDeviceConfiguration();
  const std::string path = FilePath(directory, driverName);
  if (path.empty()) return;

  CXMLParser parser;
  if (!parser.Open(path)) return;

  std::string section;
  // An address with a quote cannot be written into the attribute test, and no valid address has one.
  if (address.find('"') == std::string::npos) {
    const std::string device = FormatString("Configuration/Device[@address=\"%s\"][@port=\"%u\"]", address.c_str(),
                                            static_cast<unsigned>(port));
    if (parser.NodeExists(device)) section = device;
  }
  if (section.empty() && parser.NodeExists("Configuration/Default")) section = "Configuration/Default";
  if (section.empty()) return;

  const std::string mode = ToLower(ValueAt(parser, section + "/RTPMode"));
  if (mode == "rtpovertcp")
    rtpMode = RTPoverTCP;
  else if (mode == "rtpoverrtsp")
    rtpMode = RTPoverRTSP;
  else if (mode == "rtpoverudp")
    rtpMode = RTPoverUDP;

  allowDualStreaming = ToLower(ValueAt(parser, section + "/AllowDualStreaming")) == "yes" ? 1 : 0;

  const std::string brand = ValueAt(parser, section + "/DefaultBrand");
  if (!brand.empty()) defaultBrand = brand;
  parser.Close();
}

}  // namespace norvale
