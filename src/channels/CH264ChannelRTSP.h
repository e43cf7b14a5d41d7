#pragma once
#include <atomic>

#include "channels/CCommonChannelRTSP.h"
#include "streaming/CH264RTPMediaParser.h"

namespace norvale {

// H.264 from the camera's "h264" stream, or from its second stream "h264_2" for a live stream and
// for a recording stream below 720 lines when the camera has one, or "h264_3" for a remote stream.
class CH264ChannelRTSP : public CCommonChannelRTSP {
 public:
  CH264ChannelRTSP(uint32_t camera, IDriver* driver, ipcapture::FrameSink* sink,
                   const TSmartPtr<IVideoSettingsManager>& manager);
  ~CH264ChannelRTSP() override;

  bool OnDescribe(const SDPDescription& description) override;
  bool UsesSecondStream() const { return useSecondStream_; }

 protected:
  bool Prepare() override;
  void HandleRTPPacket(const CRTPPacket& packet) override { parser_.ProcessPacket(packet); }
  void FillStreamPath(RTSPConnectionSettings& settings) override;

 private:
  CH264RTPMediaParser parser_;
  bool secondStreamAllowed_;
  std::atomic<bool> useSecondStream_{false};
};

}  // namespace norvale
