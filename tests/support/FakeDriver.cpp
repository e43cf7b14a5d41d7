#include "support/FakeDriver.h"

#include <cstdarg>

#include "runtime/StringUtils.h"

namespace zephrin::test {

FakeDriver::FakeDriver() {
  deviceInfo.address = "127.0.0.1";
  deviceInfo.port = 80;
}

std::string FakeDriver::GetDeviceName() {
  return norvale::FormatString("%s:%hu", deviceInfo.address.c_str(), deviceInfo.port);
}

void FakeDriver::Log(uint8_t level, const char* format, ...) {
  std::string text;
  va_list args;
  va_start(args, format);
  norvale::FormatStringV(text, format, args);
  va_end(args);
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.push_back({level, text});
}

std::string FakeDriver::GetStringParam(int32_t key) {
  auto it = params.find(key);
  if (it == params.end() || it->second == "(none)") return {};
  return it->second;
}

int32_t FakeDriver::GetIntParam(int32_t key) {
  auto it = params.find(key);
  int32_t value = 0;
  if (it == params.end() || !norvale::ParseInt(it->second, &value)) return norvale::ParamNotSet;
  return value;
}

std::vector<LogLine> FakeDriver::Lines() {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

size_t FakeDriver::Count(const std::string& fragment) {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t n = 0;
  for (const auto& line : lines_)
    if (line.text.find(fragment) != std::string::npos) ++n;
  return n;
}

void FakeDriver::ClearLines() {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.clear();
}

}  // namespace zephrin::test
