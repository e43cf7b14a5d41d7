#pragma once
#include <cstdint>
#include <string>

#include "channels/CBaseRTPChannel.h"
#include "streaming/CBaseRTSPClient.h"
#include "streaming/IRTSPClientUser.h"
#include "streaming/RTSPConnectionSettings.h"

namespace norvale {

// An RTP channel whose stream is opened by an RTSP session on port 554 of the device: the UDP ports
// (in UDP mode) are chosen first and named in SETUP; in the interleaved mode the packets come through
// the session's own connection.
class CBaseRTSPChannel : public CBaseRTPChannel, public IRTSPClientUser {
 public:
  CBaseRTSPChannel(uint32_t camera, IDriver* driver, ipcapture::FrameSink* sink);
  ~CBaseRTSPChannel() override;

  // ---- IRTSPClientUser ----
  void OnInterleavedPacket(const CRTPPacket& packet) override { TakePacket(packet); }
  void OnClientStopped() override {}
  // A source= in the SETUP answer other than the device's address: its packets are taken too.
  void OnStreamSource(uint32_t address) override;

  // The settings the session is opened with (after the local ports are known).
  RTSPConnectionSettings ConnectionSettings();

 protected:
  bool Connect() override;     // slot 10
  void Disconnect() override;  // slot 11
  // Slot 16: the stream path on the camera.
  virtual void FillStreamPath(RTSPConnectionSettings& settings) = 0;
  // The encoding name the stream must have in the camera's description (e.g. H264); empty for any.
  virtual std::string MediaEncoding() { return {}; }

 private:
  CBaseRTSPClient client_;
};

}  // namespace norvale
