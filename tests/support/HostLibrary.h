#pragma once
// The host objects live in tools/hostobjects (the zephrin-host tool links them too).
#include "hostobjects/HostLibrary.h"
