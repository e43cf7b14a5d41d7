#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "host/HostInterfaces.h"

namespace norvale {

// One log record handed to the host's log sink. It owns a heap copy of the text and lives only for
// the duration of the sink call, so the host copies what it keeps.
class CDebugInfo : public CDebugInfoIf {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(CDebugInfo);
  CDebugInfo(uint8_t level, const std::string& text);
  virtual ~CDebugInfo();
  CDebugInfo(const CDebugInfo&) = delete;
  CDebugInfo& operator=(const CDebugInfo&) = delete;

  uint8_t GetLevel() const override { return level_; }
  const char* GetText() const override { return text_.get(); }

 private:
  uint8_t level_;
  std::unique_ptr<char[]> text_;  // null for an empty text
};

}  // namespace norvale
