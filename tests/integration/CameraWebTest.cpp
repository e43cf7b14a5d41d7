// The HTTP sender and the CGI request functions against zephrin-camsim's web interface: its Basic and
// Digest logins, its answers and its injected faults.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "camera/CElmoNameMapper.h"
#include "camera/HUtils.h"
#include "camera/HttpSender.h"
#include "runtime/StringUtils.h"
#include "support/ChildProcess.h"

using norvale::CResultDef;
namespace HUtils = norvale::HUtils;

namespace {

// One simulated camera, CGI only, on a free loopback port; stopped with the object.
class Camsim {
 public:
  explicit Camsim(const std::vector<std::string>& options) {
    std::vector<std::string> args = {
        "/usr/bin/python3", ZEPHRIN_SOURCE_DIR "/tools/camsim/camsim.py", "--address", "127.0.0.1", "--http-port", "0",
        "--no-rtsp"};
    args.insert(args.end(), options.begin(), options.end());
    std::string error;
    if (!process_.Start(args, &error)) return;
    // "ready http=127.0.0.1:<port> ..." once it listens.
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (text.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline)
      if (!process_.Read(&text, 100)) break;
    const size_t at = text.find("http=127.0.0.1:");
    if (at != std::string::npos) port_ = static_cast<uint16_t>(std::stoi(text.substr(at + 15)));
  }
  uint16_t Port() const { return port_; }

 private:
  zephrin::test::ChildProcess process_;
  uint16_t port_ = 0;
};

norvale::DEVICE_INFO Device(uint16_t port, const std::string& user, const std::string& password, int timeout = 3000) {
  norvale::DEVICE_INFO device;
  device.address = "127.0.0.1";
  device.port = port;
  device.user = user;
  device.password = password;
  device.networkTimeout = timeout;
  return device;
}

class CameraWeb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    digest_ = new Camsim({"--profile", "ptz-dome", "--user", "admin", "--password", "se cret", "--auth", "digest"});
  }
  static void TearDownTestSuite() {
    delete digest_;
    digest_ = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(digest_->Port(), 0) << "zephrin-camsim did not start";
    Control("/camsim/fault?clear=1");
  }
  static void Control(const std::string& path) {
    Web::CHttpSender control(Device(digest_->Port(), "", ""));
    ASSERT_EQ(HUtils::RequestGetRD(control, path).Code(), 0) << path;
  }
  static Camsim* digest_;
};
Camsim* CameraWeb::digest_ = nullptr;

TEST_F(CameraWeb, DigestLoginReadsTheParameterListAndMapsTheModel) {
  Web::CHttpSender sender(Device(digest_->Port(), "admin", "se cret"));
  std::string list;
  ASSERT_TRUE(
      HUtils::RequestGetString(sender, list, "/cgi-bin/admin/param.cgi?action=list&group=Brand&group=Properties"));
  norvale::CElmoNameMapper mapper;
  ASSERT_TRUE(mapper.Map("Dynacolor", norvale::FindParamValue("root.Brand.Brand", "=", list),
                         norvale::FindParamValue("root.Brand.ProdShortName", "=", list)));
  EXPECT_EQ(mapper.GetBrand(), "ELMO");
  EXPECT_EQ(mapper.GetModel(), "DH620");
  EXPECT_EQ(mapper.GetSeries(), 3u);
  // The same sender goes on answering every later challenge.
  for (int i = 0; i < 3; ++i) {
    std::vector<uint8_t> body;
    EXPECT_EQ(HUtils::RequestGetRD(body, sender, "/cgi-bin/io/input.cgi?check=1", true).Code(), 0);
    EXPECT_EQ(std::string(body.begin(), body.end()).rfind("Input1=", 0), 0u);
  }
}

TEST_F(CameraWeb, DigestAnswerCarriesTheExactRequestTarget) {
  Web::CHttpSender sender(Device(digest_->Port(), "admin", "se cret"));
  EXPECT_EQ(HUtils::RequestGetRD(sender, "/cgi-bin/io/output.cgi?action=1:\\").Code(), 0);
  EXPECT_EQ(HUtils::RequestGetRD(sender, "/cgi-bin/io/output.cgi?action=2:/").Code(), 0);
  std::string state;
  ASSERT_TRUE(HUtils::RequestGetString(sender, state, "/cgi-bin/io/output.cgi?check=2"));
  EXPECT_NE(state.find("Output2=1"), std::string::npos);
  EXPECT_EQ(HUtils::RequestGetRD(sender, "/cgi-bin/com/ptz.cgi?continuouspantiltmove=10,-10").Code(), 0);
  EXPECT_EQ(HUtils::RequestGetRD(sender, "/cgi-bin/com/ptz.cgi?continuouspantiltmove=0,0").Code(), 0);
}

TEST_F(CameraWeb, WrongPasswordAndUnknownPathsAreClassified) {
  Web::CHttpSender wrong(Device(digest_->Port(), "admin", "secret"));
  EXPECT_EQ(HUtils::RequestGetRD(wrong, "/cgi-bin/admin/param.cgi?action=list").Code(), 10);
  Web::CHttpSender none(Device(digest_->Port(), "", ""));
  EXPECT_EQ(HUtils::RequestGetRD(none, "/cgi-bin/admin/param.cgi?action=list").Code(), 10);
  Web::CHttpSender sender(Device(digest_->Port(), "admin", "se cret"));
  EXPECT_EQ(HUtils::RequestGetRD(sender, "/cgi-bin/nothing.cgi").Code(), 9);
  const CResultDef bad = HUtils::RequestGetRD(sender, "/cgi-bin/com/ptz.cgi?gotoserverpresetno=0");
  EXPECT_EQ(bad.Code(), 8);
  EXPECT_NE(bad.Message().find("HTTP status code is 400"), std::string::npos);
}

TEST_F(CameraWeb, InjectedStatusesAndEmptyAnswers) {
  Web::CHttpSender sender(Device(digest_->Port(), "admin", "se cret"));
  Control("/camsim/fault?path=%2Fcgi-bin%2Fio%2Finput.cgi&status=302");
  EXPECT_EQ(HUtils::RequestGetRD(sender, "/cgi-bin/io/input.cgi?check=1").Code(), 8);
  Control("/camsim/fault?clear=1");
  Control("/camsim/fault?path=%2Fcgi-bin%2Fio%2Finput.cgi&status=204");
  std::vector<uint8_t> body;
  EXPECT_EQ(HUtils::RequestGetRD(sender, "/cgi-bin/io/input.cgi?check=1").Code(), 0);
  EXPECT_EQ(HUtils::RequestGetRD(body, sender, "/cgi-bin/io/input.cgi?check=1", true).Code(), 12);
  Control("/camsim/fault?clear=1");
  Control("/camsim/fault?path=%2Fcgi-bin%2Fio%2Finput.cgi&empty=1");
  EXPECT_EQ(HUtils::RequestGetRD(body, sender, "/cgi-bin/io/input.cgi?check=1", true).Code(), 12);
  std::string text;
  EXPECT_FALSE(HUtils::RequestGetString(sender, text, "/cgi-bin/io/input.cgi?check=1"));
}

TEST_F(CameraWeb, SlowAndHangingCameras) {
  Web::CHttpSender sender(Device(digest_->Port(), "admin", "se cret", 1000));
  Control("/camsim/fault?path=%2Fcgi-bin%2Fadmin&slow=20");
  std::string list;
  ASSERT_TRUE(HUtils::RequestGetString(sender, list, "/cgi-bin/admin/param.cgi?action=list&group=Brand"));
  EXPECT_NE(list.find("root.Brand.ProdShortName=DH620"), std::string::npos);

  Control("/camsim/fault?clear=1");
  Control("/camsim/fault?path=%2Fcgi-bin%2Fio&hang=20");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(HUtils::RequestGetRD(sender, "/cgi-bin/io/input.cgi?check=1").Code(), 11);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
  Control("/camsim/fault?clear=1");
  Control("/camsim/fault?path=%2Fcgi-bin%2Fio&close=1");
  EXPECT_EQ(HUtils::RequestGetRD(sender, "/cgi-bin/io/input.cgi?check=1").Code(), 11);
  Control("/camsim/fault?clear=1");
  EXPECT_EQ(HUtils::RequestGetRD(sender, "/cgi-bin/io/input.cgi?check=1").Code(), 0);  // the sender recovers
}

TEST(CameraWebLogins, BasicAndDigestWithoutQop) {
  Camsim basic({"--profile", "planet", "--user", "root", "--password", "pass", "--auth", "basic"});
  ASSERT_NE(basic.Port(), 0);
  Web::CHttpSender basicSender(Device(basic.Port(), "root", "pass"));
  std::string list;
  EXPECT_TRUE(HUtils::RequestGetString(basicSender, list, "/cgi-bin/admin/param.cgi?action=list&group=Brand"));
  EXPECT_NE(list.find("ICA-HM131"), std::string::npos);
  Web::CHttpSender basicWrong(Device(basic.Port(), "root", "nope"));
  EXPECT_EQ(HUtils::RequestGetRD(basicWrong, "/cgi-bin/admin/param.cgi?action=list").Code(), 10);

  Camsim rfc2069(
      {"--profile", "evision", "--user", "admin", "--password", "admin", "--auth", "digest", "--digest-qop", "none"});
  ASSERT_NE(rfc2069.Port(), 0);
  Web::CHttpSender sender(Device(rfc2069.Port(), "admin", "admin"));
  EXPECT_TRUE(HUtils::RequestGetString(sender, list, "/cgi-bin/admin/param.cgi?action=list&group=Brand"));
  EXPECT_NE(list.find("e-TPMX10A"), std::string::npos);
}

}  // namespace
