#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/DigestAuth.h"

namespace Web {

using HttpChallenge = norvale::AuthChallenge;
using norvale::ParseChallenges;

// Answers a camera's login challenge with the device's user name and password: Basic, or Digest with
// MD5 or MD5-sess and with qop "auth" or without qop. Once a challenge has been met, later requests
// carry the answer from the start (Digest counting its nonce uses), so that polling needs no extra
// round trip.
class CHttpAuthenticator {
 public:
  CHttpAuthenticator(const std::string& user, const std::string& password);

  bool HasCredentials() const { return !user_.empty() || !password_.empty(); }
  // Takes the WWW-Authenticate values of a 401 answer; false when none of them can be answered.
  bool Challenge(const std::vector<std::string>& values);
  // The Authorization header value for a request, empty before any challenge was taken.
  std::string Authorization(const std::string& method, const std::string& target);
  // The nonce of the current Digest challenge (empty for Basic).
  const std::string& Nonce() const { return nonce_; }
  // The current challenge said that the previous nonce had expired.
  bool IsStale() const { return stale_; }

 private:
  enum class Scheme { None, Basic, Digest };
  std::string user_;
  std::string password_;
  Scheme scheme_ = Scheme::None;
  std::string realm_;
  std::string nonce_;
  std::string opaque_;
  bool session_ = false;  // MD5-sess
  bool qopAuth_ = false;
  bool stale_ = false;
  uint32_t nonceCount_ = 0;
};

}  // namespace Web
