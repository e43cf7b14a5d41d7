#include "interop/DecodeCheck.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace zephrin::test {

CommandResult RunCommand(const std::string& command) {
  CommandResult result;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return result;
  std::array<char, 4096> buffer;
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) result.output.append(buffer.data(), n);
  const int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  return static_cast<bool>(out);
}

RtpCapture CaptureRtp(const TempDir& dir, const std::string& codec, const std::string& arguments) {
  RtpCapture capture;
  const std::string prefix = dir.File(codec);
  const CommandResult run = RunCommand("/usr/bin/python3 '" ZEPHRIN_INTEROP_DIR "/rtp_capture.py' --codec " + codec +
                                       " --out '" + prefix + "' " + arguments);
  if (run.status != 0) {
    capture.error = run.output;
    return capture;
  }
  const std::vector<uint8_t> data = ReadFile(prefix + ".rtp");
  size_t pos = 0;
  while (pos + 4 <= data.size()) {
    const size_t size =
        (size_t{data[pos]} << 24) | (size_t{data[pos + 1]} << 16) | (size_t{data[pos + 2]} << 8) | data[pos + 3];
    pos += 4;
    if (size > data.size() - pos) break;
    norvale::CRTPPacket packet;
    if (!packet.Parse(data.data() + pos, size)) {
      capture.error = "a recorded packet does not parse";
      return capture;
    }
    capture.packets.push_back(std::move(packet));
    pos += size;
  }
  const std::vector<uint8_t> caps = ReadFile(prefix + ".caps");
  capture.caps.assign(caps.begin(), caps.end());
  capture.elementaryStream = prefix + ".es";
  capture.ok = !capture.packets.empty();
  if (!capture.ok) capture.error = "no packets recorded";
  return capture;
}

std::string CapsField(const std::string& caps, const std::string& name) {
  const size_t at = caps.find(name + "=");
  if (at == std::string::npos) return {};
  size_t pos = caps.find(')', at);
  if (pos == std::string::npos) return {};
  ++pos;
  const bool quoted = pos < caps.size() && caps[pos] == '"';
  if (quoted) ++pos;
  std::string value;
  for (; pos < caps.size(); ++pos) {
    const char c = caps[pos];
    if (c == '\\' && pos + 1 < caps.size()) {
      value += caps[++pos];
      continue;
    }
    if (quoted ? c == '"' : (c == ',' || c == ';' || c == '\n')) break;
    value += c;
  }
  return value;
}

StreamInfo ProbeStream(const std::string& path, const std::string& format) {
  StreamInfo info;
  const CommandResult probe = RunCommand("ffprobe -v error -f " + format +
                                         " -select_streams v:0 -count_frames -show_entries "
                                         "stream=width,height,nb_read_frames -of csv=p=0 '" +
                                         path + "'");
  std::istringstream fields(probe.output);
  char comma;
  fields >> info.width >> comma >> info.height >> comma >> info.frames;
  const CommandResult decode = RunCommand("ffmpeg -nostdin -v error -f " + format + " -i '" + path + "' -f null -");
  info.errors = decode.output;
  if (decode.status != 0 && info.errors.empty()) info.errors = "ffmpeg failed";
  return info;
}

std::vector<std::string> DecodedFrameHashes(const std::string& path, const std::string& format) {
  const CommandResult run = RunCommand("ffmpeg -nostdin -v error -f " + format + " -i '" + path + "' -f framemd5 -");
  std::vector<std::string> hashes;
  std::istringstream lines(run.output);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    const size_t comma = line.rfind(',');
    if (comma != std::string::npos) hashes.push_back(line.substr(comma + 1));
  }
  return hashes;
}

}  // namespace zephrin::test
