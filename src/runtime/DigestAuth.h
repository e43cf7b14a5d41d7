#pragma once
#include <map>
#include <string>
#include <vector>

namespace norvale {

// One challenge of a WWW-Authenticate value: the scheme as sent and its parameters (names in lower
// case, quoted values unescaped).
struct AuthChallenge {
  std::string scheme;
  std::map<std::string, std::string> params;

  // The value of a parameter, empty when the challenge has none.
  std::string Param(const std::string& name) const;
};

// The challenges of one WWW-Authenticate value ("Basic realm=..." or "Digest realm=..., nonce=...",
// or several of them separated by commas). Any text is accepted; what cannot be read is skipped.
std::vector<AuthChallenge> ParseChallenges(const std::string& value);

// What a Digest answer is computed from. With qop empty the answer is the plain MD5 form, without
// nonce count and client nonce; qop "auth" takes both into the response.
struct DigestInput {
  std::string user;
  std::string realm;
  std::string password;
  std::string nonce;
  std::string method;  // the request line's method name
  std::string uri;
  bool session = false;  // MD5-sess: HA1 also covers the nonce and the client nonce
  std::string qop;       // empty or "auth"
  std::string nc;        // nonce count, 8 hexadecimal digits
  std::string cnonce;
};

// The request-digest of a Digest Authorization header: 32 lower-case hexadecimal digits.
std::string DigestResponse(const DigestInput& input);

}  // namespace norvale
