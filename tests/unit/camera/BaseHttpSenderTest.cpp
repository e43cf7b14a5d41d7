// What every HTTP sender shares whatever carries its bytes: the login rounds of one request and the
// time limits drawn from the device's network time-out.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "camera/CBaseHttpSender.h"
#include "runtime/StringUtils.h"

namespace {

struct ScriptedAnswer {
  uint32_t status;  // 0: no answer came
  std::vector<std::string> challenges;
};

// A sender whose exchanges are answered from a script and recorded.
class ScriptedSender : public Web::CBaseHttpSender {
 public:
  ScriptedSender(const std::string& user, const std::string& password, int timeoutMs = 5000)
      : CBaseHttpSender(Device(user, password, timeoutMs)) {}

  using CBaseHttpSender::DeadlineMs;
  using CBaseHttpSender::TimeoutMs;

  std::vector<ScriptedAnswer> script;
  std::vector<std::string> authorizations;  // of every exchange, in order

  bool SendRequest(const Web::HttpRequest& request) override {
    statusCode_ = ExchangeWithLogin(request.verb, request.path,
                                    [this](const std::string& authorization, std::vector<std::string>& challenges) {
                                      authorizations.push_back(authorization);
                                      if (next_ >= script.size()) return 0u;
                                      challenges = script[next_].challenges;
                                      return script[next_++].status;
                                    });
    return statusCode_ != 0;
  }
  void CloseRequest() override {}
  uint32_t GetAvailableSize() override { return 0; }
  uint32_t ReadChunk(std::vector<uint8_t>&, uint32_t, bool) override { return 0; }

 private:
  static norvale::DEVICE_INFO Device(const std::string& user, const std::string& password, int timeoutMs) {
    norvale::DEVICE_INFO device;
    device.address = "192.0.2.7";
    device.port = 80;
    device.user = user;
    device.password = password;
    device.networkTimeout = timeoutMs;
    return device;
  }
  size_t next_ = 0;
};

const std::string kDigest = "Digest realm=\"cam\", nonce=\"n1\", qop=\"auth\"";
const std::string kDigestNewNonce = "Digest realm=\"cam\", nonce=\"n2\", qop=\"auth\", stale=true";
const std::string kDigestNewerNonce = "Digest realm=\"cam\", nonce=\"n3\", qop=\"auth\", stale=true";

bool Names(const std::string& authorization, const std::string& nonce) {
  return authorization.rfind("Digest ", 0) == 0 && authorization.find("nonce=\"" + nonce + "\"") != std::string::npos;
}

TEST(HttpSenderLogin, ChallengeIsAnsweredOnceAndKeptForLaterRequests) {
  ScriptedSender sender("admin", "pw");
  sender.script = {{401, {"Basic realm=\"cam\""}}, {200, {}}, {200, {}}};
  ASSERT_TRUE(sender.SendRequest(Web::HttpRequest{"GET", "/a", {}}));
  ASSERT_TRUE(sender.SendRequest(Web::HttpRequest{"GET", "/b", {}}));
  std::string basic;
  ASSERT_TRUE(norvale::BasicCredentials("admin", "pw", &basic));
  EXPECT_EQ(sender.authorizations, (std::vector<std::string>{"", "Basic " + basic, "Basic " + basic}));
  EXPECT_EQ(sender.GetStatusCode(), 200u);
}

TEST(HttpSenderLogin, ExpiredNonceIsRenewedButARefusalIsFinal) {
  ScriptedSender renewed("root", "pw");
  renewed.script = {{401, {kDigest}}, {401, {kDigestNewNonce}}, {200, {}}};
  EXPECT_TRUE(renewed.SendRequest(Web::HttpRequest{"GET", "/x", {}}));
  ASSERT_EQ(renewed.authorizations.size(), 3u);
  EXPECT_TRUE(Names(renewed.authorizations[1], "n1"));
  EXPECT_TRUE(Names(renewed.authorizations[2], "n2"));

  // The same nonce challenged again: the password is wrong, asking again would not help.
  ScriptedSender refused("root", "wrong");
  refused.script = {{401, {kDigest}}, {401, {kDigest}}, {200, {}}};
  EXPECT_TRUE(refused.SendRequest(Web::HttpRequest{"GET", "/x", {}}));
  EXPECT_EQ(refused.GetStatusCode(), 401u);
  EXPECT_EQ(refused.authorizations.size(), 2u);

  // A camera that renews its nonce on every answer cannot keep a request going.
  ScriptedSender endless("root", "pw");
  endless.script = {{401, {kDigest}}, {401, {kDigestNewNonce}}, {401, {kDigestNewerNonce}}, {200, {}}};
  EXPECT_TRUE(endless.SendRequest(Web::HttpRequest{"GET", "/x", {}}));
  EXPECT_EQ(endless.GetStatusCode(), 401u);
  EXPECT_EQ(endless.authorizations.size(), static_cast<size_t>(Web::CBaseHttpSender::kMaxAttempts));
}

TEST(HttpSenderLogin, NoRetryWithoutCredentialsAnswerOrAnswerableChallenge) {
  ScriptedSender anonymous("", "");
  anonymous.script = {{401, {kDigest}}, {200, {}}};
  EXPECT_TRUE(anonymous.SendRequest(Web::HttpRequest{"GET", "/x", {}}));
  EXPECT_EQ(anonymous.GetStatusCode(), 401u);
  EXPECT_EQ(anonymous.authorizations, std::vector<std::string>{""});

  ScriptedSender silent("root", "pw");  // no answer at all
  EXPECT_FALSE(silent.SendRequest(Web::HttpRequest{"GET", "/x", {}}));
  EXPECT_EQ(silent.authorizations.size(), 1u);

  ScriptedSender foreign("root", "pw");
  foreign.script = {{401, {"Negotiate", "Digest realm=\"cam\", nonce=\"n\", algorithm=SHA-256"}}, {200, {}}};
  EXPECT_TRUE(foreign.SendRequest(Web::HttpRequest{"GET", "/x", {}}));
  EXPECT_EQ(foreign.GetStatusCode(), 401u);
  EXPECT_EQ(foreign.authorizations.size(), 1u);
}

TEST(HttpSenderLimits, TimeoutAndDeadlineFollowTheDevice) {
  EXPECT_EQ(ScriptedSender("", "", 700).TimeoutMs(), 700u);
  EXPECT_EQ(ScriptedSender("", "", 700).DeadlineMs(), 700u * Web::CBaseHttpSender::kDeadlineFactor);
  for (int unset : {0, -1, INT32_MIN}) {
    EXPECT_EQ(ScriptedSender("", "", unset).TimeoutMs(), 5000u) << unset;
    EXPECT_EQ(ScriptedSender("", "", unset).DeadlineMs(), 15000u) << unset;
  }
  // Tick counts wrap: no deadline may reach half their range.
  EXPECT_EQ(ScriptedSender("", "", INT32_MAX).DeadlineMs(), 0x7FFFFFFFu);
}

}  // namespace
