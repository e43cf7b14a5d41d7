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
  sink_.deletes = &deletes_;
}

RudeSession::~RudeSession() {
  host_.Calm();
  Delete("end of session");
}

template <class F>
bool RudeSession::Timed(const std::string& what, F f) {
  const auto start = std::chrono::steady_clock::now();
  const bool ok = f();
  host_.NoteCall(what, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  if (!ok) ++refused;
  return ok;
}

bool RudeSession::Capture(IIPVideoCaptureEx2* capture) {
  return capture && Timed("StartCapture", [&] { return capture->StartCapture(0, &sink_, &settings_); });
}

bool RudeSession::OpenLocked() {
  if (open_ || !create_) return open_;
  // A driver object whose open again was refused (a stream stopped before is still inside the host)
  // is opened here once more.
  if (!driver_) driver_ = create_();
  open_ = driver_ && Timed("Open", [&] { return driver_->Open(&log_, allocator_, device_); });
  if (!open_) return false;
  if (ICaptureIOApi* io = driver_->GetIOApi()) {
    Timed("SetCallback", [&] { return io->SetCallback(&io_); });
    Timed("StartIO", [&] { return io->StartIO(); });
  }
  return Capture(driver_->GetVideoCaptureEx2());
}

bool RudeSession::Open() {
  std::unique_lock<std::shared_mutex> lock(mutex_);
  return OpenLocked();
}

bool RudeSession::IsOpen() {
  std::shared_lock<std::shared_mutex> lock(mutex_);
  return open_;
}

void RudeSession::DeleteLocked(const std::string& why) {
  if (!driver_) return;
  open_ = false;
  Timed("Close (" + why + ")", [&] {
    driver_->Close();
    return true;
  });
  ++deletes_;
  Timed("Delete (" + why + ")", [&] {
    destroy_(driver_);
    return true;
  });
  ++deletes_;
  driver_ = nullptr;
}

void RudeSession::Delete(const std::string& why) {
  std::unique_lock<std::shared_mutex> lock(mutex_);
  DeleteLocked(why);
}

bool RudeSession::StopCapture(const std::string& why) {
  std::shared_lock<std::shared_mutex> lock(mutex_);
  IIPVideoCaptureEx2* capture = driver_ ? driver_->GetVideoCaptureEx2() : nullptr;
  return capture && Timed("StopCapture (" + why + ")", [&] { return capture->StopCapture(0); });
}

bool RudeSession::StartCapture() {
  std::shared_lock<std::shared_mutex> lock(mutex_);
  return Capture(driver_ ? driver_->GetVideoCaptureEx2() : nullptr);
}

void RudeSession::Perform(RudeHost::Call call, bool inCallback) {
  using Call = RudeHost::Call;
  const char* name = RudeHost::Name(call);
  // From inside a callback only when nobody else holds the driver at that moment: a callback never
  // waits for the host's other threads.
  const auto take = [inCallback, this](auto& lock) {
    if (inCallback ? lock.try_lock() : (lock.lock(), true)) return true;
    ++refused;
    return false;
  };
  if (call == Call::CloseDriver || call == Call::DeleteDriver) {
    std::unique_lock<std::shared_mutex> lock(mutex_, std::defer_lock);
    if ((inCallback && !closeInCallbacks) || !take(lock) || !driver_) return;
    if (call == Call::DeleteDriver) {
      DeleteLocked(inCallback ? "from a callback" : "from another thread");
      OpenLocked();
      return;
    }
    open_ = false;
    Timed(name, [&] {
      driver_->Close();
      return true;
    });
    // A closed driver is opened again with the same objects, as a host reconnecting a device does;
    // when that is refused, the next window opens it.
    open_ = Timed("Open again", [&] { return driver_->Open(&log_, allocator_, device_); });
    if (open_) Capture(driver_->GetVideoCaptureEx2());
    return;
  }

  std::shared_lock<std::shared_mutex> lock(mutex_, std::defer_lock);
  if (!take(lock)) return;
  IIPVideoCaptureEx2* capture = driver_ ? driver_->GetVideoCaptureEx2() : nullptr;
  if (!capture) {
    ++refused;
    return;
  }
  const uint32_t turn = turn_++;
  TestStreamResolution size = turn % 2 ? TestStreamResolution(640, 480) : TestStreamResolution(320, 240);
  IIPPTZDriverEx* ptz = driver_->GetPTZDriverEx();
  IIPPTZApiEx* api = ptz ? ptz->GetPTZApiEx(0) : nullptr;
  ICaptureIOApi* io = driver_->GetIOApi();
  Timed(name, [&] {
    int32_t state = 0, value = 0;
    uint8_t flag = 0;
    switch (call) {
      case Call::StopCapture:
        return capture->StopCapture(0);
      case Call::StartCapture:
        return capture->StartCapture(0, &sink_, &settings_);
      case Call::ChangeResolution:
        return capture->ChangeResolution(0, &size, 40);
      case Call::StopStream:
        return capture->StopStream(0, turn % 2);
      case Call::StartStream:
        return capture->StartStream(0, 1, &sink_, &second_);
      case Call::Status:
        return capture->GetCaptureStatus(0, &state, &value, &flag, true);
      case Call::Ptz:
        if (!api) return true;
        if (turn % 3 == 0) return api->StartMove(static_cast<int32_t>(turn % 8), 5) == PTZ_OK;
        return turn % 3 == 1 ? api->StopAll() == PTZ_OK : api->GetPresetCount() >= 0;
      case Call::Output:
        return !io || io->SetOutputState(1, turn % 2 ? 2 : 1);
      default:
        return true;
    }
  });
}

}  // namespace zephrin::test
