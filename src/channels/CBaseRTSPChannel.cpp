#include "channels/CBaseRTSPChannel.h"

namespace norvale {

CBaseRTSPChannel::CBaseRTSPChannel(uint32_t camera, IDriver* driver, ipcapture::FrameSink* sink)
    : CBaseRTPChannel(camera, driver, sink), client_(driver) {
  AttachSession(&client_);
}

CBaseRTSPChannel::~CBaseRTSPChannel() {
  Shutdown();
  AttachSession(nullptr);  // the session goes before the base channel's own shutdown
}

RTSPConnectionSettings CBaseRTSPChannel::ConnectionSettings() {
  RTSPConnectionSettings settings;
  if (const DEVICE_INFO* device = Driver() ? Driver()->GetDeviceInfo() : nullptr) {
    settings.host = device->address;
    settings.user = device->user;
    settings.password = device->password;
    const uint32_t timeout = device->networkTimeout > 0 ? static_cast<uint32_t>(device->networkTimeout) : 0u;
    settings.connectTimeout = timeout;
    settings.receiveTimeout = timeout;
  }
  settings.clientRTPPort = Receiver().LocalPort();
  settings.clientRTCPPort = RTCPHandler().LocalPort();
  FillStreamPath(settings);
  settings.encoding = MediaEncoding();
  return settings;
}

bool CBaseRTSPChannel::Connect() {
  if (!CBaseRTPChannel::Connect()) return false;
  const RTSPConnectionSettings settings = ConnectionSettings();
  if (StopRequested()) return false;
  return client_.Start(settings, this, static_cast<enum RTPMode>(RTPMode()));
}

void CBaseRTSPChannel::OnStreamSource(uint32_t address) {
  if (address != DeviceAddress()) AcceptStreamSource(address);
}

void CBaseRTSPChannel::Disconnect() {
  client_.Stop();
  CBaseRTPChannel::Disconnect();
}

}  // namespace norvale
