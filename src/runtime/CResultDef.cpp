#include "runtime/CResultDef.h"

#include <cstdarg>

#include "platform/Guard.h"
#include "runtime/FunctionName.h"
#include "runtime/StringUtils.h"

namespace norvale {

void CResultDef::SetResult(int32_t code, const std::string& message) {
  level_ = LogError;
  code_ = code;
  message_ = message;
}

void CResultDef::SetResultEx(int32_t level, int32_t code, const char* format, ...) {
  level_ = level;
  code_ = code;
  message_.clear();
  if (!format) return;
  try {
    va_list args;
    va_start(args, format);
    bool ok = FormatStringV(message_, format, args);
    va_end(args);
    if (!ok) message_ = std::string(ZEPHRIN_FUNCTION) + ": Unexpected exception during string formatting.";
  }
  ZEPHRIN_RETHROW_CANCELLATION catch (...) {
    message_ = std::string(ZEPHRIN_FUNCTION) + ": Unexpected exception during string formatting.";
  }
}

void CResultDef::Report(IDebugMessage* driver) const {
  if (driver && !message_.empty() && level_ != LogDebug)
    driver->Log(static_cast<uint8_t>(level_), "%s", message_.c_str());
}

}  // namespace norvale
