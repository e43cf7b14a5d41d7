#pragma once
#include <cstdint>
#include <string>

#include "runtime/IDriver.h"

namespace norvale {

// The outcome of an operation the host may need to read: level, code (0 = success) and message.
class CResultDef {
 public:
  // Codes the modules share; the camera request codes are in camera/HUtils.h.
  enum Code : int32_t {
    kSuccess = 0,
    kInitFailed = 1,           // a module's storage could not be set up
    kInvalidInput = 3,         // a command or value the module cannot act on
    kOutOfMemory = 6,          // an object could not be allocated
    kUnexpectedException = 7,  // an exception ended the operation
    kCameraRefused = 13,       // the camera answered, but not with the acceptance asked for
  };

  CResultDef() = default;
  virtual ~CResultDef() = default;
  CResultDef(const CResultDef&) = default;
  CResultDef& operator=(const CResultDef&) = default;

  // level := 1 (error).
  void SetResult(int32_t code, const std::string& message);
  void SetResultEx(int32_t level, int32_t code, const char* format, ...) NORVALE_PRINTF(4, 5);

  bool Succeeded() const { return code_ == 0; }
  int32_t Level() const { return level_; }
  int32_t Code() const { return code_; }
  const std::string& Message() const { return message_; }

  // Logs the message at the result's level unless it is empty or the level is 4.
  void Report(IDebugMessage* driver) const;

 private:
  int32_t level_ = 3;
  int32_t code_ = 0;
  std::string message_;
};

}  // namespace norvale
