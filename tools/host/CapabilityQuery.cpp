#include "CapabilityQuery.h"

#include <cstdio>

#include "host/HostInterfaces.h"
#include "hostobjects/HostLibrary.h"

namespace zephrin::host {

using zephrin::hostobjects::HostLibrary;
using zephrin::hostobjects::RecordingCapabilityCallback;
using zephrin::hostobjects::RecordingCapabilitySink;

bool RunCapabilityQuery(const char* command, const DeviceOptions& device, bool ntsc, uint32_t timeoutSeconds,
                        RecordingCapabilityCallback& callback, RecordingCapabilitySink& sink) {
  HostLibrary library = HostLibrary::FromPath(device.Library());
  if (!library.IsLoaded()) {
    std::fprintf(stderr, "zephrin-host %s: cannot load %s: %s\n", command, library.Path().c_str(),
                 library.Error().c_str());
    return false;
  }
  auto init = library.Function<norvale::ipcapture::InitCapabilityQueryFn>("InitCapabilityQuery");
  auto start = library.Function<norvale::ipcapture::StartCapabilityQueryFn>("StartCapabilityQuery");
  auto uninit = library.Function<norvale::ipcapture::UninitCapabilityQueryFn>("UninitCapabilityQuery");
  if (!init || !start || !uninit) {
    std::fprintf(stderr, "zephrin-host %s: %s lacks the capability-query exports\n", command, library.Path().c_str());
    return false;
  }
  if (init(&callback, ntsc ? 1 : 0) != 1) {
    std::fprintf(stderr, "zephrin-host %s: the capability query could not be initialised\n", command);
    return false;
  }
  if (start(device.Address().c_str(), device.Port(), device.User().c_str(), device.Password().c_str(), &sink) != 1) {
    uninit();
    std::fprintf(stderr, "zephrin-host %s: the capability query did not start\n", command);
    return false;
  }
  if (!callback.WaitForOutcome(timeoutSeconds * 1000u))
    std::fprintf(stderr, "zephrin-host %s: no outcome after %u s; stopping the query\n", command, timeoutSeconds);
  // Uninit ends the query (waiting for its thread) before the sink and the callback go.
  uninit();
  return true;
}

HostParameters ReportedHostParameters(RecordingCapabilitySink& sink) {
  HostParameters parameters;
  const auto properties = sink.Properties();
  for (unsigned number = 1; number <= HostParameters::kCount; ++number) {
    auto it = properties.find(static_cast<int32_t>(number));
    if (it != properties.end()) parameters.Put(number, it->second.value);
  }
  return parameters;
}

}  // namespace zephrin::host
