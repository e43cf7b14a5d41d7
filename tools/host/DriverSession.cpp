#include "DriverSession.h"

#include <cstdio>

namespace zephrin::host {

DriverSession::DriverSession(const std::string& path) : library_(zephrin::hostobjects::HostLibrary::FromPath(path)) {
  if (!library_.IsLoaded()) return;
  create_ = library_.Function<norvale::ipcapture::CreateIPCaptureFn>("CreateIPCapture");
  destroy_ = library_.Function<norvale::ipcapture::DeleteObjectFn>("DeleteIPCapture");
  state_ = create_ && destroy_ ? State::kLoaded : State::kNoExports;
}

DriverSession::~DriverSession() { Destroy(); }

bool DriverSession::ReportIfUnusable(const char* command) const {
  if (state_ == State::kNotLoaded)
    std::fprintf(stderr, "zephrin-host %s: cannot load %s: %s\n", command, Path().c_str(), Error().c_str());
  else if (state_ == State::kNoExports)
    std::fprintf(stderr, "zephrin-host %s: %s lacks the driver exports\n", command, Path().c_str());
  return state_ == State::kNotLoaded || state_ == State::kNoExports;
}

bool DriverSession::Create() {
  if (state_ != State::kLoaded) return false;
  driver_ = create_();
  state_ = driver_ ? State::kCreated : State::kNotCreated;
  return driver_ != nullptr;
}

void DriverSession::Destroy() {
  if (driver_) destroy_(driver_);
  driver_ = nullptr;
}

}  // namespace zephrin::host
