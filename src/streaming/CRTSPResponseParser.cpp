#include "streaming/CRTSPResponseParser.h"

#include <cctype>
#include <climits>
#include <cstdlib>

#include "platform/Guard.h"
#include "platform/Socket.h"
#include "runtime/DigestAuth.h"
#include "runtime/StringUtils.h"
#include "streaming/CSDPResponseParser.h"

namespace norvale {

namespace {

// Reads the line at pos: it ends at the first CR or LF, and the next line starts two characters
// later (a CR LF pair). Without a CR or LF the line is empty and pos becomes npos.
std::string ReadLine(const std::string& text, size_t& pos) {
  if (pos == std::string::npos || pos >= text.size()) {
    pos = std::string::npos;
    return {};
  }
  const size_t end = text.find_first_of("\r\n", pos);
  if (end == std::string::npos) {
    pos = std::string::npos;
    return {};
  }
  std::string line = text.substr(pos, end - pos);
  pos = end + 2;
  return line;
}

// An unsigned decimal number as a scanf "%u"/"%lu" reads it: leading white space, an optional sign,
// at least one digit. Out-of-range values saturate as strtoul does.
bool ScanUnsigned(const char* text, unsigned long* value) {
  char* end = nullptr;
  const unsigned long parsed = std::strtoul(text, &end, 10);
  if (end == text) return false;
  // strtoul also succeeds on "+" or "-" followed by nothing; require a digit.
  bool digit = false;
  for (const char* p = text; p < end; ++p) digit = digit || std::isdigit(static_cast<unsigned char>(*p));
  if (!digit) return false;
  *value = parsed;
  return true;
}

// The text after a literal prefix, when the text begins with it.
const char* AfterPrefix(const std::string& text, const char* prefix) {
  const std::string p(prefix);
  return text.compare(0, p.size(), p) == 0 ? text.c_str() + p.size() : nullptr;
}

// Leading decimal digits as atoi reads them, clamped to the 32-bit range.
int32_t LeadingInteger(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > INT32_MAX) {
      value = INT32_MAX;
      break;
    }
  }
  return static_cast<int32_t>(negative ? -value : value);
}

// A dotted IPv4 address, four decimal numbers of at most three digits up to 255 and nothing else,
// in network order; 0 for any other text.
uint32_t DottedIPv4(const std::string& text) {
  uint8_t bytes[4] = {};
  size_t pos = 0;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      if (pos >= text.size() || text[pos] != '.') return 0;
      ++pos;
    }
    unsigned value = 0;
    size_t digits = 0;
    for (; pos < text.size() && digits < 4 && text[pos] >= '0' && text[pos] <= '9'; ++pos, ++digits)
      value = value * 10 + static_cast<unsigned>(text[pos] - '0');
    if (digits == 0 || digits > 3 || value > 255) return 0;
    bytes[i] = static_cast<uint8_t>(value);
  }
  if (pos != text.size()) return 0;
  return platform::IPv4Address(bytes[0], bytes[1], bytes[2], bytes[3]);
}

}  // namespace

void CRTSPResponseParser::Reset() {
  description_.Clear();
  version_.clear();
  status_ = 0;
  cseq_ = 0;
  contentBase_.clear();
  contentType_.clear();
  contentLength_ = 0;
  sessionId_.clear();
  sessionTimeout_ = 0;
  challengeScheme_ = AuthScheme::None;
  realm_.clear();
  nonce_.clear();
  stale_ = false;
  offersGetParameter_ = false;
  transportSource_ = 0;
}

bool CRTSPResponseParser::ParseResponse(const std::string& text, RTSPMethod method) {
  try {
    return Parse(text, method);
  }
  ZEPHRIN_RETHROW_CANCELLATION catch (...) {
    return false;  // out of memory: the response is not usable
  }
}

bool CRTSPResponseParser::Parse(const std::string& text, RTSPMethod method) {
  size_t pos = 0;
  const std::string statusLine = ReadLine(text, pos);
  if (statusLine.empty()) return false;

  // "%127s %u": a token of at most 127 characters, then a number.
  const char* p = statusLine.c_str();
  while (*p && std::isspace(static_cast<unsigned char>(*p))) ++p;
  const char* tokenStart = p;
  while (*p && !std::isspace(static_cast<unsigned char>(*p)) && p - tokenStart < 127) ++p;
  if (p == tokenStart) return false;
  unsigned long status = 0;
  if (!ScanUnsigned(p, &status)) return false;
  version_.assign(tokenStart, p);
  status_ = static_cast<uint32_t>(status);
  contentLength_ = 0;
  stale_ = false;

  if (status_ != 200 && status_ != 401) return false;

  for (;;) {
    const std::string line = ReadLine(text, pos);
    if (line.empty()) break;
    if (!ApplyHeader(line)) return false;
  }

  if (contentLength_ != 0 && pos == std::string::npos) return false;
  std::string body;
  if (pos != std::string::npos && pos < text.size()) body = text.substr(pos, contentLength_);
  if (method == RTSPMethod::Describe) {
    CSDPResponseParser sdp;
    if (!sdp.Parse(body)) return false;
    description_ = sdp.Description();
  }
  return true;
}

bool CRTSPResponseParser::ApplyHeader(const std::string& line) {
  const size_t colon = line.find(':');
  if (colon == std::string::npos || colon < 2) return true;  // not a header we know
  const std::string name = ToLower(Trim(line.substr(0, colon)));
  const std::string lower = ToLower(line);
  unsigned long number = 0;

  if (name == "cseq") {
    const char* value = AfterPrefix(lower, "cseq:");
    if (!value || !ScanUnsigned(value, &number)) return false;
    cseq_ = static_cast<uint32_t>(number);
    return true;
  }
  if (name == "content-length") {
    const char* value = AfterPrefix(lower, "content-length:");
    if (!value || !ScanUnsigned(value, &number)) return false;
    contentLength_ = static_cast<uint32_t>(number);
    return true;
  }
  if (name == "content-type") {
    const char* value = AfterPrefix(lower, "content-type:");
    if (!value) return false;
    while (*value && std::isspace(static_cast<unsigned char>(*value))) ++value;
    const char* end = value;
    while (*end && !std::isspace(static_cast<unsigned char>(*end)) && end - value < 255) ++end;
    if (end == value) return false;
    contentType_.assign(value, end);
    return true;
  }
  if (name == "content-base") return ApplyContentBase(line);
  if (name == "session") return ApplySession(line);
  if (name == "www-authenticate") return ApplyChallenge(line);
  if (name == "public") ApplyPublic(line);
  if (name == "transport") ApplyTransport(line);
  // Date, Range, RTP-Info, Server, Accept-Ranges, RTCP-Interval and unknown headers.
  return true;
}

bool CRTSPResponseParser::ApplyContentBase(const std::string& line) {
  static const std::string kName = "Content-Base:";
  const size_t at = line.find(kName);
  if (at == std::string::npos) {
    contentBase_.clear();
    return false;
  }
  const size_t url = line.find("rtsp://", at + kName.size());
  if (url != std::string::npos) contentBase_ = Trim(line.substr(url));
  return true;
}

void CRTSPResponseParser::ApplyPublic(const std::string& line) {
  offersGetParameter_ = false;
  for (const std::string& method : Split(line.substr(line.find(':') + 1), ","))
    if (ToLower(Trim(method)) == "get_parameter") offersGetParameter_ = true;
}

void CRTSPResponseParser::ApplyTransport(const std::string& line) {
  transportSource_ = 0;
  // The server's choice is the first transport of the list.
  const std::string value = line.substr(line.find(':') + 1);
  for (const std::string& parameter : Split(value.substr(0, value.find(',')), ";")) {
    const std::string item = Trim(parameter);
    if (item.size() > 7 && ToLower(item.substr(0, 7)) == "source=") transportSource_ = DottedIPv4(Trim(item.substr(7)));
  }
}

bool CRTSPResponseParser::ApplySession(const std::string& line) {
  sessionId_ = FindParamValue("Session:", " ", line, ";\r\n");
  if (line.find(';') != std::string::npos) {
    const std::string timeout = FindParamValue("timeout", "=", line, ";\r\n");
    if (timeout.empty()) {
      sessionId_.clear();
    } else {
      const int32_t seconds = LeadingInteger(timeout);
      sessionTimeout_ = seconds == 0 ? 30 : seconds;
    }
  }
  return !sessionId_.empty();
}

bool CRTSPResponseParser::ApplyChallenge(const std::string& line) {
  challengeScheme_ = AuthScheme::None;
  static const std::string kName = "WWW-Authenticate: ";
  const size_t at = line.find(kName);
  if (at == std::string::npos) return false;
  const size_t start = at + kName.size();
  const size_t blank = line.find_first_of(" \t\r\n", start);
  if (blank == std::string::npos) return false;
  const std::string token = line.substr(start, blank - start);
  AuthScheme scheme;
  if (token == "Digest")
    scheme = AuthScheme::Digest;
  else if (token == "Basic")
    scheme = AuthScheme::Basic;
  else
    return true;  // a scheme the client cannot answer

  // The parameters are read as the HTTP sender reads them; the line the client answers with quotes
  // realm and nonce without escapes, so a quote character inside them is dropped.
  const std::vector<AuthChallenge> challenges = ParseChallenges(line.substr(start));
  const AuthChallenge* challenge = challenges.empty() ? nullptr : &challenges.front();
  challengeScheme_ = scheme;
  realm_ = challenge ? RemoveChars(challenge->Param("realm"), "\"") : std::string();
  nonce_ = challenge ? RemoveChars(challenge->Param("nonce"), "\"") : std::string();
  stale_ = challenge && ToLower(Trim(challenge->Param("stale"))) == "true";
  if (scheme == AuthScheme::Digest) return !realm_.empty() && !nonce_.empty();
  return true;
}

}  // namespace norvale
