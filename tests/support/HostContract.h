#pragma once
// The host objects live in tools/hostobjects (the zephrin-host tool links them too); the tests know
// them by their names in zephrin::test.
#include "hostobjects/HostContract.h"

namespace zephrin::test {
using zephrin::hostobjects::HostContract;
}  // namespace zephrin::test
