#pragma once
// Digital I/O of the camera family through its I/O CGI: inputs are read one by one with
// "/cgi-bin/io/input.cgi?check=<n>", outputs switched with "/cgi-bin/io/output.cgi?action=<n>:".
#include <memory>
#include <string>

#include "camera/CBaseHttpSender.h"
#include "camera/CIOBase.h"
#include "runtime/CResultDef.h"
#include "runtime/RecursiveLock.h"

namespace norvale {

class CElmoDigitalIO : public CIOBase {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(CElmoDigitalIO);
  explicit CElmoDigitalIO(IDriver* driver);
  // With senders of the caller's choice (another transport, or a scripted camera).
  CElmoDigitalIO(IDriver* driver, std::unique_ptr<Web::CBaseHttpSender> inputSender,
                 std::unique_ptr<Web::CBaseHttpSender> outputSender);
  virtual ~CElmoDigitalIO();

 protected:
  bool SetCameraOutput(uint32_t index, uint32_t state) override;
  bool ReadCameraInputs(uint32_t count) override;
  void OnStartIO() override;
  void OnStopIO() override;

 private:
  // Logs a failed request unless its message is the one logged last on that path.
  void ReportOnce(const CResultDef& result, std::string& lastLogged);

  std::unique_ptr<Web::CBaseHttpSender> inputSender_;
  std::unique_ptr<Web::CBaseHttpSender> outputSender_;
  RecursiveLock lock_;
  std::string lastInputError_;
  std::string lastOutputError_;
};

}  // namespace norvale
