#include "ptz/CBasePTZControl.h"

#include <cstring>

#include "platform/Guard.h"

namespace norvale {

using namespace ipcapture;

namespace {
// No exception crosses the host interface: one escaping a preset operation is a failure.
template <typename F>
int32_t Guarded(F&& operation) {
  try {
    return operation();
  }
  ZEPHRIN_RETHROW_CANCELLATION catch (...) { return PTZ_Failed; }
}
}  // namespace

CBasePTZControl::CBasePTZControl(IDriver* driver, int32_t channel)
    : driver_(driver), channel_(channel), presets_(channel) {}

CBasePTZControl::~CBasePTZControl() { CBasePTZControl::Close(); }

void CBasePTZControl::Close() {
  if (!comm_) return;
  // Closing first abandons a preset request in progress; detaching then waits only for that request
  // to come back, and the list keeps no communicator that is about to be deleted.
  comm_->Close();
  presets_.SetCommunicator(nullptr, presets_.SlotCount());
  delete comm_;
  comm_ = nullptr;
}

bool CBasePTZControl::Open(TSmartPtr<CXMLPrepositionReader> reader) {
  return Guarded([&]() -> int32_t {
           comm_ = CreateComm();
           if (comm_ && comm_->Open() && reader) {
             const int32_t slots = comm_->Capabilities().presetCount;
             presets_.SetCommunicator(comm_, slots > 0 ? static_cast<uint32_t>(slots) : 0u);
             presets_.SetStorage(reader);
             return 1;
           }
           Close();
           reader.Release();
           return 0;
         }) == 1;
}

int32_t CBasePTZControl::Moved(int32_t status, std::atomic<bool>* activity) {
  if (status == PTZ_OK) {
    if (activity) *activity = true;
    presets_.ClearCurrent();
  }
  return status;
}

int32_t CBasePTZControl::HasPTZ() {
  if (!comm_) return PTZ_Failed;
  return comm_->HasPTZ() ? 1 : 0;
}

int32_t CBasePTZControl::StartMove(int32_t direction, int32_t speed) {
  if (!comm_) return PTZ_Failed;
  if (direction == 10) return PTZ_BadArgument;
  const bool zoom = direction == CPTZItem::kZoomIn || direction == CPTZItem::kZoomOut;
  return Moved(comm_->StartMove(this, direction, speed), zoom ? &zooming_ : &moving_);
}

int32_t CBasePTZControl::StopAll() {
  if (!comm_) return PTZ_Failed;
  bool all = true;
  // A flag is cleared only when its stop was queued, so a later StopAll sends it again.
  auto settle = [&all](std::atomic<bool>& activity, bool queued) {
    if (queued)
      activity = false;
    else
      all = false;
  };
  if (moving_) settle(moving_, comm_->StopMoving(this));
  if (zooming_) settle(zooming_, comm_->StopZooming(this));
  if (iris_) settle(iris_, comm_->StopIrisChanging(this));
  if (focusing_) settle(focusing_, comm_->StopFocusing(this));
  return all ? PTZ_OK : PTZ_Failed;
}

int32_t CBasePTZControl::Center(int32_t a, int32_t b, int32_t c) {
  if (!comm_) return PTZ_Failed;
  return Moved(comm_->Center(this, a, b, c));
}

int32_t CBasePTZControl::ZoomIn(int32_t speed) {
  if (!comm_) return PTZ_Failed;
  return Moved(comm_->StartMove(this, CPTZItem::kZoomIn, speed), &zooming_);
}

int32_t CBasePTZControl::ZoomOut(int32_t speed) {
  if (!comm_) return PTZ_Failed;
  return Moved(comm_->StartMove(this, CPTZItem::kZoomOut, speed), &zooming_);
}

int32_t CBasePTZControl::Unzoom(int32_t value) {
  if (!comm_) return PTZ_Failed;
  return Moved(comm_->Unzoom(this, value));
}

int32_t CBasePTZControl::AreaZoom(int32_t a, int32_t b, int32_t c, int32_t d) {
  if (!comm_) return PTZ_Failed;
  return Moved(comm_->AreaZoom(this, a, b, c, d));
}

int32_t CBasePTZControl::StartFocusPositive(int32_t speed) {
  if (!comm_) return PTZ_Failed;
  return Moved(comm_->StartFocus(this, true, speed), &focusing_);
}

int32_t CBasePTZControl::StartFocusNegative(int32_t speed) {
  if (!comm_) return PTZ_Failed;
  return Moved(comm_->StartFocus(this, false, speed), &focusing_);
}

int32_t CBasePTZControl::StartIrisPositive(int32_t speed) {
  if (!comm_) return PTZ_Failed;
  return Moved(comm_->StartIris(this, true, speed), &iris_);
}

int32_t CBasePTZControl::StartIrisNegative(int32_t speed) {
  if (!comm_) return PTZ_Failed;
  return Moved(comm_->StartIris(this, false, speed), &iris_);
}

int32_t CBasePTZControl::GetCapabilities(PTZCapabilityRecord* record) {
  if (!comm_) return PTZ_Failed;
  if (!record) return PTZ_BadArgument;
  const int32_t status = comm_->GetCapabilities(record);
  record->presetSlots = static_cast<int32_t>(presets_.SlotCount());
  record->presetCount = presets_.GetCount();
  return status;
}

int32_t CBasePTZControl::GetPresetCount() { return presets_.GetCount(); }

int32_t CBasePTZControl::CopyName(bool found, const std::string& name, char* buffer, uint32_t size) {
  if (!found) return PTZ_PresetNotFound;
  if (!buffer || name.size() >= size) return PTZ_BadArgument;
  std::memcpy(buffer, name.c_str(), name.size() + 1);
  return PTZ_OK;
}

int32_t CBasePTZControl::GetPresetName(uint32_t index, char* buffer, uint32_t size) {
  return Guarded([&] {
    std::string name;
    const bool found = index <= 0x7FFFFFFFu && presets_.GetName(static_cast<int32_t>(index), name);
    return CopyName(found, name, buffer, size);
  });
}

int32_t CBasePTZControl::GetCurrentPresetName(char* buffer, uint32_t size) {
  return Guarded([&] {
    std::string name;
    const bool found = presets_.GetCurrentName(name);
    return CopyName(found, name, buffer, size);
  });
}

int32_t CBasePTZControl::GotoPreset(int32_t value, const char* name) {
  if (!name) return PTZ_BadArgument;
  return Guarded([&] { return presets_.Goto(name, value) ? PTZ_OK : PTZ_PresetNotFound; });
}

int32_t CBasePTZControl::AddPreset(const char* name) {
  if (!name) return PTZ_BadArgument;
  return Guarded([&] { return presets_.Add(name); });
}

int32_t CBasePTZControl::RemovePreset(const char* name) {
  if (!name) return PTZ_BadArgument;
  return Guarded([&] { return presets_.Remove(name) ? PTZ_OK : PTZ_PresetNotFound; });
}

bool CBasePTZControl::IsVersionSupported(int32_t version) { return version == 1; }

}  // namespace norvale
