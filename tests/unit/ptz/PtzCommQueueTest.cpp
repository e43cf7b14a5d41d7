// The PTZ communicator's command queue: capability checks, the records it queues, execution order on
// the channel's worker thread, and the bound of sixteen waiting commands.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "ptz/CBasePTZComm.h"
#include "runtime/CEvent.h"
#include "support/FakeDriver.h"

namespace norvale {
namespace {

using namespace ipcapture;
constexpr int32_t PtzOk = PTZ_OK, PtzFailed = PTZ_Failed, PtzNotSupported = PTZ_NotSupported;

struct Executed {
  int32_t type, subtype, speed, a, b, c;
  IIPParams* params;
};

// Records every command it executes; can hold the worker inside a command (a slow camera).
class RecordingComm : public CBasePTZComm {
 public:
  RecordingComm(IDriver* driver, const CPtzCapabilities& caps, uint16_t channel = 0)
      : CBasePTZComm(driver, caps, channel) {}
  ~RecordingComm() override { Close(); }

  bool StorePreposition(uint32_t, const std::string&) override { return true; }
  bool GotoPreposition(uint32_t, const std::string&, int32_t) override { return true; }

  std::vector<Executed> Done() {
    std::lock_guard<std::mutex> lock(mutex_);
    return done_;
  }
  // Waits until count commands were executed.
  bool WaitDone(size_t count) {
    for (int i = 0; i < 500; ++i) {
      if (Done().size() >= count) return true;
      doneEvent_.Wait(20);
    }
    return false;
  }

  std::atomic<bool> holdFirst{false};
  std::atomic<bool> throwOnFocus{false};
  CManualEvent entered;  // the worker is inside a held command
  CManualEvent release;  // lets it go on

 protected:
  void HandleWorkItem(CPTZItem* item) override {
    if (holdFirst.exchange(false)) {
      entered.Set();
      release.Wait(10000);
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_.push_back({item->type, item->subtype, item->speed, item->extraA, item->extraB, item->extraC, item->params});
    }
    doneEvent_.Set();
    if (throwOnFocus && item->type == CPTZItem::Focus) throw std::runtime_error("camera fault");
  }

 private:
  std::mutex mutex_;
  std::vector<Executed> done_;
  CEvent doneEvent_;
};

CPtzCapabilities Caps(bool pan, bool tilt, bool zoom, bool focus = false, bool iris = false, bool area = false,
                      bool center = false, bool unzoom = false, int presets = 0) {
  CPtzCapabilities c;
  c.pan = pan;
  c.tilt = tilt;
  c.zoom = zoom;
  c.focus = focus;
  c.iris = iris;
  c.areaZoom = area;
  c.center = center;
  c.unzoom = unzoom;
  c.presetCount = presets;
  return c;
}

class NoParams : public IIPParams {
 public:
  int32_t GetChannel() override { return 0; }
  bool GetFlagA() override { return false; }
  void SetFlagA(bool) override {}
  bool GetManualFocus() override { return false; }
  void SetManualFocus(bool) override {}
};

TEST(PtzCommQueue, RefusesWhatTheCameraCannotDoAndQueuesNothing) {
  zephrin::test::FakeDriver driver;
  RecordingComm panOnly(&driver, Caps(true, false, false));
  ASSERT_TRUE(panOnly.Open());
  EXPECT_EQ(PtzNotSupported, panOnly.StartMove(nullptr, 8, 5));  // zoom in
  EXPECT_EQ(PtzNotSupported, panOnly.StartMove(nullptr, 9, 5));  // zoom out
  EXPECT_EQ(PtzNotSupported, panOnly.StartFocus(nullptr, true, 5));
  EXPECT_EQ(PtzNotSupported, panOnly.StartIris(nullptr, false, 5));
  EXPECT_EQ(PtzNotSupported, panOnly.AreaZoom(nullptr, 1, 2, 3, 4));
  EXPECT_EQ(PtzNotSupported, panOnly.Center(nullptr, 1, 2, 3));
  EXPECT_EQ(PtzNotSupported, panOnly.Unzoom(nullptr, 1));
  EXPECT_EQ(PtzOk, panOnly.StartMove(nullptr, 0, 5));

  RecordingComm zoomOnly(&driver, Caps(false, false, true));
  ASSERT_TRUE(zoomOnly.Open());
  for (int direction : {0, 1, 2, 3, 4, 5, 6, 7, 10, -1})
    EXPECT_EQ(PtzNotSupported, zoomOnly.StartMove(nullptr, direction, 5));
  EXPECT_EQ(PtzOk, zoomOnly.StartMove(nullptr, 8, 5));

  ASSERT_TRUE(panOnly.WaitDone(1));
  ASSERT_TRUE(zoomOnly.WaitDone(1));
  EXPECT_EQ(1u, panOnly.Done().size());
  EXPECT_EQ(1u, zoomOnly.Done().size());
  EXPECT_EQ(0u, driver.Lines().size()) << "a refused command is not logged";
}

TEST(PtzCommQueue, QueuesCommandRecordsAndExecutesThemInOrder) {
  zephrin::test::FakeDriver driver;
  NoParams params;
  RecordingComm comm(&driver, Caps(true, true, true, true, true, true, true, true));
  ASSERT_TRUE(comm.Open());
  EXPECT_EQ(PtzOk, comm.StartMove(&params, 4, 16));
  EXPECT_EQ(PtzOk, comm.StartMove(&params, 9, 3));
  EXPECT_EQ(PtzOk, comm.StartFocus(&params, true, 7));
  EXPECT_EQ(PtzOk, comm.StartFocus(&params, false, 7));
  EXPECT_EQ(PtzOk, comm.StartIris(&params, true, 2));
  EXPECT_EQ(PtzOk, comm.StartIris(&params, false, 2));
  EXPECT_EQ(PtzOk, comm.AreaZoom(&params, 11, 12, 13, 14));
  EXPECT_EQ(PtzOk, comm.Center(&params, 21, 22, 23));
  EXPECT_EQ(PtzOk, comm.Unzoom(&params, 31));
  EXPECT_TRUE(comm.StopMoving(&params));
  EXPECT_TRUE(comm.StopZooming(&params));
  EXPECT_TRUE(comm.StopFocusing(&params));
  EXPECT_TRUE(comm.StopIrisChanging(&params));
  ASSERT_TRUE(comm.WaitDone(13));

  const std::vector<Executed> done = comm.Done();
  struct Want {
    int32_t type, subtype, speed, a, b, c;
  };
  const Want want[] = {
      {1, 0, 16, 4, 0, 0}, {1, 0, 3, 9, 0, 0},     {2, 2, 7, 0, 0, 0},    {2, 1, 7, 0, 0, 0},  {3, 3, 2, 0, 0, 0},
      {3, 4, 2, 0, 0, 0},  {5, 0, 14, 11, 12, 13}, {6, 0, 23, 21, 22, 0}, {7, 0, 31, 0, 0, 0}, {4, 5, 0, 0, 0, 0},
      {4, 6, 0, 0, 0, 0},  {4, 7, 0, 0, 0, 0},     {4, 8, 0, 0, 0, 0},
  };
  ASSERT_EQ(std::size(want), done.size());
  for (size_t i = 0; i < done.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(want[i].type, done[i].type);
    EXPECT_EQ(want[i].subtype, done[i].subtype);
    EXPECT_EQ(want[i].speed, done[i].speed);
    EXPECT_EQ(want[i].a, done[i].a);
    EXPECT_EQ(want[i].b, done[i].b);
    EXPECT_EQ(want[i].c, done[i].c);
    EXPECT_EQ(&params, done[i].params);
  }
}

TEST(PtzCommQueue, StopsAreQueuedEvenForAbilitiesTheCameraLacks) {
  zephrin::test::FakeDriver driver;
  RecordingComm comm(&driver, Caps(false, false, false));
  ASSERT_TRUE(comm.Open());
  EXPECT_FALSE(comm.HasPTZ());
  EXPECT_TRUE(comm.StopMoving(nullptr));
  EXPECT_TRUE(comm.StopZooming(nullptr));
  EXPECT_TRUE(comm.StopFocusing(nullptr));
  EXPECT_TRUE(comm.StopIrisChanging(nullptr));
  ASSERT_TRUE(comm.WaitDone(4));
}

TEST(PtzCommQueue, SeventeenthWaitingCommandDropsTheOldestWaitingOne) {
  zephrin::test::FakeDriver driver;
  RecordingComm comm(&driver, Caps(true, true, false));
  ASSERT_TRUE(comm.Open());
  comm.holdFirst = true;
  ASSERT_EQ(PtzOk, comm.StartMove(nullptr, 0, 100));  // being executed: the camera is slow
  ASSERT_TRUE(comm.entered.Wait(5000));
  for (int speed = 1; speed <= 17; ++speed) ASSERT_EQ(PtzOk, comm.StartMove(nullptr, 1, speed));
  EXPECT_EQ(CBasePTZComm::kMaxWaiting, comm.QueuedCount());
  comm.release.Set();
  ASSERT_TRUE(comm.WaitDone(17));

  const std::vector<Executed> done = comm.Done();
  ASSERT_EQ(17u, done.size());
  EXPECT_EQ(100, done[0].speed);
  for (size_t i = 1; i < done.size(); ++i) EXPECT_EQ(static_cast<int32_t>(i + 1), done[i].speed) << "position " << i;
}

TEST(PtzCommQueue, ConcurrentCommandsNeverExceedTheBound) {
  zephrin::test::FakeDriver driver;
  RecordingComm comm(&driver, Caps(true, true, true));
  ASSERT_TRUE(comm.Open());
  comm.holdFirst = true;
  ASSERT_EQ(PtzOk, comm.StartMove(nullptr, 0, 0));
  ASSERT_TRUE(comm.entered.Wait(5000));
  std::vector<std::thread> hosts;
  for (int t = 0; t < 4; ++t)
    hosts.emplace_back([&comm, t] {
      for (int i = 0; i < 50; ++i) comm.StartMove(nullptr, 1, t * 1000 + i + 1);
    });
  for (auto& h : hosts) h.join();
  EXPECT_EQ(CBasePTZComm::kMaxWaiting, comm.QueuedCount());
  comm.release.Set();
  ASSERT_TRUE(comm.WaitDone(17));
  const std::vector<Executed> done = comm.Done();
  EXPECT_EQ(17u, done.size());
  // Within each host thread the survivors are its newest commands, in order.
  std::vector<int32_t> last(4, 0);
  for (size_t i = 1; i < done.size(); ++i) {
    const int32_t t = done[i].speed / 1000;
    EXPECT_GT(done[i].speed, last[t]);
    last[t] = done[i].speed;
  }
}

TEST(PtzCommQueue, AFailingCommandDoesNotStopTheQueue) {
  zephrin::test::FakeDriver driver;
  RecordingComm comm(&driver, Caps(true, true, true, true));
  ASSERT_TRUE(comm.Open());
  comm.throwOnFocus = true;
  EXPECT_EQ(PtzOk, comm.StartFocus(nullptr, true, 1));
  EXPECT_EQ(PtzOk, comm.StartMove(nullptr, 2, 1));
  ASSERT_TRUE(comm.WaitDone(2));
  EXPECT_EQ(CPTZItem::Move, comm.Done()[1].type);
}

TEST(PtzCommQueue, ClosedQueueRefusesCommandsWithALogLine) {
  zephrin::test::FakeDriver driver;
  RecordingComm comm(&driver, Caps(true, true, true), 2);
  ASSERT_TRUE(comm.Open());
  EXPECT_TRUE(comm.IsOpened());
  EXPECT_EQ("BaseIPPTZThread_Ch3", comm.ThreadName());
  EXPECT_TRUE(comm.Close());
  EXPECT_FALSE(comm.Close()) << "closing twice";
  EXPECT_EQ(PtzFailed, comm.StartMove(nullptr, 8, 1));
  EXPECT_FALSE(comm.StopMoving(nullptr));
  EXPECT_TRUE(driver.Contains("norvale::CBasePTZComm::StartMove: cannot send message (1) to thread"));
  EXPECT_TRUE(driver.Contains("norvale::CBasePTZComm::StopMoving: cannot send message (4) to thread"));
  // It can be opened again.
  ASSERT_TRUE(comm.Open());
  EXPECT_EQ(PtzOk, comm.StartMove(nullptr, 8, 1));
  EXPECT_TRUE(comm.WaitDone(1));
}

TEST(PtzCommQueue, ChannelZeroThreadCarriesNumberOne) {
  zephrin::test::FakeDriver driver;
  RecordingComm comm(&driver, Caps(true, false, false));
  ASSERT_TRUE(comm.Open());
  EXPECT_EQ("BaseIPPTZThread_Ch1", comm.ThreadName());
}

TEST(PtzCommQueue, CapabilitiesAndHasPtz) {
  zephrin::test::FakeDriver driver;
  EXPECT_FALSE(RecordingComm(&driver, Caps(false, false, false, false, false, true, true, true)).HasPTZ())
      << "area zoom, centre and unzoom alone are no PTZ";
  EXPECT_TRUE(RecordingComm(&driver, Caps(false, false, false, false, true)).HasPTZ());

  RecordingComm comm(&driver, Caps(true, false, true, false, true, true, false, true, 8));
  int32_t raw[14];
  for (int32_t& field : raw) field = 77;
  PTZCapabilityRecord host;
  std::memcpy(&host, raw, sizeof host);
  EXPECT_EQ(1, comm.GetCapabilities(&host));
  int32_t record[14];
  std::memcpy(record, &host, sizeof record);
  const int32_t want[14] = {77, 1, 0, 1, 0, 1, 0, 8, 0, 0, 0, 1, 0, 1};
  for (int i = 0; i < 14; ++i) EXPECT_EQ(want[i], record[i]) << "field " << i;
}

TEST(PtzCommQueue, ForwardsItsLogToTheDevice) {
  zephrin::test::FakeDriver driver;
  RecordingComm comm(&driver, Caps(true, false, false));
  IDebugMessage& log = comm;
  EXPECT_EQ("127.0.0.1:80", log.GetDeviceName());
  log.Log(LogWarning, "%s: %d%%", "x", 5);
  ASSERT_EQ(1u, driver.Lines().size());
  EXPECT_EQ("x: 5%", driver.Lines()[0].text);
  EXPECT_EQ(LogWarning, driver.Lines()[0].level);
}

}  // namespace
}  // namespace norvale
