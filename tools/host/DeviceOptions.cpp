#include "DeviceOptions.h"

#include "DriverLibrary.h"

namespace zephrin::host {

namespace {
// Port 0 is no port a camera listens on (to a socket it means "any port"), so it is refused.
constexpr uint32_t kFirstPort = 1;
constexpr uint32_t kLastPort = 65535;
constexpr uint32_t kMostCameras = 256;
}  // namespace

DeviceOptions::Outcome DeviceOptions::Take(CommandLine& line) {
  const bool parameters = (groups_ & kHostParameters) != 0;
  const bool model = (groups_ & kDeviceModel) != 0;
  bool ok = true;
  std::string text;
  uint32_t number = 0;
  if (line.Is("--address")) {
    ok = line.Value(&address_);
  } else if (line.Is("--port")) {
    ok = line.Number(kFirstPort, kLastPort, &number);
    if (ok) port_ = static_cast<uint16_t>(number);
  } else if (line.Is("--user")) {
    ok = line.Value(&user_);
  } else if (line.Is("--password") || line.Is("--password-file")) {
    ok = line.Value(&text) && passwordSource_.Take(line.Option(), text);
  } else if (line.Is("--library")) {
    ok = line.Value(&library_);
  } else if (parameters && line.Is("--params")) {
    ok = line.Value(&paramFile_);
  } else if (parameters && line.Is("--param")) {
    ok = line.Value(&text);
    if (ok) assignments_.push_back(text);
  } else if (model && line.Is("--model")) {
    ok = line.Value(&model_);
    modelGiven_ = ok;
  } else if (model && line.Is("--cameras")) {
    ok = line.Number(1, kMostCameras, &number);
    if (ok) cameras_ = static_cast<int32_t>(number);
  } else {
    return Outcome::kNotMine;
  }
  return ok ? Outcome::kTaken : Outcome::kFailed;
}

bool DeviceOptions::Finish(CommandLine& line) {
  if (address_.empty()) return line.Fail("--address is required");
  std::string error;
  if (!passwordSource_.Resolve("admin", &password_, &error)) return line.Fail("%s", error.c_str());
  if ((groups_ & kHostParameters) != 0 && !AsksCamera()) {
    if (!params_.Load(paramFile_, assignments_, &error)) return line.Fail("%s", error.c_str());
    if (!params_.Has(1)) {
      line.Note("host parameter 1 (video standard) not given; using 0 (PAL)");
      params_.Put(1, "0");
    }
  }
  if (library_.empty()) library_ = DefaultDriverLibrary();
  return true;
}

bool DeviceOptions::AsksCamera() const {
  return (groups_ & kAskCamera) != 0 && paramFile_.empty() && assignments_.empty();
}

void DeviceOptions::TakeCameraAnswer(const HostParameters& parameters, const std::string& model) {
  params_ = parameters;
  if (!modelGiven_ && !model.empty()) model_ = model;
}

void DeviceOptions::Fill(zephrin::hostobjects::TestDeviceSource* device) const {
  device->connection.address = address_;
  device->connection.port = port_;
  device->connection.user = user_;
  device->connection.password = password_;
  if ((groups_ & kDeviceModel) != 0) {
    device->camera.model = model_;
    device->camera.cameraCount = cameras_;
  }
  if ((groups_ & kHostParameters) != 0)
    for (unsigned number = 1; number <= HostParameters::kCount; ++number)
      device->SetParam(number, params_.ForHost(number));
}

}  // namespace zephrin::host
