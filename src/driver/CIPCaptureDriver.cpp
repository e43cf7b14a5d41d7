#include "driver/CIPCaptureDriver.h"

#include <algorithm>
#include <cstdarg>
#include <new>

#include "driver/CDebugInfo.h"
#include "driver/CIPVideoCapture.h"
#include "platform/Guard.h"
#include "runtime/StringUtils.h"

namespace norvale {

namespace {
std::string TextOf(const char* text) { return text ? std::string(text) : std::string(); }

// The executable's directory, ending in the path separator; the whole path when it has none.
std::string HostDirectoryFromExecutable() {
  const std::string path = platform::ExecutablePath(511);
  const size_t separator = path.rfind(platform::kPathSeparator);
  return separator == std::string::npos ? path : path.substr(0, separator + 1);
}
}  // namespace

CIPCaptureDriver::CIPCaptureDriver() : hostDirectory_(HostDirectoryFromExecutable()) {
  platform::Version version{};
  if (platform::HostCoreVersion(&version)) hostVersion_ = version;
}

CIPCaptureDriver::~CIPCaptureDriver() {
  CIPCaptureDriver::Close();
  reaper_.WaitForAll();
}

bool CIPCaptureDriver::ReadDeviceSource(ipcapture::DeviceSource* device) {
  if (!device) return false;
  ipcapture::ConnectionObject* connection = device->GetConnection();
  ipcapture::CameraObject* camera = device->GetCamera();
  if (!connection || !camera) return false;

  defaultCodec_ = connection->GetDefaultCodec();
  deviceInfo_.address = TextOf(connection->GetAddress());
  deviceInfo_.port = connection->GetPort();
  deviceInfo_.user = TextOf(connection->GetUser());
  deviceInfo_.password = TextOf(connection->GetPassword());

  cameraValue1_ = camera->GetCameraValue1();
  cameraValue2_ = camera->GetCameraValue2();
  cameraCount_ = camera->GetCameraCount();
  deviceInfo_.model = TextOf(camera->GetModel());

  // A driver opened again must not keep parameters of an earlier device description.
  hostParams_.clear();
  for (uint32_t number = 1; number <= kMaxHostParameters; ++number) {
    const char* text = device->GetParameter(number);
    if (!text) break;
    hostParams_[static_cast<int32_t>(number)] = text;
  }
  return true;
}

bool CIPCaptureDriver::CreateVideoCapture() {
  // A driver opened again gets a table for the camera count of its new description.
  ipcapture::DeleteObject(std::exchange(videoCapture_, nullptr));
  const uint32_t cameras = cameraCount_ > 0 ? static_cast<uint32_t>(cameraCount_) : 0u;
  videoCapture_ = new (std::nothrow) CIPVideoCapture(cameras, this, &reaper_);
  return videoCapture_ != nullptr;
}

bool CIPCaptureDriver::Open(ipcapture::LogSink* log, ipcapture::FrameAllocator* allocator,
                            ipcapture::DeviceSource* device) {
  try {
    // A stream stopped while its thread was held in the host still reads the device description and
    // may still hand back a frame: the driver opens again once it has ended.
    if (!reaper_.Settle(StopLimit(&deviceInfo_))) {
      Log(LogError, "%s: %s cannot be opened again yet: a stream stopped before is still inside the host",
          ZEPHRIN_FUNCTION, DeviceName(&deviceInfo_).c_str());
      return false;
    }
    if (!ReadDeviceSource(device)) return false;
    allocator_.SetHost(allocator);
    logSink_.store(log);
    if (!CreateVideoCapture()) return false;
    if (!CreateIOApi()) return false;
    return CreatePTZDriver();
  }
  ZEPHRIN_RETHROW_CANCELLATION catch (...) { return false; }
}

void CIPCaptureDriver::Close() { CloseWith({}); }

namespace {
void FinishDelete(void* driver) { ipcapture::DeleteObject(static_cast<CIPCaptureDriver*>(driver)); }
}  // namespace

void CIPCaptureDriver::Delete(CIPCaptureDriver* driver) {
  if (!driver) return;
  const uint32_t start = platform::TickCount();
  const uint32_t limit = StopLimit(&driver->deviceInfo_);
  // The last part of the limit is left for the calls that are on their way into the host to return
  // once the gate is closed.
  constexpr uint32_t kGateWait = 100;
  driver->Close();
  const uint32_t left = platform::TimeLeft(start, limit);
  if (!driver->reaper_.Settle(left > kGateWait ? left - kGateWait : 0)) {
    driver->Log(LogWarning,
                "%s: %s was deleted while a call into the host still holds one of its threads; it calls the host "
                "no more and is freed when that call returns",
                ZEPHRIN_FUNCTION, DeviceName(&driver->deviceInfo_).c_str());
    driver->hostGate_.Close(std::max(platform::TimeLeft(start, limit), kGateWait));
    // The destructor waits for the held thread there. Without a thread of its own it waits here.
    if (platform::Thread* thread = platform::StartThread(&FinishDelete, driver, nullptr)) {
      platform::CloseThread(thread);
      return;
    }
  }
  ipcapture::DeleteObject(driver);
}

void CIPCaptureDriver::CloseWith(std::vector<CChannelReaper::Part> more) {
  std::vector<CChannelReaper::Part> parts;
  if (auto* capture = std::exchange(videoCapture_, nullptr))
    parts.emplace_back([capture] { ipcapture::DeleteObject(capture); });
  if (auto* io = std::exchange(ioApi_, nullptr)) parts.emplace_back([io] { ipcapture::DeleteObject(io); });
  if (auto* ptz = std::exchange(ptzHandler_, nullptr)) parts.emplace_back([ptz] { ipcapture::DeleteObject(ptz); });
  for (CChannelReaper::Part& part : more) parts.push_back(std::move(part));
  reaper_.RetireParts(std::move(parts), StopLimit(&deviceInfo_));
}

std::string CIPCaptureDriver::OpeningLine(const std::string& firmware, const std::string& unconvertedModel) {
  std::string line =
      FormatString("DRIVER IS OPENED (name: %s, device model: %s", GetDriverName().c_str(), deviceInfo_.model.c_str());
  if (!unconvertedModel.empty() && deviceInfo_.model.find(unconvertedModel) == std::string::npos)
    line += " (" + norvale::ForLog(unconvertedModel) + ")";
  if (!firmware.empty()) line += ", FW: " + norvale::ForLog(firmware);
  line += ", address: " + DeviceName(&deviceInfo_) + ")";
  return line;
}

void CIPCaptureDriver::LogDriverOpened(const std::string& firmware) {
  if (GetDriverName().empty() || deviceInfo_.model.empty()) return;
  Log(norvale::LogDriverOpened, "%s", OpeningLine(firmware, std::string()).c_str());
}

std::string CIPCaptureDriver::GetDeviceName() { return DeviceName(&deviceInfo_); }

uint8_t CIPCaptureDriver::HostLevel(uint8_t level) const {
  const auto below = [this](uint16_t major, uint16_t minor) {
    return hostVersion_.major < major || (hostVersion_.major == major && hostVersion_.minor < minor);
  };
  if (below(5, 12)) {
    if (level == LogInfo || level == norvale::LogDriverOpened) return LogWarning;
  } else if (below(6, 3)) {
    if (level == norvale::LogDriverOpened) return LogInfo;
  }
  return level;
}

void CIPCaptureDriver::Log(uint8_t level, const char* format, ...) {
  if (level == LogDebug) return;
  ipcapture::LogSink* sink = logSink_.load();
  if (!sink) return;
  try {
    std::string text;
    bool formatted = false;
    va_list args;
    va_start(args, format);
    try {
      formatted = FormatStringV(text, format, args);
    } catch (platform::ThreadCancellation&) {
      va_end(args);
      throw;
    } catch (...) {
      formatted = false;
    }
    va_end(args);
    if (!formatted || text.empty()) return;
    const CDebugInfo record(HostLevel(level), text);
    const CHostGate::Passage passage(hostGate_);
    if (passage) sink->Write(&record);
  }
  ZEPHRIN_RETHROW_CANCELLATION catch (...) {
    // A line that cannot be formed or delivered is dropped.
  }
}

std::string CIPCaptureDriver::GetStringParam(int32_t key) {
  try {
    const auto it = hostParams_.find(key);
    if (it == hostParams_.end() || it->second == "(none)") return {};
    return it->second;
  }
  ZEPHRIN_RETHROW_CANCELLATION catch (...) { return {}; }
}

int32_t CIPCaptureDriver::GetIntParam(int32_t key) {
  const auto it = hostParams_.find(key);
  int32_t value = 0;
  if (it == hostParams_.end() || !ParseInt(it->second, &value)) return ParamNotSet;
  return value;
}

ICameraChannel* CIPCaptureDriver::CreateCompanionChannel(uint32_t, ipcapture::FrameSink*) { return nullptr; }

}  // namespace norvale
