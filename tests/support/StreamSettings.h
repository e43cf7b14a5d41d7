#pragma once
// The host objects live in tools/hostobjects (the zephrin-host tool links them too); the tests know
// them by their names in zephrin::test.
#include "hostobjects/StreamSettings.h"

namespace zephrin::test {
using zephrin::hostobjects::TestStreamFormat;
using zephrin::hostobjects::TestStreamRate;
using zephrin::hostobjects::TestStreamResolution;
using zephrin::hostobjects::TestStreamSettings;
}  // namespace zephrin::test
