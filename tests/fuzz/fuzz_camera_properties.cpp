// The camera's answers are camera-controlled text: whatever a camera sends as its parameter list,
// PTZ information, I/O list and probe answers, discovery ends with a result (and a failure text
// when it fails), and reporting what it found never crashes.
//
// Input: up to five answers separated by NUL bytes, in this order: the parameter list, the PTZ
// information, the fisheye group, the I/O list and the I/O probe answer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "discovery/CCapabilityQueryModule.h"
#include "discovery/CElmoCameraProperties.h"
#include "support/CapabilityRecorder.h"
#include "support/ScriptedHttpSender.h"

namespace {

const char* const kPaths[] = {
    ("/cgi-bin/admin/param.cgi?action=list&group=Brand&group=Properties&group=Network.eth0&group=Image.I0.Appearance"
     "&group=ImageSource.I0.Video&group=Frameskip&group=Framerate"),
    "/cgi-bin/com/ptz.cgi?info=1",
    "/cgi-bin/admin/param.cgi?action=list&group=Fisheye",
    "/cgi-bin/admin/param.cgi?action=list&group=Input&group=Output",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0 && parts.size() < 5)
      parts.emplace_back();
    else
      parts.back().push_back(static_cast<char>(data[i]));
  }
  parts.resize(5);
  // Every other run describes multi-stream cameras to a new host core.
  if (size % 2)
    setenv("STAVRIK_VERSION", "6.1.0.0", 1);
  else
    unsetenv("STAVRIK_VERSION");

  norvale::DEVICE_INFO device;
  device.address = "127.0.0.1";
  device.port = 80;
  auto sender = std::make_unique<zephrin::test::ScriptedHttpSender>(device);
  for (size_t i = 0; i < 4; ++i)
    if (!parts[i].empty()) sender->Set(kPaths[i], 200, parts[i]);
  sender->Set("/cgi-bin/io/input.cgi?check=1", 200, parts[4]);
  sender->Set("/cgi-bin/io/output.cgi?check=1", 200, parts[4]);

  norvale::CElmoCameraProperties properties(device, false, std::move(sender));
  int32_t reason = 3;
  if (properties.ReadProperties(reason)) {
    zephrin::test::RecordingCapabilitySink sink;
    norvale::CCapabilityQueryModule::WriteCapabilities(properties, &sink);
  } else if (reason < 1 || reason > 3) {
    std::abort();  // a failure always has a reason the host understands
  }
  return 0;
}
