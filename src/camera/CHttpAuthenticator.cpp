#include "camera/CHttpAuthenticator.h"

#include "platform/Platform.h"
#include "runtime/Base64.h"
#include "runtime/StringUtils.h"

namespace Web {

namespace {

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
      const std::string algorithm = norvale::ToLower(c.Param("algorithm"));
      const std::string qop = c.Param("qop");
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
    auto get = [&](const char* name) { return digest->Param(name); };
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
    case Scheme::None:
      return {};
    case Scheme::Basic:
      return "Basic " + norvale::Base64Encode(user_ + ":" + password_);
    case Scheme::Digest:
      break;
  }
  const std::string nc = Hex8(++nonceCount_);
  const std::string cnonce = Hex8(norvale::platform::Random32()) + Hex8(norvale::platform::Random32());
  norvale::DigestInput input{user_, realm_, password_, nonce_, method, target, session_, qopAuth_ ? "auth" : "",
                             nc,    cnonce};
  const std::string response = norvale::DigestResponse(input);
  std::string header = "Digest username=" + Quote(user_) + ", realm=" + Quote(realm_) + ", nonce=" + Quote(nonce_) +
                       ", uri=" + Quote(target) + ", algorithm=" + (session_ ? "MD5-sess" : "MD5") +
                       ", response=" + Quote(response);
  if (!opaque_.empty()) header += ", opaque=" + Quote(opaque_);
  if (qopAuth_) header += ", qop=auth, nc=" + nc + ", cnonce=" + Quote(cnonce);
  return header;
}

}  // namespace Web
