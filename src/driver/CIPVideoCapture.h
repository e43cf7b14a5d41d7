#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "channels/IVideoChannelCreator.h"
#include "driver/CChannelReaper.h"
#include "host/HostInterfaces.h"
#include "runtime/RecursiveLock.h"

namespace norvale {

// What the host receives from GetVideoCapture: a table of cameras with up to four video streams and
// one companion channel each, through which the host starts and stops streams and reads their
// status. Channels come from the driver's channel factory and belong to this object until a stop
// hands them to the driver's reaper: a stop returns within its limit even while one of the stream's
// threads is held in the host.
//
// A host that stops, restarts or changes a camera's streams from inside its own FrameSink (on the
// thread that hands it a frame of that camera) is refused: the call returns false and changes
// nothing, because the channel handing over the frame cannot be stopped or freed under its own
// hand-off. So is any such call made from a callback (a log line) inside another start, stop or
// change of the same camera: the channel being started or stopped there is not replaced or freed
// under it. Such a request is to be made from another thread.
//
// A host's start, stop or change waits at most one stop limit in all: first for another start, stop
// or change of the same camera (it is refused with false when that lasts the whole limit), then, for
// what is left of the limit, for the streams it stops. A change of resolution starts stream 0 afresh
// from the request it was started with, so it too returns while the running stream is held.
class CIPVideoCapture : public ipcapture::IIPVideoCaptureEx2 {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(CIPVideoCapture);
  static constexpr uint32_t kStreams = 4;

  // Without the driver's reaper the object has one of its own (with the default stop limit).
  CIPVideoCapture(uint32_t cameraCount, IVideoChannelCreator* creator, CChannelReaper* reaper = nullptr);
  virtual ~CIPVideoCapture();
  CIPVideoCapture(const CIPVideoCapture&) = delete;
  CIPVideoCapture& operator=(const CIPVideoCapture&) = delete;

  uint32_t GetCameraCount() override;
  bool StartCapture(uint32_t camera, ipcapture::FrameSink* sink, ipcapture::StreamSettingsSource* source) override;
  bool StopCapture(uint32_t camera) override;
  bool ChangeResolution(uint32_t camera, ipcapture::StreamResolution* resolution, int32_t frameInterval) override;
  int32_t Reserved5() override { return 0; }
  bool GetCaptureStatus(uint32_t camera, int32_t* state, int32_t* value, uint8_t* flagByte, bool flag) override;
  bool Reserved7(uint32_t, uint32_t, uint32_t) override { return false; }
  bool Reserved8(uint32_t, uint32_t, uint32_t) override { return false; }
  bool ChannelQuery6(uint32_t camera) override;
  bool ChannelQuery5(uint32_t camera) override;
  bool StartStream(uint32_t camera, uint32_t stream, ipcapture::FrameSink* sink,
                   ipcapture::StreamSettingsSource* source) override;
  bool StopStream(uint32_t camera, uint32_t stream) override;

 private:
  // How a stream was started; stream 0's is kept, so that a change of resolution can start it afresh.
  struct Recipe {
    ipcapture::FrameSink* sink = nullptr;
    int32_t codec = 0;
    bool hasHostValue = false;
    int32_t hostValue = 0;
    ChannelSettings settings;
  };
  struct Row {
    std::array<ICameraChannel*, kStreams> streams{};
    ICameraChannel* companion = nullptr;
    Recipe recipe;  // of streams[0]
    // Serialises the host's start, stop and change operations on this camera, so that a channel
    // is never deleted while another of them still uses it. Status queries need only the table lock.
    RecursiveLock control;
  };
  // A host call's hold on a camera: the row's control lock, taken within the call's limit, and
  // what is left of that limit for the streams the call stops.
  class Call {
   public:
    Call(const CIPVideoCapture& capture, Row& row)
        : capture_(capture), start_(platform::TickCount()), control_(row.control, capture.CallLimit()) {}
    bool Owns() const { return control_.Owns(); }
    uint32_t Left() const { return platform::TimeLeft(start_, capture_.CallLimit()); }

   private:
    const CIPVideoCapture& capture_;
    uint32_t start_;
    TimedLockGuard control_;
  };

  // The request of a host stream settings source; false when the source lacks a part.
  static bool ReadSettings(ipcapture::StreamSettingsSource* source, int32_t streamKind, ChannelSettings* settings,
                           int32_t* codec);
  // Whether this thread is inside the frame hand-off of one of the row's channels (kWholeCamera) or
  // of the given stream's.
  static constexpr int kWholeCamera = -1;
  bool HandingFrame(const Row& row, int stream);
  // Whether this thread is inside a start, stop or change of the row (in a callback made there).
  static bool InsideControl(const Row& row) { return row.control.IsHeldByThisThread(); }
  // The longest a host call waits in all.
  uint32_t CallLimit() const;
  // The operations proper, within a call that holds the row.
  bool StopRow(Row& row, const Call& call);
  bool StopRowStream(Row& row, uint32_t stream, const Call& call);
  // Stores a new channel as the stream (stream 0 keeps the recipe too), stops the one it replaces and
  // starts the new one with the recipe; whether it started. Stored also when the start fails, so that
  // the next stop frees it.
  bool StartIn(Row& row, uint32_t stream, std::unique_ptr<ICameraChannel> made, const Recipe& recipe, const Call& call);
  // Runs f(row, call) for a host call on a camera (kWholeCamera) or one of its streams, holding the
  // camera within the call's limit; false (nothing done) for a camera or stream that is not there,
  // from inside a call on the same camera or a frame hand-off of its streams (of that stream), or when
  // another call holds it the whole limit.
  template <typename F>
  bool WithCamera(uint32_t camera, int stream, F f);
  // Runs f(channel) for stream 0 of the camera under the table lock; false without one.
  template <typename F>
  bool WithStream0(uint32_t camera, F f);

  IVideoChannelCreator* creator_;
  std::unique_ptr<CChannelReaper> ownReaper_;  // when the driver gave none
  CChannelReaper* reaper_;
  RecursiveLock lock_;  // the table's pointers
  std::vector<std::unique_ptr<Row>> rows_;
};

}  // namespace norvale
