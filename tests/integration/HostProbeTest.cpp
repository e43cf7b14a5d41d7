// zephrin-host probe and record against a simulated camera: what a user runs to add a camera, the host
// parameter file it leaves for 'record', 'ptz' and 'io', and a recording started without one.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "support/CamSimProcess.h"

namespace {

using zephrin::test::CamSimProcess;

// Runs a command line; its standard output and exit status.
int RunTool(const std::string& command, std::string* output) {
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output->append(buffer, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> Lines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(HostProbe, SavesTheCamerasHostParametersAndReportsFailures) {
  CamSimProcess::Options options;
  options.address = "127.0.0.46";
  options.profile = "planet";
  options.password = "secret";
  CamSimProcess camera(options);
  ASSERT_TRUE(camera.Ready()) << camera.Error();
  const std::string tool = std::string(ZEPHRIN_BIN_DIR) + "/zephrin-host probe --address 127.0.0.46 --port " +
                           std::to_string(camera.HttpPort()) + " --user admin";
  const std::string file = ::testing::TempDir() + "planet.params";
  std::remove(file.c_str());

  std::string output;
  ASSERT_EQ(RunTool(tool + " --password secret --save '" + file + "' 2>&1", &output), 0) << output;
  EXPECT_NE(output.find("model: Planet ICA-HM131"), std::string::npos) << output;
  // Parameter 6 has no text (no PTZ) and is stored as "(none)".
  const std::vector<std::string> expected = {
      "1=1",
      "2=2",
      "3=ICA-HM131",
      "4=3.0.12",
      "5=Pan=0; Tilt=0; Zoom=0; Focus=0; Iris=0; Center=0; Unzoom=0; AreaZoom=0; Preset=0",
      "6=(none)",
      "7=1",
      "8=1080p,720p,cif,d1,qvga,vga",
      "9=0"};
  std::vector<std::string> parameters;
  for (const auto& line : Lines(file))
    if (!line.empty() && line[0] != '#') parameters.push_back(line);
  EXPECT_EQ(parameters, expected);

  output.clear();
  // The password from the environment: --password would put a warning before the JSON.
  ASSERT_EQ(RunTool("ZEPHRIN_PASSWORD=secret " + tool + " --json 2>&1", &output), 0) << output;
  EXPECT_EQ(output.rfind("{\"outcome\":\"succeeded\"", 0), 0u) << output;
  EXPECT_NE(output.find("\"2\":1,\"3\":1"), std::string::npos) << output;  // one input, one output

  output.clear();
  EXPECT_EQ(RunTool(tool + " --password wrong --save '" + file + ".bad' 2>&1", &output), 1);
  EXPECT_NE(output.find("reason 1"), std::string::npos) << output;
  EXPECT_FALSE(std::ifstream(file + ".bad").good());  // nothing saved for a failed query
}

TEST(HostRecord, StartsFromTheCamerasAnswerAndStopsAtOnceWhenTheCameraCannotBeSetUp) {
  CamSimProcess::Options options;
  options.address = "127.0.0.47";
  options.rtsp = true;
  options.password = "secret";
  CamSimProcess camera(options);
  ASSERT_TRUE(camera.Ready()) << camera.Error();
  const std::string tool = "ZEPHRIN_PASSWORD=secret " + std::string(ZEPHRIN_BIN_DIR) +
                           "/zephrin-host record --address 127.0.0.47 --port " + std::to_string(camera.HttpPort()) +
                           " --progress 0";
  // No host parameters: the camera's own answer makes the request one it can serve (status 0: frames came).
  std::string output;
  EXPECT_EQ(RunTool(tool + " --duration 3 2>&1", &output), 0) << output;

  // Without the camera series no frame rate can be worked out: one attempt, then a non-zero exit
  // long before the duration ends.
  output.clear();
  EXPECT_EQ(RunTool(tool + " --param 1=1 --duration 30 2>&1", &output), 3) << output;
  size_t attempts = 0;
  for (size_t at = 0; (at = output.find("Unable to calculate frame-skip value", at)) != std::string::npos; ++at)
    ++attempts;
  EXPECT_EQ(attempts, 1u) << output;
}

}  // namespace
