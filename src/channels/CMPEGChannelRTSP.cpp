#include "channels/CMPEGChannelRTSP.h"

namespace norvale {

CMPEGChannelRTSP::CMPEGChannelRTSP(uint32_t camera, IDriver* driver, ipcapture::FrameSink* sink,
                                   const TSmartPtr<IVideoSettingsManager>& manager)
    : CCommonChannelRTSP(camera, driver, sink, manager, ipcapture::CodecMPEG4), parser_(driver) {
  parser_.SetClient(this);
  AttachParser(&parser_);
}

CMPEGChannelRTSP::~CMPEGChannelRTSP() { Shutdown(); }

bool CMPEGChannelRTSP::OnDescribe(const SDPDescription& description) {
  parser_.SetParameterSets(description.sps, description.pps, description.config);
  return true;
}

}  // namespace norvale
