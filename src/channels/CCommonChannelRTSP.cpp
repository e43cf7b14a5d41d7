#include "channels/CCommonChannelRTSP.h"

#include "runtime/HostParameterKeys.h"

namespace norvale {

CCommonChannelRTSP::CCommonChannelRTSP(uint32_t camera, IDriver* driver, ipcapture::FrameSink* sink,
                                       const TSmartPtr<IVideoSettingsManager>& manager, int32_t codec)
    : CBaseRTSPChannel(camera, driver, sink),
      codec_(codec),
      manager_(manager),
      series_(driver ? driver->GetIntParam(hostparam::kCameraSeries) : ParamNotSet) {}

CCommonChannelRTSP::~CCommonChannelRTSP() {
  Shutdown();
  if (manager_) manager_->Reset(Settings().streamKind != StreamRecording);
  manager_.Release();
}

std::string CCommonChannelRTSP::GetStreamName() {
  const std::string name = Driver() ? Driver()->GetDriverName() : std::string();
  switch (Settings().streamKind) {
    case StreamRecording:
      return name + "::RecStream";
    case StreamLive:
      return name + "::LiveStream";
    case StreamRemote:
      return name + "::RemoteStream";
    default:
      return name;
  }
}

bool CCommonChannelRTSP::OnDescribe(const SDPDescription&) { return true; }

std::string CCommonChannelRTSP::MediaEncoding() {
  switch (codec_) {
    case ipcapture::CodecH264:
      return "H264";
    case ipcapture::CodecJPEG:
      return "JPEG";
    case ipcapture::CodecMPEG4:
      return "MP4V-ES";
    default:
      return {};
  }
}

bool CCommonChannelRTSP::Prepare() {
  if (!manager_ || StopRequested()) return false;
  return manager_->Apply(&StopEvent(), codec_, CameraRequest());
}

}  // namespace norvale
