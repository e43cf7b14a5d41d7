// The video settings manager on whatever parameter list a camera reports: the update it sends names
// only parameters the camera reported with another value, stays one clean query string, is judged by
// the camera's answer alone, names each parameter once, and once the camera took it, the next round
// has nothing left to write.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fuzz/FuzzFiles.h"
#include "runtime/StringUtils.h"
#include "support/FakeDriver.h"
#include "videosettings/CElmoVideoSettingsManager.h"

namespace {

const char* const kNames[] = {"Image.I0.Appearance.Resolution",
                              "Image.I0.Appearance.MjpegQfactor",
                              "Image.I0.Appearance.Mpeg4Bitrate",
                              "Image.I0.Appearance.H264Bitrate",
                              "Image.I0.Appearance.H264_2Bitrate",
                              "Image.I0.Appearance.H264_3Bitrate",
                              "Image.I0.Appearance.MjpegVideoKeyFrameInterval",
                              "Image.I0.Appearance.Mpeg4VideoKeyFrameInterval",
                              "Image.I0.Appearance.H264VideoKeyFrameInterval",
                              "Image.I0.Appearance.H264_2VideoKeyFrameInterval",
                              "Image.I0.Appearance.H264_3VideoKeyFrameInterval",
                              "Framerate.Mjpeg",
                              "Framerate.Mpeg4",
                              "Framerate.H264",
                              "Framerate.H264_2",
                              "Framerate.H264_3",
                              "Frameskip.Mjpeg",
                              "Frameskip.Mpeg4",
                              "Frameskip.H264",
                              "Frameskip.H264_2",
                              "Frameskip.H264_3"};

const char* const kValues[] = {"0",
                               "1",
                               "2",
                               "15",
                               "25",
                               "30",
                               "40",
                               "1024",
                               "8000",
                               "d1,d1",
                               "vga,vga",
                               "disable,1080p,vga,qvga,disable",
                               "disable,720p,vga,qvga,disable",
                               "disable,5m,vga,disable,disable",
                               "d1,720p,disable",
                               "cif,720p",
                               "disable,1080",
                               "vga,vga,vga,disable",
                               "1080p,d1,cif"};

const char* const kSupported[] = {"d1,vga,cif,qvga",
                                  "1080p,720p,d1,vga,cif,qvga",
                                  "5m,3m,quadvga,xga,d1,vga,cif,qvga",
                                  "quadvga,720p,d1,vga,cif,qvga,qcif",
                                  "vga,qvga",
                                  ""};

const uint16_t kSizes[][2] = {{1920, 1080}, {1280, 720}, {1280, 960}, {720, 576},   {720, 480},   {640, 480},
                              {352, 288},   {320, 240},  {176, 144},  {2560, 1920}, {2048, 1536}, {1024, 768}};

std::string ListText(const std::map<std::string, std::string>& params) {
  std::string text;
  for (const auto& [name, value] : params) text += "root." + name + "=" + value + "\r\n";
  return text;
}

// The camera: answers a list with its parameters, an update with the configured text, and takes the
// terms of an update it answered with "OK".
class Camera : public norvale::CElmoVideoSettingsManager {
 public:
  Camera(norvale::IDriver* driver, std::map<std::string, std::string> params)
      : CElmoVideoSettingsManager(driver, 0, false), params(std::move(params)) {}

  std::map<std::string, std::string> params;
  std::string answer = "OK\r\n";
  std::vector<std::string> updates;

 protected:
  norvale::CResultDef RequestGet(const std::string& path, std::string* body) override {
    const std::string update = kUpdatePath;
    if (path.rfind(update, 0) != 0) {
      *body = ListText(params);
      return {};
    }
    const std::string terms = path.substr(update.size());
    updates.push_back(terms);
    *body = answer;
    if (answer.find_first_not_of("OK\t\r\n") == std::string::npos && !answer.empty()) {
      for (const std::string& term : norvale::Split(terms, "&")) {
        const size_t equals = term.find('=');
        if (equals != std::string::npos) params[term.substr(0, equals)] = term.substr(equals + 1);
      }
    }
    return {};
  }
};

void CheckTerms(const std::string& terms, const std::map<std::string, std::string>& before) {
  if (terms.find_first_of(std::string(" \r\n\t#\0", 6)) != std::string::npos) std::abort();
  if (terms.empty()) return;
  if (terms[0] != '&') std::abort();
  std::set<std::string> named;
  for (const std::string& term : norvale::Split(terms.substr(1), "&")) {
    const size_t equals = term.find('=');
    if (equals == std::string::npos || equals + 1 == term.size()) std::abort();
    // One value per parameter: a camera keeps either of two, and the next round flips it back.
    if (!named.insert(term.substr(0, equals)).second) std::abort();
    auto it = before.find(term.substr(0, equals));
    // Only parameters the camera reported with another, non-empty value are written.
    if (it == before.end() || it->second.empty() || it->second == term.substr(equals + 1)) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  zephrin::test::FakeDriver driver;
  driver.hostDirectory = zephrin::fuzz::Scratch().Path();
  driver.videoStandard = provider.ConsumeBool() ? 1 : 0;
  driver.params[2] = std::to_string(provider.ConsumeIntegralInRange<int>(0, 9));
  driver.params[7] = provider.ConsumeBool() ? "1" : "0";
  driver.params[9] = provider.ConsumeBool() ? "1" : "0";
  driver.params[8] = kSupported[provider.ConsumeIntegralInRange<size_t>(0, std::size(kSupported) - 1)];

  std::vector<norvale::StreamRecord> records(provider.ConsumeIntegralInRange<size_t>(1, 3));
  for (auto& record : records) {
    record.codec = provider.ConsumeIntegralInRange<int32_t>(0, 4);
    record.settings.streamKind = provider.ConsumeIntegralInRange<int32_t>(0, 2);
    record.settings.frameInterval = provider.ConsumeIntegralInRange<int32_t>(-1, 1100);
    record.settings.quality = provider.ConsumeIntegralInRange<int32_t>(-5, 120);
    if (provider.ConsumeBool()) {
      const auto& wh = kSizes[provider.ConsumeIntegralInRange<size_t>(0, std::size(kSizes) - 1)];
      record.settings.width = wh[0];
      record.settings.height = wh[1];
    } else {
      record.settings.width = provider.ConsumeIntegral<uint16_t>();
      record.settings.height = provider.ConsumeIntegral<uint16_t>();
    }
  }

  std::map<std::string, std::string> params;
  for (const char* name : kNames) {
    switch (provider.ConsumeIntegralInRange<int>(0, 3)) {
      case 0:
        break;  // not reported
      case 1:
        params[name] = kValues[provider.ConsumeIntegralInRange<size_t>(0, std::size(kValues) - 1)];
        break;
      default: {
        std::string value = provider.ConsumeRandomLengthString(24);
        for (char& c : value)
          if (c == '\r' || c == '\n') c = ' ';  // one value per line
        params[name] = value;
        break;
      }
    }
  }
  const std::string answer = provider.ConsumeRemainingBytesAsString();

  Camera camera(&driver, params);
  camera.SetDatabaseDirectory(ZEPHRIN_SOURCE_DIR "/data");
  camera.answer = answer;
  for (const auto& record : records) camera.Apply(nullptr, record.codec, record.settings);

  const bool first = camera.Synchronize();
  if (camera.updates.size() > 1) std::abort();
  if (camera.updates.empty()) return 0;  // nothing to write, or no request could be made
  CheckTerms(camera.updates[0], params);
  // The answer alone decides: only "OK" and line breaks are a success.
  const bool accepted = !answer.empty() && answer.find_first_not_of("OK\t\r\n") == std::string::npos;
  if (first != accepted) std::abort();
  if (!accepted) return 0;

  // The camera took every term: a second round finds nothing to change.
  if (!camera.Synchronize()) std::abort();
  if (camera.updates.size() != 1) std::abort();
  return 0;
}
