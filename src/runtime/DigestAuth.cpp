#include "runtime/DigestAuth.h"

#include "runtime/MD5.h"
#include "runtime/StringUtils.h"

namespace norvale {

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
}  // namespace

std::string AuthChallenge::Param(const std::string& name) const {
  const auto it = params.find(name);
  return it == params.end() ? std::string() : it->second;
}

std::vector<AuthChallenge> ParseChallenges(const std::string& text) {
  std::vector<AuthChallenge> challenges;
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    while (i < n && (IsBlank(text[i]) || text[i] == ',')) ++i;
    const size_t start = i;
    while (i < n && !IsBlank(text[i]) && text[i] != ',' && text[i] != '=') ++i;
    if (i == start) {  // a stray "=" or the like
      ++i;
      continue;
    }
    const std::string token = text.substr(start, i - start);
    size_t j = i;
    while (j < n && IsBlank(text[j])) ++j;
    if (j < n && text[j] == '=') {
      // name=value, the value a token or a quoted string; kept when a scheme came before it
      i = j + 1;
      while (i < n && IsBlank(text[i])) ++i;
      std::string value;
      if (i < n && text[i] == '"') {
        for (++i; i < n && text[i] != '"'; ++i) {
          if (text[i] == '\\' && i + 1 < n) ++i;
          value += text[i];
        }
        if (i < n) ++i;  // closing quote
      } else {
        const size_t valueStart = i;
        while (i < n && text[i] != ',') ++i;
        value = Trim(text.substr(valueStart, i - valueStart));
      }
      if (!challenges.empty()) challenges.back().params[ToLower(token)] = value;
    } else {
      challenges.push_back({token, {}});
    }
  }
  return challenges;
}

std::string DigestResponse(const DigestInput& in) {
  std::string ha1 = MD5::Hex(in.user + ":" + in.realm + ":" + in.password);
  if (in.session) ha1 = MD5::Hex(ha1 + ":" + in.nonce + ":" + in.cnonce);
  const std::string ha2 = MD5::Hex(in.method + ":" + in.uri);
  if (in.qop.empty()) return MD5::Hex(ha1 + ":" + in.nonce + ":" + ha2);
  return MD5::Hex(ha1 + ":" + in.nonce + ":" + in.nc + ":" + in.cnonce + ":" + in.qop + ":" + ha2);
}

}  // namespace norvale
