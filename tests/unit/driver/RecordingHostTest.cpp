// The stand-in host's own bookkeeping, which other tests rely on to find leaked or doubly released
// frame buffers and refused frames.
#include <gtest/gtest.h>

#include <stdexcept>

#include "support/HostObjects.h"

namespace {

using zephrin::test::RecordingFrameSink;
using zephrin::test::TestFrameAllocator;

TEST(RecordingHost, AllocatorBalanceCatchesLeaksAndDoubleReleases) {
  TestFrameAllocator allocator;
  auto* a = allocator.Allocate(0x34363248, 1024, "Video");
  auto* b = allocator.Allocate(0x4745504A, 16, "Video");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_GE(static_cast<zephrin::test::TestFrameBuffer*>(a)->Capacity(), 1024u);
  a->GetData()[1023] = 1;  // the whole capacity is writable
  allocator.Release(a);
  EXPECT_FALSE(allocator.Balanced());  // b is still out
  allocator.Release(b);
  EXPECT_TRUE(allocator.Balanced());
  allocator.Release(b);  // a second release of the same buffer
  EXPECT_FALSE(allocator.Balanced());
  EXPECT_EQ(allocator.BadReleases(), 1u);

  allocator.SetRefuse(true);
  EXPECT_EQ(allocator.Allocate(0, 10, "Video"), nullptr);
  EXPECT_EQ(allocator.Refusals(), 1u);
  ASSERT_EQ(allocator.AllocationLog().size(), 2u);
  EXPECT_EQ(allocator.AllocationLog()[1].fourCC, 0x4745504Au);
}

TEST(RecordingHost, FrameSinkRecordsFramesAndAnswersAsTold) {
  TestFrameAllocator allocator;
  RecordingFrameSink sink;
  sink.SetKeepData(true);
  auto* frame = allocator.Allocate(0x34363248, 8, "Video");
  frame->GetData()[0] = 0xAB;
  frame->SetLength(1);
  frame->SetWidth(640);
  frame->SetHeight(480);
  const norvale::ipcapture::SystemTimeRecord time{2024, 5, 3, 17, 12, 30, 45, 123};
  frame->SetTime(&time);

  EXPECT_TRUE(sink.OnFrame(frame));
  sink.SetMode(RecordingFrameSink::Mode::Refuse);
  EXPECT_FALSE(sink.OnFrame(frame));
  sink.SetMode(RecordingFrameSink::Mode::Throw);
  EXPECT_THROW(sink.OnFrame(frame), std::runtime_error);
  sink.OnSignalLost();
  allocator.Release(frame);

  EXPECT_EQ(sink.FrameCount(), 3u);
  EXPECT_EQ(sink.SignalLostCount(), 1u);
  const auto frames = sink.Frames();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].width, 640);
  EXPECT_EQ(frames[0].height, 480);
  EXPECT_EQ(frames[0].time.milliseconds, 123);
  EXPECT_TRUE(frames[0].timeSet);
  EXPECT_EQ(frames[0].stream, "Video");
  ASSERT_EQ(frames[0].data.size(), 1u);
  EXPECT_EQ(frames[0].data[0], 0xAB);
  EXPECT_TRUE(allocator.Balanced());
}

}  // namespace
