#pragma once
#include <cstdint>
#include <string>

namespace norvale {

// The identity of one device, shared by every object of that device. Objects that keep their own
// copy copy it field by field.
struct DEVICE_INFO {
  virtual ~DEVICE_INFO() = default;

  int32_t networkTimeout = 5000;  // ms: HTTP requests, RTSP connect and receive
  int32_t streamTimeout = 15000;  // ms: the capture loop's frame watch
  std::string address;
  uint16_t port = 0;
  std::string user;
  std::string password;
  std::string model;

  void CopyFrom(const DEVICE_INFO& other) {
    networkTimeout = other.networkTimeout;
    streamTimeout = other.streamTimeout;
    address = other.address;
    port = other.port;
    user = other.user;
    password = other.password;
    model = other.model;
  }
};

// "address:port" as every log line names the device; ":0" for no device.
std::string DeviceName(const DEVICE_INFO* info);

// The longest a stop waits for a thread of the device to end (and a host call that stops one waits in
// all): twice the network time-out, or twice 5 s when none is set.
uint32_t StopLimit(const DEVICE_INFO* info);

}  // namespace norvale
