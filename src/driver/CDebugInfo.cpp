#include "driver/CDebugInfo.h"

#include <cstring>

namespace norvale {

CDebugInfo::CDebugInfo(uint8_t level, const std::string& text) : level_(level) {
  if (text.empty()) return;
  text_ = std::make_unique<char[]>(text.size() + 1);
  std::memcpy(text_.get(), text.c_str(), text.size() + 1);
}

CDebugInfo::~CDebugInfo() = default;

}  // namespace norvale
