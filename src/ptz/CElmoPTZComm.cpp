#include "ptz/CElmoPTZComm.h"

#include <vector>

#include "camera/HUtils.h"
#include "camera/HttpSender.h"
#include "platform/Guard.h"
#include "runtime/StringUtils.h"

namespace norvale {

namespace {
constexpr const char* kPtz = "/cgi-bin/com/ptz.cgi?";
constexpr const char* kPtzConfig = "/cgi-bin/com/ptzconfig.cgi?";
constexpr const char* kPanTilt = "continuouspantiltmove";
constexpr const char* kZoom = "continuouszoommove";
constexpr const char* kFocus = "continuousfocusmove";
constexpr const char* kAutofocus = "autofocus";
constexpr const char* kUnzoom = "zoom=0";
constexpr const char* kStorePreset = "setserverpresetno";
constexpr const char* kGotoPreset = "gotoserverpresetno";
constexpr const char* kRemovePreset = "removeserverpresetno";

// Pan and tilt signs of the movement directions 0-7.
constexpr int kPanSign[8] = {-1, +1, 0, 0, -1, +1, -1, +1};
constexpr int kTiltSign[8] = {0, 0, +1, -1, +1, +1, -1, -1};

DEVICE_INFO DeviceOf(IDriver* driver) {
  DEVICE_INFO* info = driver ? driver->GetDeviceInfo() : nullptr;
  return info ? *info : DEVICE_INFO();
}
}  // namespace

CElmoPTZComm::CElmoPTZComm(IDriver* driver, const CPtzCapabilities& capabilities, uint16_t channel)
    : CElmoPTZComm(driver, capabilities, channel, Web::CreateHttpSender(DeviceOf(driver)),
                   Web::CreateHttpSender(DeviceOf(driver))) {}

CElmoPTZComm::CElmoPTZComm(IDriver* driver, const CPtzCapabilities& capabilities, uint16_t channel,
                           std::unique_ptr<Web::CBaseHttpSender> commandSender,
                           std::unique_ptr<Web::CBaseHttpSender> presetSender)
    : CBasePTZComm(driver, capabilities, channel),
      commandSender_(std::move(commandSender)),
      presetSender_(std::move(presetSender)) {
  speed_.SetInputRange(1, 16);
  speed_.SetOutputRange(5, 100);
}

CElmoPTZComm::~CElmoPTZComm() { CElmoPTZComm::Close(); }

bool CElmoPTZComm::Open() {
  closing_ = false;
  if (commandSender_) commandSender_->Reopen();
  if (presetSender_) presetSender_->Reopen();
  return CBasePTZComm::Open();
}

bool CElmoPTZComm::Close() {
  if (!IsOpened()) return false;
  closing_ = true;
  StopEvent().Set();
  // Both the worker's command and a preset request on a host thread are abandoned, so that neither a
  // slow camera nor the preset list waiting for it holds the close; so is one that either thread is
  // only about to send.
  if (commandSender_) commandSender_->Abandon();
  if (presetSender_) presetSender_->Abandon();
  return CBasePTZComm::Close();
}

void CElmoPTZComm::HandleWorkItem(CPTZItem* item) {
  if (!item) return;
  CResultDef result;
  try {
    switch (item->type) {
      case CPTZItem::Move:
        ProcessMoveCommand(item, result);
        break;
      case CPTZItem::Focus:
        ProcessFocusCommand(item, result);
        break;
      case CPTZItem::Stop:
        ProcessStopCommand(item, result);
        break;
      case CPTZItem::Unzoom:
        ProcessUnzoomCommand(item, result);
        break;
      default:
        result.SetResultEx(LogError, CResultDef::kInvalidInput, "%s: unexpected command ID=%u", ZEPHRIN_FUNCTION,
                           static_cast<unsigned>(item->type));
        break;
    }
  }
  ZEPHRIN_RETHROW_CANCELLATION catch (...) {
    result.SetResultEx(LogError, CResultDef::kUnexpectedException, "%s: Unexpected exception occurred",
                       ZEPHRIN_FUNCTION);
  }
  result.Report(DeviceDriver());
}

bool CElmoPTZComm::CheckType(CPTZItem* item, int32_t type, const char* function, CResultDef& result) {
  if (item->type == type) return true;
  result.SetResultEx(LogError, CResultDef::kInvalidInput, "%s: Invalid command type (ID=%d)", function, item->type);
  return false;
}

void CElmoPTZComm::UnexpectedSubtype(CPTZItem* item, const char* function, CResultDef& result) {
  result.SetResultEx(LogError, CResultDef::kInvalidInput, "%s: Unexpected command subtype (Type=%d, Subtype=%d)",
                     function, item->type, item->subtype);
}

void CElmoPTZComm::SendCommand(const std::string& request, CResultDef& result) {
  if (!commandSender_) {
    result.SetResultEx(LogDebug, HUtils::kRequestNotSent, "%s: Cannot send request \"%s\" to %s",
                       "norvale::HUtils::RequestGetRD", request.c_str(), GetDeviceName().c_str());
    return;
  }
  result = HUtils::RequestGetRD(*commandSender_, request);
}

void CElmoPTZComm::ProcessMoveCommand(CPTZItem* item, CResultDef& result) {
  if (!CheckType(item, CPTZItem::Move, ZEPHRIN_FUNCTION, result)) return;
  const auto s = static_cast<int32_t>(speed_.Convert(item->speed));
  const CPtzCapabilities& caps = Capabilities();
  const int32_t direction = item->extraA;
  std::string request;
  if (direction == CPTZItem::kZoomIn || direction == CPTZItem::kZoomOut) {
    if (caps.zoom) request = FormatString("%s%s=%d", kPtz, kZoom, direction == CPTZItem::kZoomIn ? s : -s);
  } else if (caps.pan && caps.tilt) {
    const bool known = direction >= 0 && direction < 8;
    const int pan = known ? s * kPanSign[direction] : 0;
    const int tilt = known ? s * kTiltSign[direction] : 0;
    request = FormatString("%s%s=%d,%d", kPtz, kPanTilt, pan, tilt);
  }
  if (request.empty()) return;
  SendCommand(request, result);
  if (result.Succeeded()) SetManualFocus(item->params, false, result);
}

void CElmoPTZComm::ProcessStopCommand(CPTZItem* item, CResultDef& result) {
  const FunctionName function(__PRETTY_FUNCTION__);
  if (!CheckType(item, CPTZItem::Stop, function.c_str(), result)) return;
  const CPtzCapabilities& caps = Capabilities();
  std::string request;
  switch (item->subtype) {
    case CPTZItem::StopMoving:
      if (caps.pan || caps.tilt) request = FormatString("%s%s=0,0", kPtz, kPanTilt);
      break;
    case CPTZItem::StopZooming:
      if (caps.zoom) request = FormatString("%s%s=0", kPtz, kZoom);
      break;
    case CPTZItem::StopFocusing:
      if (caps.focus) request = FormatString("%s%s=0", kPtz, kFocus);
      break;
    default:
      UnexpectedSubtype(item, function.c_str(), result);
      return;
  }
  if (!request.empty()) SendCommand(request, result);
}

void CElmoPTZComm::ProcessFocusCommand(CPTZItem* item, CResultDef& result) {
  const FunctionName function(__PRETTY_FUNCTION__);
  if (!CheckType(item, CPTZItem::Focus, function.c_str(), result)) return;
  int sign;
  if (item->subtype == CPTZItem::FocusNegative) {
    sign = -1;
  } else if (item->subtype == CPTZItem::FocusPositive) {
    sign = +1;
  } else {
    UnexpectedSubtype(item, function.c_str(), result);
    return;
  }
  SetManualFocus(item->params, true, result);
  if (!result.Succeeded() || !Capabilities().focus) return;
  const auto s = static_cast<int32_t>(speed_.Convert(item->speed));
  SendCommand(FormatString("%s%s=%d", kPtz, kFocus, s * sign), result);
}

void CElmoPTZComm::ProcessUnzoomCommand(CPTZItem* item, CResultDef& result) {
  if (!CheckType(item, CPTZItem::Unzoom, ZEPHRIN_FUNCTION, result)) return;
  SendCommand(FormatString("%s%s", kPtz, kUnzoom), result);
  if (result.Succeeded()) SetManualFocus(item->params, false, result);
}

void CElmoPTZComm::SetManualFocus(IIPParams* params, bool manual, CResultDef& result) {
  if (!params) {
    result.SetResultEx(LogDebug, CResultDef::kInvalidInput, "%s: Cannot set manual focus value. IIPParams is NULL",
                       ZEPHRIN_FUNCTION);
    return;
  }
  if (params->GetManualFocus() == manual && !autofocusUnknown_) return;
  if (Capabilities().focus) SendCommand(FormatString("%s%s=%s", kPtz, kAutofocus, manual ? "off" : "on"), result);
  if (!result.Succeeded()) return;
  params->SetManualFocus(manual);
  autofocusUnknown_ = false;
}

bool CElmoPTZComm::StorePreposition(uint32_t slot, const std::string& name) {
  (void)name;
  const char* function = "norvale::CElmoPTZComm::SendCommand_SetPreposition";
  const std::string request = FormatString("%s%s=%u", kPtzConfig, kStorePreset, slot + 1);
  std::vector<uint8_t> body;
  CResultDef result;
  if (!presetSender_ || closing_) return false;
  result = HUtils::RequestGetRD(body, *presetSender_, request, true);
  if (result.Succeeded()) {
    const std::string text(body.begin(), body.end());
    if (text.empty())
      result.SetResultEx(LogError, CResultDef::kCameraRefused, "%s: Empty response from device %s for \"%s\" request",
                         function, GetDeviceName().c_str(), request.c_str());
    else if (text.find("OK") == std::string::npos)
      result.SetResultEx(LogError, CResultDef::kCameraRefused, "%s: Cannot add preposition for device %s. Reason: %s",
                         function, GetDeviceName().c_str(), ForLog(text).c_str());
  }
  result.Report(DeviceDriver());
  return result.Succeeded();
}

bool CElmoPTZComm::GotoPreposition(uint32_t slot, const std::string& name, int32_t value) {
  (void)name;
  (void)value;
  if (!presetSender_ || closing_) return false;
  const CResultDef result = HUtils::RequestGetRD(*presetSender_, FormatString("%s%s=%u", kPtz, kGotoPreset, slot + 1));
  result.Report(DeviceDriver());
  return result.Succeeded();
}

bool CElmoPTZComm::RemovePreposition(uint32_t slot, const std::string& name) {
  (void)name;
  if (!presetSender_ || closing_) return false;
  const CResultDef result =
      HUtils::RequestGetRD(*presetSender_, FormatString("%s%s=%u", kPtzConfig, kRemovePreset, slot + 1));
  result.Report(DeviceDriver());
  return result.Succeeded();
}

}  // namespace norvale
