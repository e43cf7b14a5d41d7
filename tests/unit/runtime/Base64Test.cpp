// Base64 as used for Basic credentials and the parameter sets of an SDP answer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/Base64.h"

namespace norvale {
namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

TEST(Base64, Rfc4648TestVectors) {
  const std::pair<const char*, const char*> vectors[] = {{"", ""},
                                                         {"f", "Zg=="},
                                                         {"fo", "Zm8="},
                                                         {"foo", "Zm9v"},
                                                         {"foob", "Zm9vYg=="},
                                                         {"fooba", "Zm9vYmE="},
                                                         {"foobar", "Zm9vYmFy"}};
  for (const auto& [plain, encoded] : vectors) {
    EXPECT_EQ(encoded, Base64Encode(plain));
    EXPECT_EQ(Bytes(plain), Base64Decode(encoded)) << encoded;
  }
}

TEST(Base64, EveryByteValueRoundTripsInOneUnbrokenToken) {
  std::vector<uint8_t> all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
  const std::string token = Base64Encode(all.data(), all.size());
  EXPECT_EQ(344u, token.size());
  EXPECT_EQ(std::string::npos, token.find_first_of("\r\n -_"));
  EXPECT_EQ("AAECAwQFBgc", token.substr(0, 11));
  EXPECT_EQ("+/w==", token.substr(token.size() - 5)) << "standard alphabet: + and /";
  EXPECT_EQ(all, Base64Decode(token));
}

TEST(Base64, DecodeSkipsForeignCharactersAndStopsAtNul) {
  EXPECT_EQ(Bytes("foobar"), Base64Decode(" Zm9v\r\nYm Fy \t"));
  EXPECT_EQ(Bytes("foob"), Base64Decode("Zm9v-Yg_=="));  // the URL-safe letters are not the alphabet
  EXPECT_EQ(Bytes("foo"), Base64Decode(std::string("Zm9v\0YmFy", 9)));
  EXPECT_TRUE(Base64Decode("====").empty());
  EXPECT_TRUE(Base64Decode("Z").empty()) << "six bits are not a byte";
}

TEST(Base64, DecodeRefusesMoreThanTheLimit) {
  const std::vector<uint8_t> exact(256, 0x5A);
  const std::vector<uint8_t> over(257, 0x5A);
  EXPECT_EQ(exact, Base64Decode(Base64Encode(exact.data(), exact.size())));
  EXPECT_TRUE(Base64Decode(Base64Encode(over.data(), over.size())).empty());
  EXPECT_EQ(Bytes("foo"), Base64Decode("Zm9v", 3));
  EXPECT_TRUE(Base64Decode("Zm9vYg==", 3).empty());
}

}  // namespace
}  // namespace norvale
