#include "ptz/CBasePTZHandler.h"

#include <memory>
#include <new>

#include "platform/Guard.h"
#include "runtime/CResultDef.h"
#include "runtime/FunctionName.h"
#include "runtime/StringUtils.h"

namespace norvale {

CBasePTZHandler::CBasePTZHandler(IDriver* driver, uint32_t channelCount, const std::string& storageRoot)
    : driver_(driver), channelCount_(channelCount), storageRoot_(storageRoot) {}

CBasePTZHandler::~CBasePTZHandler() {
  ReleaseControls();
  reader_.Release();
}

void CBasePTZHandler::ReleaseControls() {
  RecursiveLockGuard guard(lock_);
  for (auto& [channel, control] : controls_) delete control;
  controls_.clear();
}

bool CBasePTZHandler::InitializeXMLStorage() {
  RecursiveLockGuard guard(lock_);
  CResultDef result;
  const FunctionName function(__PRETTY_FUNCTION__);
  const std::string fileName = GetXMLStorageFileName();
  if (fileName.empty()) {
    result.SetResultEx(LogError, CResultDef::kInvalidInput,
                       "%s: PTZ module cannot be initialized! Name of file for preset storing was not defined",
                       function.c_str());
  } else {
    reader_ = TSmartPtr<CXMLPrepositionReader>(new (std::nothrow) CXMLPrepositionReader(storageRoot_, driver_));
    if (!reader_) {
      result.SetResultEx(LogError, CResultDef::kOutOfMemory,
                         "%s: not enough memory for creating CXMLPrepositionReader object", function.c_str());
    } else {
      if (driver_) reader_->SetBaseDirectory(driver_->GetHostDirectory());
      if (!reader_->Init(fileName))
        result.SetResultEx(LogError, CResultDef::kInitFailed,
                           "%s: cannot initialize CXMLPrepositionReader object with parameter \"%s\"", function.c_str(),
                           ForLog(fileName).c_str());
    }
  }
  result.Report(driver_);
  return result.Succeeded();
}

ipcapture::IIPPTZApiEx* CBasePTZHandler::GetPTZApiEx(uint32_t channel) {
  try {
    // Setting a control up logs (the host's log sink may block) and talks to the camera: another
    // request waits for that at most the stop limit.
    TimedLockGuard guard(lock_, StopLimit(driver_));
    if (!guard.Owns() || channel >= channelCount_) return nullptr;
    if (auto it = controls_.find(channel); it != controls_.end()) return it->second;
    if (storageRoot_.empty()) return nullptr;
    if (!reader_ && !InitializeXMLStorage()) return nullptr;
    std::unique_ptr<CBasePTZControl> control(CreateControl(channel));
    if (!control || !control->Open(reader_)) return nullptr;
    controls_[channel] = control.get();
    return control.release();
  }
  ZEPHRIN_RETHROW_CANCELLATION catch (...) {
    return nullptr;  // nothing crosses the host interface
  }
}

}  // namespace norvale
