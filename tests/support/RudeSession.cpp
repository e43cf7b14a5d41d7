#include "support/RudeSession.h"

#include <chrono>
#include <mutex>

namespace zephrin::test {

using namespace norvale::ipcapture;

RudeSession::RudeSession(RudeHost& host, CreateIPCaptureFn create, DeleteObjectFn destroy, DeviceSource* device,
                         FrameAllocator* allocator)
    : host_(host),
      create_(create),
      destroy_(destroy),
      device_(device),
      allocator_(allocator),
      log_(host),
      sink_(host),
      io_(host) {
  settings_.format.resolution = {640, 480};
  second_.format.resolution = {320, 240};
  second_.rate.frameInterval = 100;
  host_.SetPerformer([this](RudeHost::Call call, bool inCallback) { Perform(call, inCallback); });
}

RudeSession::~RudeSession() {
  host_.Calm();
  Delete("end of session");
}

template <class F>
bool RudeSession::Timed(const char* what, F f) {
  const auto start = std::chrono::steady_clock::now();
  const bool ok = f();
  host_.NoteCall(what, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  if (!ok) ++refused_;
  return ok;
}

bool RudeSession::OpenLocked() {
  if (driver_ || !create_) return driver_ != nullptr;
  driver_ = create_();
  if (!driver_) return false;
  if (!Timed("Open", [&] { return driver_->Open(&log_, allocator_, device_); })) return false;
  if (ICaptureIOApi* io = driver_->GetIOApi()) {
    Timed("SetCallback", [&] { return io->SetCallback(&io_); });
    Timed("StartIO", [&] { return io->StartIO(); });
  }
  IIPVideoCaptureEx2* capture = driver_->GetVideoCaptureEx2();
  return capture && Timed("StartCapture", [&] { return capture->StartCapture(0, &sink_, &settings_); });
}

bool RudeSession::Open() {
  std::unique_lock<std::shared_mutex> lock(mutex_);
  return OpenLocked();
}

bool RudeSession::IsOpen() {
  std::shared_lock<std::shared_mutex> lock(mutex_);
  return driver_ != nullptr;
}

void RudeSession::DeleteLocked(const char* why) {
  if (!driver_) return;
  std::string what = std::string("Close (") + why + ")";
  Timed(what.c_str(), [&] {
    driver_->Close();
    return true;
  });
  what = std::string("Delete (") + why + ")";
  Timed(what.c_str(), [&] {
    destroy_(driver_);
    return true;
  });
  driver_ = nullptr;
}

void RudeSession::Delete(const char* why) {
  std::unique_lock<std::shared_mutex> lock(mutex_);
  DeleteLocked(why);
}

bool RudeSession::StopCapture(const char* why) {
  std::shared_lock<std::shared_mutex> lock(mutex_);
  IIPVideoCaptureEx2* capture = driver_ ? driver_->GetVideoCaptureEx2() : nullptr;
  const std::string what = std::string("StopCapture (") + why + ")";
  return capture && Timed(what.c_str(), [&] { return capture->StopCapture(0); });
}

bool RudeSession::StartCapture() {
  std::shared_lock<std::shared_mutex> lock(mutex_);
  IIPVideoCaptureEx2* capture = driver_ ? driver_->GetVideoCaptureEx2() : nullptr;
  return capture && Timed("StartCapture", [&] { return capture->StartCapture(0, &sink_, &settings_); });
}

void RudeSession::Perform(RudeHost::Call call, bool inCallback) {
  using Call = RudeHost::Call;
  const char* name = RudeHost::Name(call);
  if (call == Call::CloseDriver || call == Call::DeleteDriver) {
    if (inCallback && !closeInCallbacks) return;
    // From inside a callback only when nobody else uses the driver at that moment: a callback never
    // waits for the host's other threads.
    std::unique_lock<std::shared_mutex> lock(mutex_, std::defer_lock);
    if (inCallback ? !lock.try_lock() : (lock.lock(), false)) {
      ++refused_;
      return;
    }
    if (!driver_) return;
    if (call == Call::CloseDriver) {
      Timed(name, [&] {
        driver_->Close();
        return true;
      });
      // A closed driver is opened again with the same objects, as a host reconnecting a device does.
      Timed("Open again", [&] { return driver_->Open(&log_, allocator_, device_); });
      IIPVideoCaptureEx2* capture = driver_->GetVideoCaptureEx2();
      if (capture) Timed("StartCapture", [&] { return capture->StartCapture(0, &sink_, &settings_); });
    } else {
      DeleteLocked(inCallback ? "from a callback" : "from another thread");
      OpenLocked();
    }
    return;
  }

  std::shared_lock<std::shared_mutex> lock(mutex_, std::defer_lock);
  if (inCallback ? !lock.try_lock() : (lock.lock(), false)) {
    ++refused_;
    return;
  }
  if (!driver_) {
    ++refused_;
    return;
  }
  IIPVideoCaptureEx2* capture = driver_->GetVideoCaptureEx2();
  if (!capture) return;
  const uint32_t turn = turn_++;
  switch (call) {
    case Call::StopCapture:
      Timed(name, [&] { return capture->StopCapture(0); });
      break;
    case Call::StartCapture:
      Timed(name, [&] { return capture->StartCapture(0, &sink_, &settings_); });
      break;
    case Call::ChangeResolution: {
      TestStreamResolution size = turn % 2 ? TestStreamResolution(640, 480) : TestStreamResolution(320, 240);
      Timed(name, [&] { return capture->ChangeResolution(0, &size, 40); });
      break;
    }
    case Call::StopStream:
      Timed(name, [&] { return capture->StopStream(0, turn % 2); });
      break;
    case Call::StartStream:
      Timed(name, [&] { return capture->StartStream(0, 1, &sink_, &second_); });
      break;
    case Call::Status:
      Timed(name, [&] {
        int32_t state = 0, value = 0;
        uint8_t flag = 0;
        return capture->GetCaptureStatus(0, &state, &value, &flag, true);
      });
      break;
    case Call::Ptz: {
      IIPPTZDriverEx* ptz = driver_->GetPTZDriverEx();
      IIPPTZApiEx* api = ptz ? ptz->GetPTZApiEx(0) : nullptr;
      if (!api) break;
      if (turn % 3 == 0)
        Timed(name, [&] { return api->StartMove(static_cast<int32_t>(turn % 8), 5) == PTZ_OK; });
      else if (turn % 3 == 1)
        Timed(name, [&] { return api->StopAll() == PTZ_OK; });
      else
        Timed(name, [&] { return api->GetPresetCount() >= 0; });
      break;
    }
    case Call::Output: {
      ICaptureIOApi* io = driver_->GetIOApi();
      if (io) Timed(name, [&] { return io->SetOutputState(1, turn % 2 ? 2 : 1); });
      break;
    }
    default:
      break;
  }
}

}  // namespace zephrin::test
