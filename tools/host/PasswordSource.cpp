#include "PasswordSource.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace zephrin::host {

const char* const PasswordSource::kUsage =
    "  --password-file F  read the password from the first line of file F\n"
    "  --password P       the password itself (other users see it in the process list)\n"
    "                     Without either, the password is ZEPHRIN_PASSWORD from the environment,\n"
    "                     or admin when that is unset.\n";

bool PasswordSource::Take(const std::string& option, const std::string& value) {
  if (option == "--password") {
    static std::atomic<bool> warned{false};
    if (!warned.exchange(true))
      std::fprintf(stderr,
                   "zephrin-host: warning: --password shows the password to every user of this machine; "
                   "use --password-file FILE or ZEPHRIN_PASSWORD\n");
    from_ = From::Option;
  } else if (option == "--password-file") {
    from_ = From::File;
  } else {
    return false;
  }
  value_ = value;
  return true;
}

bool PasswordSource::Resolve(const std::string& fallback, std::string* password, std::string* error) const {
  switch (from_) {
    case From::Option:
      *password = value_;
      return true;
    case From::File: {
      std::ifstream in(value_, std::ios::binary);
      if (!in) {
        *error = "cannot read the password file " + value_ + ": " + std::strerror(errno);
        return false;
      }
      std::string line;
      std::getline(in, line);
      if (in.bad()) {
        *error = "cannot read the password file " + value_;
        return false;
      }
      if (!line.empty() && line.back() == '\r') line.pop_back();
      *password = line;
      return true;
    }
    case From::Nothing:
      break;
  }
  const char* environment = std::getenv("ZEPHRIN_PASSWORD");
  *password = environment ? environment : fallback;
  return true;
}

}  // namespace zephrin::host
