#pragma once
// The options of one zephrin-host command, read in order, with one set of error texts for all
// commands: "zephrin-host COMMAND: --OPTION needs ..." on stderr.
#include <cstdint>
#include <string>

#include "Commands.h"

namespace zephrin::host {

class CommandLine {
 public:
  CommandLine(const char* command, const Arguments& args) : command_(command), args_(args) {}

  // Moves to the next argument; false after the last.
  bool Next();
  // Moves to the next argument when it is an option ("--..."); false at the end or at a word, which
  // is left for Rest().
  bool NextOption();
  const std::string& Option() const { return option_; }
  bool Is(const char* name) const { return option_ == name; }

  // The current option's value (the next argument); false, with a message, when there is none.
  bool Value(std::string* value);
  // The value as a whole number from low to high; false, with a message, when it is not one.
  bool Number(uint32_t low, uint32_t high, uint32_t* number);
  // "OPTION needs WHAT, not 'VALUE'" for a value the command cannot use; always false.
  bool Invalid(const char* what);
  // "unknown option 'OPTION'"; always false.
  bool Unknown();
  // Any other message, after "zephrin-host COMMAND: "; always false.
  bool Fail(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // "zephrin-host COMMAND: note: TEXT", for a default the user may not expect.
  void Note(const char* text);

  // The arguments from the current word on (those after the last option).
  Arguments Rest() const;

  // A whole number from low to high written in decimal digits only.
  static bool ParseNumber(const std::string& text, uint32_t low, uint32_t high, uint32_t* number);

 private:
  const char* command_;
  const Arguments& args_;
  size_t next_ = 0;
  std::string option_;
  std::string value_;
};

}  // namespace zephrin::host
