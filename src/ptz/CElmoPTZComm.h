#pragma once
#include <atomic>
#include <memory>
#include <string>

#include "camera/CBaseHttpSender.h"
#include "ptz/CBasePTZComm.h"
#include "ptz/CScaleConverter.h"
#include "runtime/CResultDef.h"

namespace norvale {

// The camera family's PTZ protocol: queued commands become "/cgi-bin/com/ptz.cgi?" requests on the
// worker thread (command sender); presets are stored, recalled and removed on the caller's thread
// (preset sender), so the two threads never share a sender. Host speeds 1-16 become camera speeds
// 5-100. Automatic focus is switched off before a focus movement and on again after a move or unzoom.
class CElmoPTZComm : public CBasePTZComm {
 public:
  CElmoPTZComm(IDriver* driver, const CPtzCapabilities& capabilities, uint16_t channel);
  // With given senders (tests); each must be for this device.
  CElmoPTZComm(IDriver* driver, const CPtzCapabilities& capabilities, uint16_t channel,
               std::unique_ptr<Web::CBaseHttpSender> commandSender, std::unique_ptr<Web::CBaseHttpSender> presetSender);
  ~CElmoPTZComm() override;

  // Also abandons the requests the worker and a preset operation are waiting on, so a hanging camera
  // does not hold the stop; preset operations are refused from then on.
  bool Close() override;
  bool Open() override;

  bool StorePreposition(uint32_t slot, const std::string& name) override;
  bool GotoPreposition(uint32_t slot, const std::string& name, int32_t value) override;
  bool RemovePreposition(uint32_t slot, const std::string& name) override;

 protected:
  void HandleWorkItem(CPTZItem* item) override;

 private:
  void ProcessMoveCommand(CPTZItem* item, CResultDef& result);
  void ProcessStopCommand(CPTZItem* item, CResultDef& result);
  void ProcessFocusCommand(CPTZItem* item, CResultDef& result);
  void ProcessUnzoomCommand(CPTZItem* item, CResultDef& result);
  // Brings the camera's automatic focus in line with the wanted manual-focus state.
  void SetManualFocus(IIPParams* params, bool manual, CResultDef& result);
  void SendCommand(const std::string& request, CResultDef& result);
  bool CheckType(CPTZItem* item, int32_t type, const char* function, CResultDef& result);
  void UnexpectedSubtype(CPTZItem* item, const char* function, CResultDef& result);

  std::unique_ptr<Web::CBaseHttpSender> commandSender_;
  std::unique_ptr<Web::CBaseHttpSender> presetSender_;
  CScaleConverter speed_;
  bool autofocusUnknown_ = true;  // worker thread only
  std::atomic<bool> closing_{false};
};

}  // namespace norvale
