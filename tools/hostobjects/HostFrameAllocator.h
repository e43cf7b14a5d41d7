#pragma once
// The frame allocator slots a recording host leaves to the contract's reserved places; the stand-in
// allocators here offer Allocate and Release on top of it.
#include "host/HostInterfaces.h"
#include "hostobjects/HostContract.h"

namespace zephrin::hostobjects {

class HostFrameAllocator : public norvale::ipcapture::FrameAllocator {
 public:
  void Reserved1() override { HostContract::Violation("FrameAllocator", 1); }
  void Reserved3() override { HostContract::Violation("FrameAllocator", 3); }
  void Reserved4() override { HostContract::Violation("FrameAllocator", 4); }
  void Reserved5() override { HostContract::Violation("FrameAllocator", 5); }
};

}  // namespace zephrin::hostobjects
