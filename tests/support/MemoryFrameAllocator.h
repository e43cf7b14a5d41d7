#pragma once
// The host objects live in tools/hostobjects (the zephrin-host tool links them too); the tests know
// them by their names in zephrin::test.
#include "hostobjects/MemoryFrameAllocator.h"

namespace zephrin::test {
using zephrin::hostobjects::DeliveredFrame;
using zephrin::hostobjects::FourCCText;
using zephrin::hostobjects::MemoryFrameAllocator;
using zephrin::hostobjects::MemoryFrameBuffer;
using zephrin::hostobjects::RecordingParserClient;
}  // namespace zephrin::test
