#pragma once
// The host objects live in tools/hostobjects (the zephrin-host tool links them too); the tests know
// them by their names in zephrin::test.
#include "hostobjects/CapabilityRecorder.h"

namespace zephrin::test {
using zephrin::hostobjects::RecordingCapabilityCallback;
using zephrin::hostobjects::RecordingCapabilitySink;
}  // namespace zephrin::test
