#pragma once
#include <cstdint>
#include <string>

#include "runtime/IDriver.h"
#include "runtime/RTPMode.h"

namespace norvale {

// One reading of the optional device configuration file "<driver name>.xml" in the host's directory:
//
//   <Configuration>
//     <Device address="10.0.0.5" port="80"> <RTPMode>RTPoverTCP</RTPMode> ... </Device>
//     <Default> <RTPMode/> <AllowDualStreaming/> <DefaultBrand/> </Default>
//   </Configuration>
//
// The device's own section wins over Default, and a section's missing values take the built-in
// defaults, not those of Default. A missing, unreadable or malformed file silently yields the
// defaults. Nothing is kept between readings: each caller reads when it needs the values.
class CDeviceConfiguration {
 public:
  static constexpr const char* kDefaultBrand = "Dynacolor";

  // Reads the file of the driver's device (its address text and port, not resolved).
  void Read(IDriver* driver);
  void Read(const std::string& directory, const std::string& driverName, const std::string& address, uint16_t port);

  // directory + name + ".xml", with a separator put in between when the directory lacks one; the
  // bare file name for an empty directory; empty (no file) for an empty name.
  static std::string FilePath(const std::string& directory, const std::string& driverName);

  int32_t rtpMode = RTPoverUDP;
  std::string defaultBrand = kDefaultBrand;
  int32_t allowDualStreaming = 0;
};

}  // namespace norvale
