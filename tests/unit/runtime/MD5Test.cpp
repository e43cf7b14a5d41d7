// MD5 digests, as Digest authentication computes them.
#include <gtest/gtest.h>

#include <string>

#include "runtime/MD5.h"

namespace norvale {
namespace {

std::string HexOf(const uint8_t digest[16]) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (int i = 0; i < 16; ++i) {
    out += kHex[digest[i] >> 4];
    out += kHex[digest[i] & 15];
  }
  return out;
}

TEST(MD5, Rfc1321TestSuite) {
  const std::pair<const char*, const char*> suite[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& [text, digest] : suite) EXPECT_EQ(digest, MD5::Hex(text)) << text;
}

TEST(MD5, PiecewiseUpdatesGiveTheSameDigestAcrossBlockBoundaries) {
  std::string text;
  for (int i = 0; i < 300; ++i) text += static_cast<char>('A' + i % 26);
  for (size_t length : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 128u, 300u}) {
    const std::string part = text.substr(0, length);
    for (size_t chunk : {1u, 7u, 64u}) {
      MD5 md5;
      for (size_t pos = 0; pos < part.size(); pos += chunk) md5.Update(part.substr(pos, chunk));
      uint8_t digest[16];
      md5.Final(digest);
      EXPECT_EQ(MD5::Hex(part), HexOf(digest)) << length << " in chunks of " << chunk;
    }
  }
}

TEST(MD5, DigestAuthenticationExample) {
  // The worked example of RFC 2617, section 3.5.
  const std::string ha1 = MD5::Hex("Mufasa:testrealm@host.com:Circle Of Life");
  const std::string ha2 = MD5::Hex("GET:/dir/index.html");
  EXPECT_EQ("6629fae49393a05397450978507c4ef1",
            MD5::Hex(ha1 + ":dcd98b7102dd2f0e8b11d0f600bfb0c093:00000001:0a4f113b:auth:" + ha2));
}

}  // namespace
}  // namespace norvale
