#pragma once
// Small text helpers shared by the HTTP, RTSP, SDP, configuration and PTZ code.
#include <cstdarg>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/IDriver.h"

namespace norvale {

// printf-style formatting into a new string; empty if the format cannot be formatted.
std::string FormatString(const char* format, ...) NORVALE_PRINTF(1, 2);
// Formats into out; false (out empty) if the format cannot be formatted.
bool FormatStringV(std::string& out, const char* format, va_list args) NORVALE_PRINTF(2, 0);

// Removes leading and trailing blanks and tabs.
std::string Trim(const std::string& text);
// Copy of text without any character that occurs in chars.
std::string RemoveChars(const std::string& text, const std::string& chars);
std::string ToLower(const std::string& text);
// Outside text (a camera's answer, reason phrase, header or name) made fit for one log line: bytes
// below 0x20 and from 0x7F up are written as \xNN, and text beyond maxBytes (of the input) is cut and
// marked with "...".
constexpr size_t kLogTextLimit = 200;
std::string ForLog(const std::string& text, size_t maxBytes = kLogTextLimit);
// Optional sign then decimal digits only; false for empty text, a lone sign or anything else.
bool ParseInt(const std::string& text, int32_t* value);

// In a multi-line text, the value of the line "key<separator>value"; the name before the separator,
// trimmed, must equal key exactly. Lines end at any character of delimiters. An empty value lets the search
// go on; empty if none matches, or if key, separator or delimiters is empty.
std::string FindParamValue(const std::string& key, const std::string& separator, const std::string& text,
                           const std::string& delimiters = "\r\n");
// Digits 0-9 only give their value (wrapping on overflow); empty or any other character gives 0.
uint32_t ToUnsigned(const std::string& text);
uint16_t ToUnsigned16(const std::string& text);
uint32_t FindIntValue(const std::string& key, const std::string& separator, const std::string& text,
                      const std::string& delimiters = "\r\n");
// The value split at listSeparator into its non-empty items.
std::vector<std::string> FindListValue(const std::string& key, const std::string& separator, const std::string& text,
                                       const std::string& listSeparator, const std::string& delimiters = "\r\n");

std::vector<std::string> Split(const std::string& text, const std::string& delimiter);
std::string Join(const std::vector<std::string>& items, const std::string& separator);

// Pairs of hex digits to bytes; a non-hex character counts as 0; an odd last digit is a byte of its own.
std::vector<uint8_t> HexToBytes(const std::string& hex);
// Milliseconds per item: 1000 / rate rounded to nearest; 1 for a rate of 0.
uint32_t PeriodFromRate(uint32_t rate);

// Base64 of "user:password" for a Basic Authorization line; false (and empty) when it does not fit
// 100 characters.
bool BasicCredentials(const std::string& user, const std::string& password, std::string* encoded);

// First IPv4 address of a host name (network byte order); 0 for an empty name or a failure.
uint32_t ResolveHost(const std::string& host);

std::u16string Widen(const std::string& text);
std::string Narrow(const std::u16string& text);

}  // namespace norvale
