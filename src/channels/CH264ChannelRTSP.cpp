#include "channels/CH264ChannelRTSP.h"

#include "runtime/HostParameterKeys.h"

namespace norvale {

CH264ChannelRTSP::CH264ChannelRTSP(uint32_t camera, IDriver* driver, ipcapture::FrameSink* sink,
                                   const TSmartPtr<IVideoSettingsManager>& manager)
    : CCommonChannelRTSP(camera, driver, sink, manager, ipcapture::CodecH264),
      parser_(driver),
      secondStreamAllowed_(driver && driver->GetIntParam(hostparam::kSecondH264Stream) == 1) {
  parser_.SetClient(this);
  AttachParser(&parser_);
}

CH264ChannelRTSP::~CH264ChannelRTSP() { Shutdown(); }

bool CH264ChannelRTSP::OnDescribe(const SDPDescription& description) {
  parser_.SetParameterSets(description.sps, description.pps, description.config);
  return true;
}

bool CH264ChannelRTSP::Prepare() {
  useSecondStream_ = secondStreamAllowed_ && Settings().height < 720;
  return CCommonChannelRTSP::Prepare();
}

void CH264ChannelRTSP::FillStreamPath(RTSPConnectionSettings& settings) {
  switch (Settings().streamKind) {
    case StreamLive:
      settings.path = "h264_2";
      break;
    case StreamRemote:
      settings.path = "h264_3";
      break;
    default:
      settings.path = useSecondStream_ ? "h264_2" : "h264";
      break;
  }
}

}  // namespace norvale
