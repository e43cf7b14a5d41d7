#pragma once
// The driver library a zephrin-host command loads and the one driver it creates from it. Every
// command creates its driver through CreateIPCapture and deletes it through DeleteIPCapture.
#include <string>

#include "host/HostInterfaces.h"
#include "hostobjects/HostLibrary.h"

namespace zephrin::host {

class DriverSession {
 public:
  enum class State { kNotLoaded, kNoExports, kLoaded, kNotCreated, kCreated };

  // Loads the library at path and finds the create and delete exports.
  explicit DriverSession(const std::string& path);
  // Deletes a driver still alive; the caller closes it first.
  ~DriverSession();
  DriverSession(const DriverSession&) = delete;
  DriverSession& operator=(const DriverSession&) = delete;

  // Creates the driver once the exports were found; false when that failed.
  bool Create();
  // Deletes the driver now (the caller has closed it).
  void Destroy();

  State Status() const { return state_; }
  // False when the library loaded with its exports; otherwise says why on stderr, as
  // "zephrin-host COMMAND: cannot load PATH: REASON" or "zephrin-host COMMAND: PATH lacks the driver
  // exports", and returns true.
  bool ReportIfUnusable(const char* command) const;
  norvale::ipcapture::IIPCaptureDriverEx5* Driver() const { return driver_; }
  const std::string& Path() const { return library_.Path(); }
  // The loader's message when the library did not load or lacks an export.
  const std::string& Error() const { return library_.Error(); }

 private:
  zephrin::hostobjects::HostLibrary library_;
  norvale::ipcapture::CreateIPCaptureFn create_ = nullptr;
  norvale::ipcapture::DeleteObjectFn destroy_ = nullptr;
  norvale::ipcapture::IIPCaptureDriverEx5* driver_ = nullptr;
  State state_ = State::kNotLoaded;
};

}  // namespace zephrin::host
