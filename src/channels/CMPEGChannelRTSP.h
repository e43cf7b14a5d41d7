#pragma once
#include "channels/CCommonChannelRTSP.h"
#include "streaming/CMpeg4RTPMediaParser.h"

namespace norvale {

// MPEG-4 part 2 from the camera's "mpeg4" stream.
class CMPEGChannelRTSP : public CCommonChannelRTSP {
 public:
  CMPEGChannelRTSP(uint32_t camera, IDriver* driver, ipcapture::FrameSink* sink,
                   const TSmartPtr<IVideoSettingsManager>& manager);
  ~CMPEGChannelRTSP() override;

  bool OnDescribe(const SDPDescription& description) override;

 protected:
  void HandleRTPPacket(const CRTPPacket& packet) override { parser_.ProcessPacket(packet); }
  void FillStreamPath(RTSPConnectionSettings& settings) override { settings.path = "mpeg4"; }

 private:
  CMpeg4RTPMediaParser parser_;
};

}  // namespace norvale
