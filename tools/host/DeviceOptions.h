#pragma once
// The device options every zephrin-host command reads with one rule each: where the camera is
// (--address, --port, --user, the password options), which driver to load (--library) and, for the
// commands that open the driver, the host parameters (--params, --param) and the device model
// (--model, --cameras). Each command reads its own options beside them.
#include <cstdint>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "HostParameters.h"
#include "PasswordSource.h"
#include "hostobjects/HostObjects.h"

namespace zephrin::host {

class DeviceOptions {
 public:
  // The groups a command accepts besides the camera's place and the library.
  // With kAskCamera, a command given no host parameters asks the camera for them (the capability
  // query) and hands the answer over with TakeCameraAnswer.
  enum Groups : unsigned { kConnection = 0, kHostParameters = 1, kDeviceModel = 2, kAskCamera = 4 };
  enum class Outcome { kNotMine, kTaken, kFailed };

  explicit DeviceOptions(unsigned groups) : groups_(groups) {}

  // Takes the command line's current option with its value when it is a device option of an
  // accepted group; kFailed after a message when its value is not usable.
  Outcome Take(CommandLine& line);
  // After the last option: --address was given, the password is resolved, the host parameters are
  // loaded and parameter 1 (video standard) has a value (unless the camera is to be asked); false
  // after a message otherwise.
  bool Finish(CommandLine& line);
  // True when the host parameters are to come from the camera: kAskCamera and neither --params nor
  // --param was given.
  bool AsksCamera() const;
  // The parameters and the model name the capability query reported; a --model given wins.
  void TakeCameraAnswer(const HostParameters& parameters, const std::string& model);
  // Hands the device to a host device source, as the recording host would.
  void Fill(zephrin::hostobjects::TestDeviceSource* device) const;

  const std::string& Address() const { return address_; }
  uint16_t Port() const { return port_; }
  const std::string& User() const { return user_; }
  const std::string& Password() const { return password_; }
  // The --library path, else the default driver library.
  const std::string& Library() const { return library_; }
  const HostParameters& Parameters() const { return params_; }
  // The --params file; empty when none was named.
  const std::string& ParameterFile() const { return paramFile_; }
  int32_t Cameras() const { return cameras_; }

 private:
  unsigned groups_;
  std::string address_;
  uint16_t port_ = 80;
  std::string user_ = "admin";
  PasswordSource passwordSource_;
  std::string password_;
  std::string library_;
  std::string paramFile_;
  std::vector<std::string> assignments_;
  HostParameters params_;
  std::string model_ = "ELMO";
  bool modelGiven_ = false;
  int32_t cameras_ = 1;
};

}  // namespace zephrin::host
