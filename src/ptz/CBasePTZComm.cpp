#include "ptz/CBasePTZComm.h"

#include <cstdarg>
#include <memory>
#include <new>

#include "runtime/StringUtils.h"

namespace norvale {

CBasePTZComm::CBasePTZComm(IDriver* driver, const CPtzCapabilities& capabilities, uint16_t channel)
    : CQueueThread<CPTZItem>(driver), channel_(channel), capabilities_(capabilities), driver_(driver) {}

CBasePTZComm::~CBasePTZComm() { Close(); }

bool CBasePTZComm::Open() {
  if (!IsRunning()) opened_ = StartQueue(FormatString("BaseIPPTZThread_Ch%u", channel_ + 1u));
  if (!IsRunning()) {
    Log(LogError, "%s: unable to start thread for PTZ channel %u", ZEPHRIN_FUNCTION, channel_ + 1u);
    opened_ = false;
  }
  return opened_;
}

bool CBasePTZComm::Close() {
  if (!opened_) return false;
  const bool stopped = StopQueue();
  opened_ = false;
  return stopped;
}

bool CBasePTZComm::HasPTZ() {
  const CPtzCapabilities& c = capabilities_;
  return c.pan || c.tilt || c.zoom || c.focus || c.iris;
}

int32_t CBasePTZComm::GetCapabilities(ipcapture::PTZCapabilityRecord* record) {
  if (!record) return ipcapture::PTZ_BadArgument;
  const CPtzCapabilities& c = capabilities_;
  record->pan = c.pan ? 1 : 0;
  record->tilt = c.tilt ? 1 : 0;
  record->zoom = c.zoom ? 1 : 0;
  record->focus = c.focus ? 1 : 0;
  record->iris = c.iris ? 1 : 0;
  record->reserved6 = 0;
  record->presetSlots = c.presetCount;
  record->presetCount = 0;
  record->reserved9 = 0;
  record->reserved10 = 0;
  record->areaZoom = c.areaZoom ? 1 : 0;
  record->center = c.center ? 1 : 0;
  record->unzoom = c.unzoom ? 1 : 0;
  return ipcapture::PTZ_OK;
}

std::string CBasePTZComm::GetDeviceName() { return driver_ ? driver_->GetDeviceName() : std::string(); }

void CBasePTZComm::Log(uint8_t level, const char* format, ...) {
  if (!driver_ || !format) return;
  std::string text;
  va_list args;
  va_start(args, format);
  const bool ok = FormatStringV(text, format, args);
  va_end(args);
  if (ok && !text.empty()) driver_->Log(level, "%s", text.c_str());
}

bool CBasePTZComm::Post(int32_t type, int32_t subtype, IIPParams* params, int32_t speed, int32_t extraA, int32_t extraB,
                        int32_t extraC, const char* function) {
  bool queued = false;
  if (!StopRequested()) {
    // Owned until queued: a caller terminated while it waits for the queue lock frees it.
    if (std::unique_ptr<CPTZItem> item{new (std::nothrow)
                                           CPTZItem(type, subtype, params, speed, extraA, extraB, extraC)}) {
      // Trim and append under one hold of the queue lock, so concurrent pushes never exceed the bound.
      RecursiveLockGuard guard(QueueLock());
      auto& waiting = CQueueThread<CPTZItem>::Queue();
      while (waiting.size() >= kMaxWaiting) {
        delete waiting.front();
        waiting.pop_front();
      }
      queued = Push(item.release());
    }
  }
  if (!queued) Log(LogError, "%s: cannot send message (%d) to thread", function, type);
  return queued;
}

int32_t CBasePTZComm::StartMove(IIPParams* params, int32_t direction, int32_t speed) {
  const CPtzCapabilities& c = capabilities_;
  const bool zoomDirection = direction == CPTZItem::kZoomIn || direction == CPTZItem::kZoomOut;
  if (zoomDirection ? !c.zoom : !(c.pan || c.tilt)) return ipcapture::PTZ_NotSupported;
  return Status(Post(CPTZItem::Move, CPTZItem::None, params, speed, direction, 0, 0, ZEPHRIN_FUNCTION));
}

int32_t CBasePTZComm::StartIris(IIPParams* params, bool positive, int32_t speed) {
  if (!capabilities_.iris) return ipcapture::PTZ_NotSupported;
  return Status(Post(CPTZItem::Iris, positive ? CPTZItem::IrisPositive : CPTZItem::IrisNegative, params, speed, 0, 0, 0,
                     ZEPHRIN_FUNCTION));
}

int32_t CBasePTZComm::StartFocus(IIPParams* params, bool positive, int32_t speed) {
  if (!capabilities_.focus) return ipcapture::PTZ_NotSupported;
  return Status(Post(CPTZItem::Focus, positive ? CPTZItem::FocusPositive : CPTZItem::FocusNegative, params, speed, 0, 0,
                     0, ZEPHRIN_FUNCTION));
}

int32_t CBasePTZComm::AreaZoom(IIPParams* params, int32_t a, int32_t b, int32_t c, int32_t d) {
  if (!capabilities_.areaZoom) return ipcapture::PTZ_NotSupported;
  return Status(Post(CPTZItem::AreaZoom, CPTZItem::None, params, d, a, b, c, ZEPHRIN_FUNCTION));
}

int32_t CBasePTZComm::Unzoom(IIPParams* params, int32_t value) {
  if (!capabilities_.unzoom) return ipcapture::PTZ_NotSupported;
  return Status(Post(CPTZItem::Unzoom, CPTZItem::None, params, value, 0, 0, 0, ZEPHRIN_FUNCTION));
}

int32_t CBasePTZComm::Center(IIPParams* params, int32_t a, int32_t b, int32_t c) {
  if (!capabilities_.center) return ipcapture::PTZ_NotSupported;
  return Status(Post(CPTZItem::Center, CPTZItem::None, params, c, a, b, 0, ZEPHRIN_FUNCTION));
}

bool CBasePTZComm::StopMoving(IIPParams* params) {
  return Post(CPTZItem::Stop, CPTZItem::StopMoving, params, 0, 0, 0, 0, ZEPHRIN_FUNCTION);
}

bool CBasePTZComm::StopZooming(IIPParams* params) {
  return Post(CPTZItem::Stop, CPTZItem::StopZooming, params, 0, 0, 0, 0, ZEPHRIN_FUNCTION);
}

bool CBasePTZComm::StopFocusing(IIPParams* params) {
  return Post(CPTZItem::Stop, CPTZItem::StopFocusing, params, 0, 0, 0, 0, ZEPHRIN_FUNCTION);
}

bool CBasePTZComm::StopIrisChanging(IIPParams* params) {
  return Post(CPTZItem::Stop, CPTZItem::StopIris, params, 0, 0, 0, 0, ZEPHRIN_FUNCTION);
}

}  // namespace norvale
