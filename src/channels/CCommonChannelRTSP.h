#pragma once
#include <cstdint>
#include <string>

#include "channels/CBaseRTSPChannel.h"
#include "runtime/TSmartPtr.h"
#include "videosettings/IVideoSettingsManager.h"

namespace norvale {

// An RTSP channel of one codec of this camera family: before each connection the camera's video
// settings manager brings the camera's stream in line with the request; the host's allocator gets
// a stream name that tells the recording, live and remote streams apart.
class CCommonChannelRTSP : public CBaseRTSPChannel {
 public:
  CCommonChannelRTSP(uint32_t camera, IDriver* driver, ipcapture::FrameSink* sink,
                     const TSmartPtr<IVideoSettingsManager>& manager, int32_t codec);
  // The end of a recording stream makes the manager forget every stored request of the camera; the
  // end of a live or remote stream keeps them.
  ~CCommonChannelRTSP() override;

  std::string GetStreamName() override;
  bool OnDescribe(const SDPDescription& description) override;

  int32_t Codec() const { return codec_; }
  int32_t Series() const { return series_; }

 protected:
  bool Prepare() override;
  // The rtpmap name of the codec: H264, JPEG or MP4V-ES.
  std::string MediaEncoding() override;
  // The request as the camera is asked for it.
  virtual ChannelSettings CameraRequest() { return Settings(); }

 private:
  int32_t codec_;
  TSmartPtr<IVideoSettingsManager> manager_;
  int32_t series_;
};

}  // namespace norvale
