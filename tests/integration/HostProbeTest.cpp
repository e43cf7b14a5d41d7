// zephrin-host probe against a simulated camera: what a user runs to add a camera, and the host
// parameter file it leaves for 'record', 'ptz' and 'io'.
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

}  // namespace
