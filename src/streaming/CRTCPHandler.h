#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/Socket.h"
#include "runtime/CBaseThread.h"
#include "runtime/CEvent.h"
#include "runtime/RecursiveLock.h"
#include "streaming/CRTPSequenceStatistics.h"
#include "streaming/CUDPClient.h"
#include "streaming/IRTPClient.h"
#include "streaming/RTCPPacket.h"

namespace norvale {

// Told when the camera ends its RTP session with an RTCP BYE.
class IRTCPByeListener {
 public:
  virtual ~IRTCPByeListener() = default;
  virtual void OnRTCPBye() = 0;
};

// The RTCP side of one RTP stream: listens on the RTCP port next to the RTP port, answers every sender
// report of the camera with a receiver report, and says goodbye when the session ends (only to a
// camera that sent a report). A BYE from the camera is passed on to the listener.
class CRTCPHandler : public CBaseThread, public IRTPClientUser {
 public:
  using TickSource = uint32_t (*)();  // milliseconds, wrapping at 2^32

  // The tick source is the system's millisecond tick unless one is given.
  explicit CRTCPHandler(IDriver* driver = nullptr, TickSource tick = nullptr);
  ~CRTCPHandler() override;

  // Opens the RTCP port (0 lets the system choose) for the camera's IPv4 address (network order) and
  // starts the handler thread. Fails when already started, for address 0, or when the port cannot be
  // opened.
  bool Start(uint32_t cameraAddress, uint16_t port);
  // Sends BYE to a camera that sent a report, closes the port and stops the thread.
  void Stop();
  // Called for every RTP packet of the stream with its sequence number.
  void UpdateSequence(uint16_t sequence);
  void SetByeListener(IRTCPByeListener* listener);
  // Reports are also taken from this IPv4 address (network order; 0 takes none beside the camera's).
  void AcceptAlsoFrom(uint32_t networkAddress) { alsoFrom_ = networkAddress; }
  uint16_t LocalPort() { return udp_.LocalPort(); }
  // Our own source identifier as it goes on the wire.
  uint32_t OwnSsrc() const;
  // Receiver reports sent since construction.
  uint32_t ReportsSent() const { return reportsSent_.load(); }

  // IRTPClientUser: the RTCP datagrams.
  void OnClientPacket(IRTPClient* client, const platform::SocketAddress& from, const uint8_t* data,
                      size_t size) override;
  void OnClientTimeout(IRTPClient*) override {}
  void OnClientClosed(IRTPClient*) override {}

  static constexpr uint32_t kReportWait = 10000;    // ms the thread waits for a report at a time
  static constexpr uint32_t kSelectTimeout = 1000;  // ms
  static constexpr uint32_t kStopLimit = 5000;      // ms

 protected:
  void ThreadBody() override;

 private:
  void SendReceiverReport();

  TickSource tick_;
  CUDPClient udp_;
  CEvent senderReportEvent_;
  RecursiveLock lock_;

  // Guarded by lock_.
  uint32_t cameraAddress_ = 0;
  IRTCPByeListener* listener_ = nullptr;
  bool senderKnown_ = false;
  platform::SocketAddress sender_;
  uint32_t reportTime_ = 0;
  uint8_t ownSsrc_[4] = {};
  uint8_t reporteeSsrc_[4] = {};
  uint8_t lastSrStamp_[4] = {};
  CRTPSequenceStatistics statistics_;
  std::atomic<uint32_t> reportsSent_{0};
  std::atomic<uint32_t> alsoFrom_{0};
};

}  // namespace norvale
