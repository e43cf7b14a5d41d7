#pragma once
// The capability query a host runs when a camera is added, through the driver library's exports:
// 'probe' shows and saves its answer, 'record' without host parameters starts from it.
#include <cstdint>

#include "DeviceOptions.h"
#include "HostParameters.h"
#include "hostobjects/CapabilityRecorder.h"

namespace zephrin::host {

// Runs the query on the device's camera and waits at most timeoutSeconds for its outcome, which
// callback and sink hold afterwards; false, after "zephrin-host COMMAND: ..." on stderr, when the
// library cannot run it.
bool RunCapabilityQuery(const char* command, const DeviceOptions& device, bool ntsc, uint32_t timeoutSeconds,
                        zephrin::hostobjects::RecordingCapabilityCallback& callback,
                        zephrin::hostobjects::RecordingCapabilitySink& sink);

// The host parameters 1..9 the query reported: the camera properties under the same numbers.
HostParameters ReportedHostParameters(zephrin::hostobjects::RecordingCapabilitySink& sink);

}  // namespace zephrin::host
