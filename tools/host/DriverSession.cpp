#include "DriverSession.h"

namespace zephrin::host {

DriverSession::DriverSession(const std::string& path) : library_(zephrin::hostobjects::HostLibrary::FromPath(path)) {
  if (!library_.IsLoaded()) return;
  create_ = library_.Function<norvale::ipcapture::CreateIPCaptureFn>("CreateIPCapture");
  destroy_ = library_.Function<norvale::ipcapture::DeleteObjectFn>("DeleteIPCapture");
  state_ = create_ && destroy_ ? State::kLoaded : State::kNoExports;
}

DriverSession::~DriverSession() { Destroy(); }

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
