// The camera family's I/O CGI: the exact output commands, how input answers are read, and HTTP
// failures logged once per distinct message.
#include "camera/CElmoDigitalIO.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "support/FakeDriver.h"
#include "support/IOSinkRecorder.h"
#include "support/ScriptedHttpSender.h"
#include "support/WaitUntil.h"

namespace norvale {
namespace {

using zephrin::test::FakeDriver;
using zephrin::test::RecordingIOSink;
using zephrin::test::ScriptedHttpSender;

using zephrin::test::WaitUntil;

size_t Count(const std::vector<std::string>& requests, const std::string& path) {
  return static_cast<size_t>(std::count(requests.begin(), requests.end(), path));
}

struct Camera {
  FakeDriver driver;
  RecordingIOSink sink;
  ScriptedHttpSender* inputs = nullptr;
  ScriptedHttpSender* outputs = nullptr;
  std::unique_ptr<CElmoDigitalIO> io;

  Camera(int32_t inputCount, int32_t outputCount) {
    driver.deviceInfo.address = "127.0.0.7";
    driver.deviceInfo.port = 8080;
    driver.cameraValues = {inputCount, outputCount};
    auto in = std::make_unique<ScriptedHttpSender>(driver.deviceInfo);
    auto out = std::make_unique<ScriptedHttpSender>(driver.deviceInfo);
    inputs = in.get();
    outputs = out.get();
    for (int i = 1; i <= 4; ++i) {
      outputs->Set("/cgi-bin/io/output.cgi?action=" + std::to_string(i) + ":\\", 200, "OK");
      outputs->Set("/cgi-bin/io/output.cgi?action=" + std::to_string(i) + ":/", 200, "OK");
    }
    io = std::make_unique<CElmoDigitalIO>(&driver, std::move(in), std::move(out));
    io->SetCallback(&sink);
  }
};

TEST(ElmoDigitalOutputs, CommandsCarryTheOutputNumberAndABackslashOrSlash) {
  Camera c(0, 2);
  ASSERT_TRUE(c.io->StartIO());
  ASSERT_TRUE(WaitUntil([&] { return c.outputs->Requests().size() == 2; }));
  EXPECT_EQ(c.outputs->Requests(),
            (std::vector<std::string>{"/cgi-bin/io/output.cgi?action=1:\\", "/cgi-bin/io/output.cgi?action=2:\\"}));
  EXPECT_TRUE(c.io->SetOutputState(1, 2));
  // A state that is neither off nor on is not a command the camera knows: nothing is sent.
  EXPECT_TRUE(c.io->SetOutputState(0, 3));
  ASSERT_TRUE(WaitUntil([&] { return c.outputs->Requests().size() == 3; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(c.outputs->Requests().back(), "/cgi-bin/io/output.cgi?action=2:/");
  EXPECT_EQ(c.outputs->Requests().size(), 3u);
  EXPECT_EQ(c.sink.Failures(), 0u);
  EXPECT_TRUE(c.io->StopIO());
}

TEST(ElmoDigitalInputs, EachInputIsAskedForAndItsDigitGivesTheState) {
  Camera c(3, 0);
  c.inputs->Set("/cgi-bin/io/input.cgi?check=1", 200, "Input1=1\r\n");
  c.inputs->Set("/cgi-bin/io/input.cgi?check=2", 200, "Input2=0\r\n");
  c.inputs->Set("/cgi-bin/io/input.cgi?check=3", 200, "Input2=1\r\nInput3=x\r\n");
  ASSERT_TRUE(c.io->StartIO());
  ASSERT_TRUE(WaitUntil([&] { return Count(c.inputs->Requests(), "/cgi-bin/io/input.cgi?check=3") >= 1; }));
  ASSERT_TRUE(c.sink.WaitForChanges(2, 2000));
  const auto changes = c.sink.Changes();
  ASSERT_EQ(changes.size(), 2u);  // input 3 stays undetermined, which it already was
  EXPECT_EQ(changes[0].input, 0u);
  EXPECT_EQ(changes[0].state, 2u);
  EXPECT_EQ(changes[1].input, 1u);
  EXPECT_EQ(changes[1].state, 1u);
  EXPECT_EQ(c.sink.Failures(), 0u);
  EXPECT_TRUE(c.io->StopIO());
}

TEST(ElmoDigitalInputs, HttpFailuresAreLoggedOncePerMessage) {
  Camera c(1, 0);
  c.inputs->Set("/cgi-bin/io/input.cgi?check=1", 500, "Error 500");
  ASSERT_TRUE(c.io->StartIO());
  ASSERT_TRUE(c.sink.WaitForFailures(2, 8000));
  const std::string refused =
      "norvale::HUtils::RequestGetRD: device 127.0.0.7:8080 is unable to process \"/cgi-bin/io/input.cgi?check=1\" "
      "request. HTTP status code is 500";
  EXPECT_TRUE(WaitUntil([&] { return c.driver.Count(refused) == 1; }));
  // Another answer is another message, logged once as well.
  c.inputs->Set("/cgi-bin/io/input.cgi?check=1", 401, "");
  const size_t failures = c.sink.Failures();
  ASSERT_TRUE(c.sink.WaitForFailures(failures + 2, 8000));
  EXPECT_EQ(c.driver.Count("credentials are invalid"), 1u);
  EXPECT_EQ(c.driver.Count(refused), 1u);
  EXPECT_EQ(c.driver.Count("GetInputStates() method failed!"), 1u);
  EXPECT_TRUE(c.io->StopIO());
}

TEST(ElmoDigitalInputs, StoppingReleasesAPollBlockedOnTheCamera) {
  Camera c(1, 0);
  c.inputs->Hang("/cgi-bin/io/input.cgi?check=1");
  ASSERT_TRUE(c.io->StartIO());
  ASSERT_TRUE(c.inputs->WaitForRequest("/cgi-bin/io/input.cgi?check=1", 5000));
  const auto before = std::chrono::steady_clock::now();
  EXPECT_TRUE(c.io->StopIO());
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(3));
  EXPECT_EQ(c.driver.Count("will be terminated"), 0u);
}

}  // namespace
}  // namespace norvale
