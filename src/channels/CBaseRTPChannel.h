#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

#include "channels/CBaseCameraChannel.h"
#include "runtime/CEvent.h"
#include "runtime/CTime.h"
#include "runtime/DeviceConfiguration.h"
#include "streaming/CBaseRTSPClient.h"
#include "streaming/CRTCPHandler.h"
#include "streaming/CRTPMediaParser.h"
#include "streaming/CRTPReceiver.h"
#include "streaming/CTimeStampConverter.h"
#include "streaming/IMediaParserClient.h"
#include "streaming/IRTPReceiverUser.h"

namespace norvale {

// The receiving side of a live stream: the capture loop that connects, watches for frames and
// reconnects after a lost signal, the choice of a free local UDP port pair, the filter that keeps
// only the device's packets, and the hand-off of finished frames to the host's frame sink.
class CBaseRTPChannel : public CBaseCameraChannel,
                        public IRTPReceiverUser,
                        public IMediaParserClient,
                        public IRTCPByeListener {
 public:
  static constexpr uint16_t kFirstPort = 3556;
  static constexpr uint16_t kPortLimit = 4556;  // the last pair starts below this
  static constexpr uint32_t kPortProbe = 1500;  // ms a port pair is watched for foreign packets
  static constexpr uint32_t kKeepAlivePeriod = 30000;
  static constexpr uint32_t kRound = 1000;  // ms between rounds of the capture loop

  CBaseRTPChannel(uint32_t camera, IDriver* driver, ipcapture::FrameSink* sink);
  ~CBaseRTPChannel() override;

  // The host value is accepted and not used.
  void SetHostValue(int32_t) override {}

  // ---- IRTPReceiverUser ----
  void OnRTPPacket(const platform::SocketAddress& from, const CRTPPacket& packet) override;
  void OnRTPTimeout() override {}
  void OnRTPClosed() override {}

  // ---- IRTCPByeListener ----
  // On the RTCP thread: only marks the stream as ended, the capture loop reconnects on its next round.
  void OnRTCPBye() override { byeEvent_.Set(); }

  // ---- IMediaParserClient ----
  bool OnFrameCompleted(ipcapture::FrameBuffer* frame) override;
  std::pair<uint16_t, uint16_t> GetRequestedSize() override;
  std::string GetStreamName() override;
  void ConvertTime(uint32_t rtpTimestamp, ipcapture::SystemTimeRecord* time) override;

  // Takes the stream's RTP and RTCP also from this IPv4 address (network order), as named by the
  // camera for the stream being set up; forgotten when the next stream is connected. Any thread.
  void AcceptStreamSource(uint32_t networkAddress);

  int32_t RTPMode() const { return configuration_.rtpMode; }
  // The device address as resolved at construction (network order), 0 when it did not resolve.
  uint32_t DeviceAddress() const { return deviceAddress_; }
  // What the channel's depacketizer and its UDP receiver threw away and why.
  MediaDropCounts Drops();

 protected:
  void CaptureThreadBody() override;  // slot 8
  virtual bool Connect();             // slot 10: opens the local RTP and RTCP ports in UDP mode
  virtual void Disconnect();          // slot 11
  virtual void KeepAlive() {}         // slot 12
  virtual bool Prepare() = 0;         // slot 13: readies the camera for the stream
  virtual void HandleRTPPacket(const CRTPPacket& packet) = 0;  // slot 14: to the depacketizer
  virtual void OnThreadStart() {}                              // slot 15

  // Stops the capture thread and closes whatever a terminated one left open. The most derived class
  // calls it first in its destructor: the receiving threads call into every layer.
  void Shutdown();
  // The depacketizer whose drops Drops() reports and Shutdown() logs; owned by the derived channel.
  void AttachParser(const CRTPMediaParser* parser) { parser_ = parser; }
  // The RTSP session whose thread delivers the packets in the interleaved modes; Shutdown waits for
  // it as for the UDP delivery thread.
  void AttachSession(CBaseRTSPClient* session) { session_ = session; }
  // A packet of this device's stream, from the UDP receiver or the RTSP connection.
  void TakePacket(const CRTPPacket& packet);
  // Tells the host's frame sink that the signal is lost (on the capture thread).
  void TellSignalLost();
  ipcapture::FrameSink* Sink() const { return sink_; }
  CRTPReceiver& Receiver() { return receiver_; }
  CRTCPHandler& RTCPHandler() { return rtcp_; }

 private:
  bool ConnectStream();
  // The wait at the end of a round: cut short by the stop, or by a BYE, which turns a streaming
  // channel to signal lost so that the round after reconnects.
  void WaitRound(uint32_t ms);
  void DisconnectStream();
  uint32_t StreamTimeout();

  ipcapture::FrameSink* sink_;
  CTime keepAlive_;
  uint32_t deviceAddress_;
  CTimeStampConverter timeStamps_;
  CManualEvent byeEvent_;  // the camera ended the stream with an RTCP BYE; before rtcp_, which sets it
  CRTPReceiver receiver_;
  CRTCPHandler rtcp_;
  CDeviceConfiguration configuration_;
  CManualEvent packetEvent_;
  CManualEvent frameEvent_;
  // While a port pair is being probed its packets only show that someone sends there.
  std::atomic<bool> probing_{false};
  const CRTPMediaParser* parser_ = nullptr;
  CBaseRTSPClient* session_ = nullptr;
};

}  // namespace norvale
