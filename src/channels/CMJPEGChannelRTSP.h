#pragma once
#include "channels/CCommonChannelRTSP.h"
#include "streaming/CJpegRTPMediaParser.h"

namespace norvale {

// JPEG from the camera's "jpeg" stream. Cameras of series 7 send JPEG at most at 1920 x 1080, so a
// larger request is lowered to that.
class CMJPEGChannelRTSP : public CCommonChannelRTSP {
 public:
  CMJPEGChannelRTSP(uint32_t camera, IDriver* driver, ipcapture::FrameSink* sink,
                    const TSmartPtr<IVideoSettingsManager>& manager);
  ~CMJPEGChannelRTSP() override;

 protected:
  ChannelSettings CameraRequest() override;
  void HandleRTPPacket(const CRTPPacket& packet) override { parser_.ProcessPacket(packet); }
  void FillStreamPath(RTSPConnectionSettings& settings) override { settings.path = "jpeg"; }

 private:
  CJpegRTPMediaParser parser_;
};

}  // namespace norvale
