#pragma once
// The host objects live in tools/hostobjects (the zephrin-host tool links them too); the tests know
// them by their names in zephrin::test.
#include "hostobjects/HostObjects.h"

namespace zephrin::test {
using zephrin::hostobjects::AllocationRecord;
using zephrin::hostobjects::FrameRecord;
using zephrin::hostobjects::LogRecord;
using zephrin::hostobjects::MemoryFrameBuffer;
using zephrin::hostobjects::RecordingFrameSink;
using zephrin::hostobjects::RecordingLogSink;
using zephrin::hostobjects::TestCameraObject;
using zephrin::hostobjects::TestConnectionObject;
using zephrin::hostobjects::TestDeviceSource;
using zephrin::hostobjects::TestFrameAllocator;
using zephrin::hostobjects::TestFrameBuffer;
}  // namespace zephrin::test
