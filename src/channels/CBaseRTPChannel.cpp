#include "channels/CBaseRTPChannel.h"

#include "platform/Guard.h"
#include "runtime/StringUtils.h"

namespace norvale {

namespace {
thread_local const ICameraChannel* handingFrame = nullptr;

// Marks this thread as running inside one channel (in the host's frame sink, or in another host call
// made for that channel) while it lives.
struct Handing {
  const ICameraChannel* previous = handingFrame;
  explicit Handing(const ICameraChannel* channel) { handingFrame = channel; }
  ~Handing() { handingFrame = previous; }
  Handing(const Handing&) = delete;
  Handing& operator=(const Handing&) = delete;
};
}  // namespace

CBaseRTPChannel::CBaseRTPChannel(uint32_t camera, IDriver* driver, ipcapture::FrameSink* sink)
    : CBaseCameraChannel(camera, driver),
      sink_(sink),
      deviceAddress_(driver ? ResolveHost(driver->GetDeviceInfo()->address) : 0),
      receiver_(driver),
      rtcp_(driver) {
  if (driver) configuration_.Read(driver);
  receiver_.SetUser(this);
  // Packets of any other sender are dropped by the receiver before they take a place in its queue.
  receiver_.AcceptOnlyFrom(deviceAddress_);
  rtcp_.SetByeListener(this);
}

CBaseRTPChannel::~CBaseRTPChannel() { Shutdown(); }

void CBaseRTPChannel::Shutdown() {
  Stop();
  DisconnectStream();
  // A delivery thread that outlived its stop is inside this channel (in the host's frame sink):
  // the channel is not freed under it.
  if (session_) session_->WaitForSessionEnd();
  receiver_.WaitForDeliveryEnd();
  // Once, from the most derived destructor, while the depacketizer still exists.
  if (parser_ && Driver())
    Driver()->Log(LogInfo, "%s: %s: dropped by the depacketizer: %s", ZEPHRIN_FUNCTION, CameraText(false).c_str(),
                  Drops().Text().c_str());
  parser_ = nullptr;
}

MediaDropCounts CBaseRTPChannel::Drops() {
  MediaDropCounts counts = parser_ ? parser_->Drops() : MediaDropCounts{};
  counts.duplicate = receiver_.DuplicatePackets();
  counts.foreign = receiver_.ForeignPackets();
  return counts;
}

uint32_t CBaseRTPChannel::StreamTimeout() {
  const DEVICE_INFO* device = Driver() ? Driver()->GetDeviceInfo() : nullptr;
  return device && device->streamTimeout > 0 ? static_cast<uint32_t>(device->streamTimeout) : 15000u;
}

void CBaseRTPChannel::CaptureThreadBody() {
  // Every host call on this thread (log lines included) runs inside this channel: a host that stops
  // or restarts it from there is refused, as from OnFrame.
  Handing handing(this);
  OnThreadStart();
  LastFrameTime().Reset();
  const uint32_t limit = StreamTimeout();
  while (!StopRequested()) {
    uint32_t wait = kRound;
    if (GetState() == ChannelStreaming) {
      if (keepAlive_.Elapsed() > kKeepAlivePeriod) {
        KeepAlive();
        keepAlive_.Reset();
      }
    } else if (ConnectStream()) {
      CEvent* events[2] = {&StopEvent(), &frameEvent_};
      if (CEvent::WaitAny(events, 2, limit) == 1) {
        SetState(ChannelStreaming);
        keepAlive_.Reset();
      } else {
        wait = 10;
      }
    }
    WaitRound(wait);

    const uint32_t silence = LastFrameTime().Elapsed();
    if (silence >= limit / 2) {
      if (StopRequested()) break;
      SetState(ChannelSignalLost);  // the next round reconnects
      if (silence >= limit) {
        // Told on every round while no frame comes: a host may take the repeated call as the state
        // of the picture. The offline line is written once, when the camera goes offline.
        TellSignalLost();
        SetCameraState(false);
      }
    } else if (StopRequested()) {
      break;
    }
  }
  DisconnectStream();
  SetCameraState(false);
}

void CBaseRTPChannel::WaitRound(uint32_t ms) {
  CEvent* events[2] = {&StopEvent(), &byeEvent_};
  if (CEvent::WaitAny(events, 2, ms) != 1) return;
  // The camera ended the stream: reconnect now rather than after half the stream time-out. The
  // signal-loss rules stay those of the missing frames.
  byeEvent_.Reset();
  if (GetState() != ChannelStreaming) return;
  SetState(ChannelSignalLost);
  if (Driver())
    Driver()->Log(LogInfo, "%s: %s ended the stream (RTCP BYE); reconnecting", ZEPHRIN_FUNCTION,
                  CameraText(true).c_str());
}

bool CBaseRTPChannel::ConnectStream() {
  DisconnectStream();
  frameEvent_.Reset();
  byeEvent_.Reset();  // a BYE of the session before does not end the new one
  AcceptStreamSource(0);
  if (Prepare()) return Connect();
  DisconnectStream();
  return false;
}

void CBaseRTPChannel::DisconnectStream() {
  SetState(ChannelStopped);
  Disconnect();
}

bool CBaseRTPChannel::Connect() {
  if (configuration_.rtpMode != RTPoverUDP) return true;
  receiver_.SetUser(this);
  for (uint32_t port = kFirstPort; port < kPortLimit; port += 2) {
    if (StopRequested()) return false;
    packetEvent_.Reset();
    probing_ = true;
    if (receiver_.Start(static_cast<uint16_t>(port))) {
      CEvent* events[2] = {&StopEvent(), &packetEvent_};
      const int seen = CEvent::WaitAny(events, 2, kPortProbe);
      probing_ = false;
      if (seen == 0) {
        receiver_.Stop();
        return false;
      }
      // No packets from the device arrive here: the pair is free of old sessions.
      if (seen < 0 && rtcp_.Start(deviceAddress_, static_cast<uint16_t>(port + 1))) return true;
    }
    probing_ = false;
    receiver_.Stop();
    rtcp_.Stop();
  }
  return false;
}

void CBaseRTPChannel::Disconnect() {
  receiver_.Stop();
  rtcp_.Stop();
}

void CBaseRTPChannel::AcceptStreamSource(uint32_t networkAddress) {
  receiver_.AcceptAlsoFrom(networkAddress);
  rtcp_.AcceptAlsoFrom(networkAddress);
}

void CBaseRTPChannel::OnRTPPacket(const platform::SocketAddress&, const CRTPPacket& packet) {
  // The receiver let only the device's packets through; the port may differ from the announced one.
  TakePacket(packet);
}

void CBaseRTPChannel::TakePacket(const CRTPPacket& packet) {
  packetEvent_.Set();
  if (probing_) return;
  // The delivery thread calls the host for more than the frame (the online line, the depacketizer's
  // error lines) and returns into the channel and its depacketizer each time: a stop or restart from
  // any of those calls is refused, as from OnFrame.
  Handing handing(this);
  rtcp_.UpdateSequence(packet.sequenceNumber);
  HandleRTPPacket(packet);
}

// The RTP channels are the ones that hand frames to the host, so they keep the mark.
bool ICameraChannel::IsHandingFrameOnThisThread(const ICameraChannel* channel) {
  return channel && handingFrame == channel;
}

void CBaseRTPChannel::TellSignalLost() {
  // The capture thread runs in this channel: a host that stops or restarts it from here is refused,
  // as from OnFrame.
  try {
    Handing handing(this);
    if (sink_ && Delivering()) sink_->OnSignalLost();
  }
  ZEPHRIN_RETHROW_CANCELLATION catch (...) {}
}

bool CBaseRTPChannel::OnFrameCompleted(ipcapture::FrameBuffer* frame) {
  frameEvent_.Set();
  bool accepted = false;
  try {
    Handing handing(this);
    accepted = sink_ && Delivering() && sink_->OnFrame(frame);
  }
  ZEPHRIN_RETHROW_CANCELLATION catch (...) { accepted = false; }
  if (!accepted) return false;
  LastFrameTime().Reset();
  SetCameraState(true);
  return true;
}

std::pair<uint16_t, uint16_t> CBaseRTPChannel::GetRequestedSize() {
  const ChannelSettings settings = Settings();
  return {settings.width, settings.height};
}

std::string CBaseRTPChannel::GetStreamName() { return Driver() ? Driver()->GetDriverName() : std::string(); }

void CBaseRTPChannel::ConvertTime(uint32_t rtpTimestamp, ipcapture::SystemTimeRecord* time) {
  timeStamps_.Update(rtpTimestamp);
  timeStamps_.GetTime(time);
}

}  // namespace norvale
