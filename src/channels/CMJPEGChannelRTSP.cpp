#include "channels/CMJPEGChannelRTSP.h"

#include "camera/CameraSeries.h"

namespace norvale {

CMJPEGChannelRTSP::CMJPEGChannelRTSP(uint32_t camera, IDriver* driver, ipcapture::FrameSink* sink,
                                     const TSmartPtr<IVideoSettingsManager>& manager)
    : CCommonChannelRTSP(camera, driver, sink, manager, ipcapture::CodecJPEG), parser_(driver) {
  parser_.SetClient(this);
  AttachParser(&parser_);
}

CMJPEGChannelRTSP::~CMJPEGChannelRTSP() { Shutdown(); }

ChannelSettings CMJPEGChannelRTSP::CameraRequest() {
  ChannelSettings request = Settings();
  if (series::LimitsJpegToFullHd(Series()) && request.height > 1080) {
    request.width = 1920;
    request.height = 1080;
  }
  return request;
}

}  // namespace norvale
