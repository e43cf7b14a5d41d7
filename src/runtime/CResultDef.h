#pragma once
#include <cstdint>
#include <string>

#include "runtime/IDriver.h"

namespace norvale {

// The outcome of an operation the host may need to read: level, code (0 = success) and message.
class CResultDef {
 public:
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
