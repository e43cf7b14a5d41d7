// Our stand-in host objects offer only the slots a recording host promises. A driver that calls any
// other slot must fail the test that made it do so, whichever thread the call came from, and a tool
// built on these objects must not end with success.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <type_traits>
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
    for (ip::FrameBuffer* buffer :
         {static_cast<ip::FrameBuffer*>(&testBuffer_), static_cast<ip::FrameBuffer*>(&memoryBuffer_)}) {
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
    slots.push_back(
        {"CapabilityPropertyItem slot 2", [capabilities] { capabilities->GetPropertyItem(1)->Reserved2(); }});
    slots.push_back(
        {"CapabilityPropertyItem slot 3", [capabilities] { capabilities->GetPropertyItem(1)->Reserved3(); }});
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

// The host creates and frees its objects; the driver cannot delete one.
static_assert(!std::is_destructible_v<ip::FrameBuffer> && !std::is_destructible_v<ip::FrameAllocator> &&
              !std::is_destructible_v<ip::FrameSink> && !std::is_destructible_v<ip::LogSink> &&
              !std::is_destructible_v<ip::DeviceSource> && !std::is_destructible_v<ip::CameraObject> &&
              !std::is_destructible_v<ip::ConnectionObject> && !std::is_destructible_v<ip::StreamSettingsSource> &&
              !std::is_destructible_v<ip::StreamFormat> && !std::is_destructible_v<ip::StreamRate> &&
              !std::is_destructible_v<ip::StreamResolution> && !std::is_destructible_v<ip::IOSink> &&
              !std::is_destructible_v<ip::CapabilityCallback> && !std::is_destructible_v<ip::CapabilitySink> &&
              !std::is_destructible_v<ip::CapabilityPropertyItem> &&
              !std::is_destructible_v<ip::CapabilityConnectionItem> &&
              !std::is_destructible_v<ip::CapabilityResolutionList> &&
              !std::is_destructible_v<ip::CapabilityFrameRateList>);

#if defined(__GNUC__) && !defined(_WIN32)
// The slot of a virtual operation as the host counts it. This compiler gives the destructor two table
// entries where the host's compiler gives it one, so the host's slot is the table index less one.
template <typename Method>
int Slot(Method method) {
  struct {
    uintptr_t pointer;  // 1 + the byte offset in the table, for a virtual operation
    ptrdiff_t adjustment;
  } representation;
  static_assert(sizeof representation == sizeof method);
  std::memcpy(&representation, &method, sizeof representation);
  return static_cast<int>((representation.pointer - 1) / sizeof(void*)) - 1;
}

TEST(HostSlots, EveryOperationTheDriverCallsSitsInTheSlotTheHostHasIt) {
  EXPECT_EQ(Slot(&ip::LogSink::Write), 1);
  EXPECT_EQ(Slot(&ip::FrameBuffer::GetData), 2);
  EXPECT_EQ(Slot(&ip::FrameBuffer::SetLength), 4);
  EXPECT_EQ(Slot(&ip::FrameBuffer::SetTime), 6);
  EXPECT_EQ(Slot(&ip::FrameBuffer::SetCode), 10);
  EXPECT_EQ(Slot(&ip::FrameBuffer::SetHeight), 12);
  EXPECT_EQ(Slot(&ip::FrameBuffer::SetWidth), 14);
  EXPECT_EQ(Slot(&ip::FrameBuffer::SetSizeClass), 16);
  EXPECT_EQ(Slot(&ip::FrameAllocator::Allocate), 2);
  EXPECT_EQ(Slot(&ip::FrameAllocator::Release), 6);
  EXPECT_EQ(Slot(&ip::FrameSink::OnFrame), 1);
  EXPECT_EQ(Slot(&ip::FrameSink::OnSignalLost), 3);
  EXPECT_EQ(Slot(&ip::DeviceSource::GetCamera), 1);
  EXPECT_EQ(Slot(&ip::DeviceSource::GetConnection), 2);
  EXPECT_EQ(Slot(&ip::DeviceSource::GetParameter), 4);
  EXPECT_EQ(Slot(&ip::CameraObject::GetModel), 2);
  EXPECT_EQ(Slot(&ip::CameraObject::GetCameraCount), 3);
  EXPECT_EQ(Slot(&ip::CameraObject::GetCameraValue1), 5);
  EXPECT_EQ(Slot(&ip::CameraObject::GetCameraValue2), 6);
  EXPECT_EQ(Slot(&ip::ConnectionObject::GetAddress), 1);
  EXPECT_EQ(Slot(&ip::ConnectionObject::GetPort), 2);
  EXPECT_EQ(Slot(&ip::ConnectionObject::GetDefaultCodec), 4);
  EXPECT_EQ(Slot(&ip::ConnectionObject::GetUser), 5);
  EXPECT_EQ(Slot(&ip::ConnectionObject::GetPassword), 6);
  EXPECT_EQ(Slot(&ip::StreamSettingsSource::GetFormat), 1);
  EXPECT_EQ(Slot(&ip::StreamSettingsSource::GetRate), 2);
  EXPECT_EQ(Slot(&ip::StreamSettingsSource::GetHostValue), 5);
  EXPECT_EQ(Slot(&ip::StreamFormat::GetResolution), 3);
  EXPECT_EQ(Slot(&ip::StreamFormat::GetCodec), 4);
  EXPECT_EQ(Slot(&ip::StreamRate::GetFrameInterval), 1);
  EXPECT_EQ(Slot(&ip::StreamRate::GetQuality), 3);
  EXPECT_EQ(Slot(&ip::StreamRate::WantsCompanion), 4);
  EXPECT_EQ(Slot(&ip::StreamResolution::GetWidth), 1);
  EXPECT_EQ(Slot(&ip::StreamResolution::GetHeight), 2);
  EXPECT_EQ(Slot(&ip::IOSink::InputStateChanged), 1);
  EXPECT_EQ(Slot(&ip::IOSink::IOFailed), 2);
  EXPECT_EQ(Slot(&ip::CapabilityCallback::QuerySucceeded), 2);
  EXPECT_EQ(Slot(&ip::CapabilityCallback::QueryFailed), 3);
  EXPECT_EQ(Slot(&ip::CapabilityCallback::QueryAbandoned), 4);
  EXPECT_EQ(Slot(&ip::CapabilitySink::SetCapability), 1);
  EXPECT_EQ(Slot(&ip::CapabilitySink::SetModelName), 2);
  EXPECT_EQ(Slot(&ip::CapabilitySink::GetConnectionItem), 3);
  EXPECT_EQ(Slot(&ip::CapabilitySink::GetPropertyItem), 5);
  EXPECT_EQ(Slot(&ip::CapabilitySink::GetResolutionList), 6);
  EXPECT_EQ(Slot(&ip::CapabilitySink::GetFrameRateList), 8);
  EXPECT_EQ(Slot(&ip::CapabilityConnectionItem::SetValue), 1);
  EXPECT_EQ(Slot(&ip::CapabilityPropertyItem::SetValue), 1);
  EXPECT_EQ(Slot(&ip::CapabilityPropertyItem::SetValueIsText), 4);
  EXPECT_EQ(Slot(&ip::CapabilityPropertyItem::SetName), 5);
  EXPECT_EQ(Slot(&ip::CapabilityPropertyItem::SetFlags), 6);
  EXPECT_EQ(Slot(&ip::CapabilityResolutionList::Add), 1);
  EXPECT_EQ(Slot(&ip::CapabilityFrameRateList::SetDefault), 1);
  EXPECT_EQ(Slot(&ip::CapabilityFrameRateList::Add), 2);
}
#endif

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
  EXPECT_NONFATAL_FAILURE_ON_ALL_THREADS(std::thread([buffer] { buffer->Reserved1(); }).join(), "FrameBuffer slot 1");
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
