#include "camera/CHttpAuthenticator.h"

#include "platform/Platform.h"
#include "runtime/Base64.h"
#include "runtime/MD5.h"
#include "runtime/StringUtils.h"

namespace Web {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A quoted-string value with its backslash escapes restored. Control characters are dropped: they
// could end the header line.
std::string Quote(const std::string& value) {
  std::string out = "\"";
  for (char c : value) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) continue;
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string Hex8(uint32_t value) { return norvale::FormatString("%08x", value); }

}  // namespace

std::vector<HttpChallenge> ParseChallenges(const std::string& text) {
  std::vector<HttpChallenge> challenges;
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
        value = norvale::Trim(text.substr(valueStart, i - valueStart));
      }
      if (!challenges.empty()) challenges.back().params[norvale::ToLower(token)] = value;
    } else {
      challenges.push_back({token, {}});
    }
  }
  return challenges;
}

CHttpAuthenticator::CHttpAuthenticator(const std::string& user, const std::string& password)
    : user_(user), password_(password) {}

bool CHttpAuthenticator::Challenge(const std::vector<std::string>& values) {
  const HttpChallenge* digest = nullptr;
  const HttpChallenge* basic = nullptr;
  std::vector<HttpChallenge> all;
  for (const std::string& value : values)
    for (HttpChallenge& c : ParseChallenges(value)) all.push_back(std::move(c));
  for (const HttpChallenge& c : all) {
    const std::string scheme = norvale::ToLower(c.scheme);
    if (scheme == "digest" && !digest) {
      auto get = [&](const char* name) {
        auto it = c.params.find(name);
        return it == c.params.end() ? std::string() : it->second;
      };
      const std::string algorithm = norvale::ToLower(get("algorithm"));
      const std::string qop = get("qop");
      bool qopAuth = false;
      for (const std::string& option : norvale::Split(qop, ","))
        if (norvale::ToLower(norvale::Trim(option)) == "auth") qopAuth = true;
      // Only what can be answered: MD5 (plain or per session), qop "auth" when a qop is offered.
      if (c.params.count("nonce") && (algorithm.empty() || algorithm == "md5" || algorithm == "md5-sess") &&
          (qop.empty() || qopAuth))
        digest = &c;
    } else if (scheme == "basic" && !basic) {
      basic = &c;
    }
  }
  if (digest) {
    const std::string nonce = digest->params.at("nonce");
    auto get = [&](const char* name) {
      auto it = digest->params.find(name);
      return it == digest->params.end() ? std::string() : it->second;
    };
    scheme_ = Scheme::Digest;
    realm_ = get("realm");
    opaque_ = get("opaque");
    session_ = norvale::ToLower(get("algorithm")) == "md5-sess";
    qopAuth_ = !get("qop").empty();
    stale_ = norvale::ToLower(get("stale")) == "true";
    if (nonce != nonce_) nonceCount_ = 0;
    nonce_ = nonce;
    return true;
  }
  if (basic) {
    scheme_ = Scheme::Basic;
    realm_.clear();
    nonce_.clear();
    opaque_.clear();
    stale_ = false;
    return true;
  }
  return false;
}

std::string CHttpAuthenticator::Authorization(const std::string& method, const std::string& target) {
  switch (scheme_) {
    case Scheme::None: return {};
    case Scheme::Basic: return "Basic " + norvale::Base64Encode(user_ + ":" + password_);
    case Scheme::Digest: break;
  }
  const std::string nc = Hex8(++nonceCount_);
  const std::string cnonce = Hex8(norvale::platform::Random32()) + Hex8(norvale::platform::Random32());
  std::string ha1 = norvale::MD5::Hex(user_ + ":" + realm_ + ":" + password_);
  if (session_) ha1 = norvale::MD5::Hex(ha1 + ":" + nonce_ + ":" + cnonce);
  const std::string ha2 = norvale::MD5::Hex(method + ":" + target);
  const std::string response = qopAuth_ ? norvale::MD5::Hex(ha1 + ":" + nonce_ + ":" + nc + ":" + cnonce + ":auth:" + ha2)
                                        : norvale::MD5::Hex(ha1 + ":" + nonce_ + ":" + ha2);
  std::string header = "Digest username=" + Quote(user_) + ", realm=" + Quote(realm_) + ", nonce=" + Quote(nonce_) +
                       ", uri=" + Quote(target) + ", algorithm=" + (session_ ? "MD5-sess" : "MD5") +
                       ", response=" + Quote(response);
  if (!opaque_.empty()) header += ", opaque=" + Quote(opaque_);
  if (qopAuth_) header += ", qop=auth, nc=" + nc + ", cnonce=" + Quote(cnonce);
  return header;
}

}  // namespace Web
