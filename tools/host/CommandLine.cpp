#include "CommandLine.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace zephrin::host {

bool CommandLine::Next() {
  if (next_ >= args_.size()) return false;
  option_ = args_[next_++];
  value_.clear();
  return true;
}

bool CommandLine::NextOption() {
  if (next_ >= args_.size() || args_[next_].rfind("--", 0) != 0) return false;
  return Next();
}

bool CommandLine::Value(std::string* value) {
  if (next_ >= args_.size()) return Fail("%s needs a value", option_.c_str());
  value_ = args_[next_++];
  *value = value_;
  return true;
}

bool CommandLine::Number(uint32_t low, uint32_t high, uint32_t* number) {
  std::string text;
  if (!Value(&text)) return false;
  if (ParseNumber(text, low, high, number)) return true;
  return Fail("%s needs a number from %u to %u, not '%s'", option_.c_str(), low, high, text.c_str());
}

bool CommandLine::Invalid(const char* what) {
  return Fail("%s needs %s, not '%s'", option_.c_str(), what, value_.c_str());
}

bool CommandLine::Unknown() { return Fail("unknown option '%s'", option_.c_str()); }

bool CommandLine::Fail(const char* format, ...) {
  std::fprintf(stderr, "zephrin-host %s: ", command_);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
  return false;
}

void CommandLine::Note(const char* text) { std::fprintf(stderr, "zephrin-host %s: note: %s\n", command_, text); }

Arguments CommandLine::Rest() const {
  return Arguments(args_.begin() + static_cast<std::ptrdiff_t>(next_), args_.end());
}

bool CommandLine::ParseNumber(const std::string& text, uint32_t low, uint32_t high, uint32_t* number) {
  if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const unsigned long long parsed = std::strtoull(text.c_str(), nullptr, 10);
  if (parsed < low || parsed > high) return false;
  *number = static_cast<uint32_t>(parsed);
  return true;
}

}  // namespace zephrin::host
