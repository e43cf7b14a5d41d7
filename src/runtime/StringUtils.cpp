#include "runtime/StringUtils.h"

#include <cctype>
#include <cstdio>

#include "platform/Guard.h"
#include "platform/Platform.h"
#include "runtime/Base64.h"

#include <algorithm>

namespace norvale {

bool FormatStringV(std::string& out, const char* format, va_list args) {
  out.clear();
  if (!format) return false;
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length < 0) return false;
  std::string buffer(static_cast<size_t>(length) + 1, '\0');
  if (std::vsnprintf(buffer.data(), buffer.size(), format, args) < 0) return false;
  buffer.resize(static_cast<size_t>(length));
  out.swap(buffer);
  return true;
}

std::string FormatString(const char* format, ...) {
  std::string out;
  try {
    va_list args;
    va_start(args, format);
    FormatStringV(out, format, args);
    va_end(args);
  }
  ZEPHRIN_RETHROW_CANCELLATION catch (...) { out.clear(); }
  return out;
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

std::string RemoveChars(const std::string& text, const std::string& chars) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (chars.find(c) == std::string::npos) out += c;
  return out;
}

std::string ForLog(const std::string& text, size_t maxBytes) {
  static const char kHex[] = "0123456789ABCDEF";
  const size_t used = std::min(text.size(), maxBytes);
  std::string out;
  out.reserve(used + 8);
  for (size_t i = 0; i < used; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c >= 0x7F) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += static_cast<char>(c);
    }
  }
  if (used < text.size()) out += "...";
  return out;
}

std::string ToLower(const std::string& text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool ParseInt(const std::string& text, int32_t* value) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  if (i == text.size()) return false;
  for (size_t j = i; j < text.size(); ++j)
    if (text[j] < '0' || text[j] > '9') return false;
  int parsed = 0;
  if (std::sscanf(text.c_str(), "%d", &parsed) != 1) return false;
  if (value) *value = parsed;
  return true;
}

std::string FindParamValue(const std::string& key, const std::string& separator, const std::string& text,
                           const std::string& delimiters) {
  if (key.empty() || separator.empty() || delimiters.empty()) return {};
  size_t pos = text.find(key);
  while (pos != std::string::npos) {
    const size_t lineStart = text.find_last_of(delimiters, pos);  // at or before the occurrence
    const size_t nameStart = lineStart == std::string::npos ? 0 : lineStart + 1;
    const size_t lineEnd = text.find_first_of(delimiters, pos);
    const size_t sep = text.find(separator, pos);
    if (sep == std::string::npos) return {};
    size_t next = sep;
    if (sep < lineEnd) {
      if (nameStart <= sep && Trim(text.substr(nameStart, sep - nameStart)) == key) {
        const size_t valueStart = sep + separator.size();
        const size_t valueEnd = text.find_first_of(delimiters, valueStart);
        std::string value =
            text.substr(valueStart, valueEnd == std::string::npos ? std::string::npos : valueEnd - valueStart);
        if (!value.empty()) return value;  // an empty value lets the search go on
      }
      next = lineEnd;
    }
    if (next == std::string::npos) break;
    pos = text.find(key, next > pos ? next : pos + 1);
  }
  return {};
}

uint32_t ToUnsigned(const std::string& text) {
  if (text.empty()) return 0;
  uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10u + static_cast<uint32_t>(c - '0');
  }
  return value;
}

uint16_t ToUnsigned16(const std::string& text) { return static_cast<uint16_t>(ToUnsigned(text)); }

uint32_t FindIntValue(const std::string& key, const std::string& separator, const std::string& text,
                      const std::string& delimiters) {
  return ToUnsigned(FindParamValue(key, separator, text, delimiters));
}

std::vector<std::string> FindListValue(const std::string& key, const std::string& separator, const std::string& text,
                                       const std::string& listSeparator, const std::string& delimiters) {
  std::vector<std::string> items;
  for (auto& item : Split(FindParamValue(key, separator, text, delimiters), listSeparator))
    if (!item.empty()) items.push_back(std::move(item));
  return items;
}

std::vector<std::string> Split(const std::string& text, const std::string& delimiter) {
  std::vector<std::string> parts;
  if (delimiter.empty()) {
    parts.push_back(text);
    return parts;
  }
  size_t start = 0;
  for (size_t pos = text.find(delimiter); pos != std::string::npos; pos = text.find(delimiter, start)) {
    parts.push_back(text.substr(start, pos - start));
    start = pos + delimiter.size();
  }
  parts.push_back(text.substr(start));
  return parts;
}

std::string Join(const std::vector<std::string>& items, const std::string& separator) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) out += separator;
    out += items[i];
  }
  return out;
}

namespace {
uint8_t HexDigit(char c) {
  if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
  return 0;
}
}  // namespace

std::vector<uint8_t> HexToBytes(const std::string& hex) {
  std::vector<uint8_t> bytes;
  bytes.reserve(hex.size() / 2 + 1);
  size_t i = 0;
  for (; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<uint8_t>(HexDigit(hex[i]) << 4 | HexDigit(hex[i + 1])));
  if (i < hex.size()) bytes.push_back(HexDigit(hex[i]));
  return bytes;
}

uint32_t PeriodFromRate(uint32_t rate) { return rate == 0 ? 1u : (1000u + rate / 2) / rate; }

bool BasicCredentials(const std::string& user, const std::string& password, std::string* encoded) {
  if (encoded) encoded->clear();
  char plain[100];
  const int length = std::snprintf(plain, sizeof plain, "%s:%s", user.c_str(), password.c_str());
  if (length < 0) return false;
  // Input longer than the formatting buffer is not supported; it is cut there.
  const size_t used = std::min(static_cast<size_t>(length), sizeof plain - 1);
  const std::string token = Base64Encode(reinterpret_cast<const uint8_t*>(plain), used);
  if (token.size() >= 100) return false;  // the token and its terminator share 100 bytes
  if (encoded) *encoded = token;
  return true;
}

uint32_t ResolveHost(const std::string& host) { return platform::ResolveIPv4(host.c_str()); }

std::u16string Widen(const std::string& text) {
  std::u16string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    uint32_t cp = 0xFFFD;
    size_t extra = 0;
    if (c < 0x80)
      cp = c;
    else if ((c >> 5) == 0x6) {
      cp = c & 0x1F;
      extra = 1;
    } else if ((c >> 4) == 0xE) {
      cp = c & 0x0F;
      extra = 2;
    } else if ((c >> 3) == 0x1E) {
      cp = c & 0x07;
      extra = 3;
    }
    size_t j = 1;
    for (; j <= extra && i + j < text.size(); ++j) {
      const auto cc = static_cast<unsigned char>(text[i + j]);
      if ((cc >> 6) != 0x2) break;
      cp = cp << 6 | (cc & 0x3F);
    }
    // Over-long forms are refused: they would smuggle characters such as "/" past checks.
    static constexpr uint32_t kSmallest[4] = {0, 0x80, 0x800, 0x10000};
    if (j != extra + 1 || cp < kSmallest[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      cp = 0xFFFD;
      j = 1;
    }
    i += j;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string Narrow(const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | cp >> 6);
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | cp >> 12);
      out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | cp >> 18);
      out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

}  // namespace norvale
