#include "camera/CElmoDigitalIO.h"

#include "camera/HUtils.h"
#include "camera/HttpSender.h"
#include "runtime/StringUtils.h"

namespace norvale {

namespace {
std::unique_ptr<Web::CBaseHttpSender> SenderFor(IDriver* driver) {
  DEVICE_INFO device;
  if (driver && driver->GetDeviceInfo()) device.CopyFrom(*driver->GetDeviceInfo());
  return Web::CreateHttpSender(device);
}
}  // namespace

CElmoDigitalIO::CElmoDigitalIO(IDriver* driver) : CElmoDigitalIO(driver, SenderFor(driver), SenderFor(driver)) {}

CElmoDigitalIO::CElmoDigitalIO(IDriver* driver, std::unique_ptr<Web::CBaseHttpSender> inputSender,
                               std::unique_ptr<Web::CBaseHttpSender> outputSender)
    : CIOBase(driver), inputSender_(std::move(inputSender)), outputSender_(std::move(outputSender)) {}

CElmoDigitalIO::~CElmoDigitalIO() { StopWorkers(); }

void CElmoDigitalIO::OnStartIO() {
  RecursiveLockGuard guard(lock_);
  lastInputError_.clear();
  lastOutputError_.clear();
}

void CElmoDigitalIO::OnStopIO() {
  // A poll or command blocked on the camera returns at once.
  if (inputSender_) inputSender_->CloseRequest();
  if (outputSender_) outputSender_->CloseRequest();
}

void CElmoDigitalIO::ReportOnce(const CResultDef& result, std::string& lastLogged) {
  RecursiveLockGuard guard(lock_);
  if (result.Message().empty() || result.Message() == lastLogged) return;
  lastLogged = result.Message();
  result.Report(Driver());
}

bool CElmoDigitalIO::SetCameraOutput(uint32_t index, uint32_t state) {
  if (state != IOStateInactive && state != IOStateActive) return true;
  const std::string path =
      FormatString("/cgi-bin/io/output.cgi?action=%u:", index + 1) + (state == IOStateInactive ? "\\" : "/");
  CResultDef result;
  if (!OutputStopRequested() && outputSender_) result = HUtils::RequestGetRD(*outputSender_, path);
  if (!result.Succeeded()) {
    ReportOnce(result, lastOutputError_);
    return false;
  }
  RecursiveLockGuard guard(lock_);
  lastOutputError_.clear();
  return true;
}

bool CElmoDigitalIO::ReadCameraInputs(uint32_t count) {
  if (!inputSender_) return false;
  for (uint32_t i = 0; i < count && !InputStopRequested(); ++i) {
    std::vector<uint8_t> body;
    const CResultDef result =
        HUtils::RequestGetRD(body, *inputSender_, FormatString("/cgi-bin/io/input.cgi?check=%u", i + 1), true);
    if (!result.Succeeded()) {
      ReportOnce(result, lastInputError_);
      return false;
    }
    if (body.empty()) return false;
    const std::string answer(body.begin(), body.end());
    const std::string key = FormatString("Input%u=", i + 1);
    const size_t at = answer.find(key);
    uint32_t state = IOStateUndetermined;
    if (at != std::string::npos && at + key.size() < answer.size()) {
      const char c = answer[at + key.size()];
      state = c == '0' ? IOStateInactive : c == '1' ? IOStateActive : IOStateUndetermined;
    }
    RecordInputState(i, state);
  }
  RecursiveLockGuard guard(lock_);
  lastInputError_.clear();
  return true;
}

}  // namespace norvale
