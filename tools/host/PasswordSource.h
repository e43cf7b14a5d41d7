#pragma once
// Where zephrin-host takes a camera's password from: --password-file FILE, the ZEPHRIN_PASSWORD
// environment variable, or --password (which every user of the machine can read in the process
// list, so it is warned about once).
#include <string>

namespace zephrin::host {

class PasswordSource {
 public:
  // The lines every command's --help shows for these options.
  static const char* const kUsage;

  // Takes --password or --password-file with its value; false when the option is neither. The last
  // of the two on the command line counts.
  bool Take(const std::string& option, const std::string& value);
  // The password: the option's, else ZEPHRIN_PASSWORD's, else fallback. False (with a message) when
  // the password file cannot be read.
  bool Resolve(const std::string& fallback, std::string* password, std::string* error) const;

 private:
  enum class From { Nothing, Option, File };
  From from_ = From::Nothing;
  std::string value_;
};

}  // namespace zephrin::host
