// WWW-Authenticate values come from the camera: any bytes must parse without a crash, and the
// answer built from them must stay one header line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "camera/CHttpAuthenticator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Web::ParseChallenges(text);
  Web::CHttpAuthenticator auth("user", "pass");
  if (auth.Challenge({text})) {
    const std::string header = auth.Authorization("GET", "/cgi-bin/admin/param.cgi?action=list");
    if (header.empty() || header.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) std::abort();
  }
  return 0;
}
