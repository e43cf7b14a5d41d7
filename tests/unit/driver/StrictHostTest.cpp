// Our stand-in host objects offer only the slots a recording host promises. A driver that calls any
// other slot must fail the test that made it do so, whichever thread the call came from, and a tool
// built on these objects must not end with success.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/CapabilityRecorder.h"
#include "support/HostContract.h"
#include "support/HostObjects.h"
#include "support/MemoryFrameAllocator.h"
#include "support/StreamSettings.h"

namespace {

namespace ip = norvale::ipcapture;
using namespace zephrin::test;

struct UnlistedSlot {
  std::string expected;  // what the failure names
  std::function<void()> call;
};

class StrictHost : public ::testing::Test {
 protected:
  StrictHost() { HostContract::Clear(); }
  ~StrictHost() override { HostContract::Clear(); }

  // Every slot a host object holds without offering it, called through the interface as the driver
  // would call it.
  std::vector<UnlistedSlot> UnlistedSlots() {
    std::vector<UnlistedSlot> slots;
    for (ip::FrameBuffer* buffer : {static_cast<ip::FrameBuffer*>(&testBuffer_), static_cast<ip::FrameBuffer*>(&memoryBuffer_)}) {
      slots.push_back({"FrameBuffer slot 1", [buffer] { buffer->Reserved1(); }});
      slots.push_back({"FrameBuffer slot 3", [buffer] { buffer->Reserved3(); }});
      slots.push_back({"FrameBuffer slot 5", [buffer] { buffer->Reserved5(); }});
      slots.push_back({"FrameBuffer slot 7", [buffer] { buffer->Reserved7(); }});
      slots.push_back({"FrameBuffer slot 8", [buffer] { buffer->Reserved8(); }});
      slots.push_back({"FrameBuffer slot 9", [buffer] { buffer->Reserved9(); }});
      slots.push_back({"FrameBuffer slot 11", [buffer] { buffer->Reserved11(); }});
      slots.push_back({"FrameBuffer slot 13", [buffer] { buffer->Reserved13(); }});
      slots.push_back({"FrameBuffer slot 15", [buffer] { buffer->Reserved15(); }});
    }
    for (ip::FrameAllocator* allocator :
         {static_cast<ip::FrameAllocator*>(&testAllocator_), static_cast<ip::FrameAllocator*>(&memoryAllocator_)}) {
      slots.push_back({"FrameAllocator slot 1", [allocator] { allocator->Reserved1(); }});
      slots.push_back({"FrameAllocator slot 3", [allocator] { allocator->Reserved3(); }});
      slots.push_back({"FrameAllocator slot 4", [allocator] { allocator->Reserved4(); }});
      slots.push_back({"FrameAllocator slot 5", [allocator] { allocator->Reserved5(); }});
    }
    ip::FrameSink* sink = &sink_;
    slots.push_back({"FrameSink slot 2", [sink] { sink->Reserved2(); }});
    ip::DeviceSource* device = &device_;
    slots.push_back({"DeviceSource slot 3", [device] { device->Reserved3(); }});
    slots.push_back({"CameraObject slot 1", [device] { device->GetCamera()->Reserved1(); }});
    slots.push_back({"CameraObject slot 4", [device] { device->GetCamera()->Reserved4(); }});
    slots.push_back({"ConnectionObject slot 3", [device] { device->GetConnection()->Reserved3(); }});
    ip::StreamSettingsSource* settings = &settings_;
    slots.push_back({"StreamSettingsSource slot 3", [settings] { settings->Reserved3(); }});
    slots.push_back({"StreamSettingsSource slot 4", [settings] { settings->Reserved4(); }});
    slots.push_back({"StreamFormat slot 1", [settings] { settings->GetFormat()->Reserved1(); }});
    slots.push_back({"StreamFormat slot 2", [settings] { settings->GetFormat()->Reserved2(); }});
    slots.push_back({"StreamRate slot 2", [settings] { settings->GetRate()->Reserved2(); }});
    ip::CapabilityCallback* callback = &callback_;
    slots.push_back({"CapabilityCallback slot 1", [callback] { callback->Reserved1(); }});
    ip::CapabilitySink* capabilities = &capabilities_;
    slots.push_back({"CapabilitySink slot 4", [capabilities] { capabilities->Reserved4(); }});
    slots.push_back({"CapabilitySink slot 7", [capabilities] { capabilities->Reserved7(); }});
    slots.push_back({"CapabilityPropertyItem slot 2", [capabilities] { capabilities->GetPropertyItem(1)->Reserved2(); }});
    slots.push_back({"CapabilityPropertyItem slot 3", [capabilities] { capabilities->GetPropertyItem(1)->Reserved3(); }});
    return slots;
  }

  TestFrameBuffer testBuffer_{0x34363248, 16, "Zephrin::RecStream"};
  MemoryFrameBuffer memoryBuffer_{16};
  TestFrameAllocator testAllocator_;
  MemoryFrameAllocator memoryAllocator_;
  RecordingFrameSink sink_;
  TestDeviceSource device_;
  TestStreamSettings settings_;
  RecordingCapabilityCallback callback_;
  RecordingCapabilitySink capabilities_;
};

TEST_F(StrictHost, EveryUnofferedSlotFailsTheRunningTestNamingInterfaceAndSlot) {
  const auto slots = UnlistedSlots();
  for (const UnlistedSlot& slot : slots) {
    SCOPED_TRACE(slot.expected);
    EXPECT_NONFATAL_FAILURE(slot.call(), slot.expected);
  }
  EXPECT_EQ(HostContract::Violations().size(), slots.size());
}

TEST_F(StrictHost, ACallFromADriverThreadFailsTheRunningTest) {
  ip::FrameBuffer* buffer = &testBuffer_;
  EXPECT_NONFATAL_FAILURE_ON_ALL_THREADS(std::thread([buffer] { buffer->Reserved1(); }).join(),
                                         "FrameBuffer slot 1");
}

TEST_F(StrictHost, AToolThatCalledAnUnofferedSlotExitsWithFailure) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  ip::FrameAllocator* allocator = &testAllocator_;
  // Outside a test framework the call is printed at once and the process cannot end with success.
  EXPECT_EXIT(
      {
        HostContract::SetReporter(nullptr);
        allocator->Reserved1();
        std::exit(0);
      },
      ::testing::ExitedWithCode(70), "FrameAllocator slot 1");
}

}  // namespace
