#include "streaming/CRTCPHandler.h"

#include <cstring>
#include <random>

#include "platform/Platform.h"
#include "streaming/RTCPPacket.h"

namespace norvale {
namespace {

uint32_t MakeOwnSsrc() {
  uint32_t value = platform::Random32();
  if (value == 0) {
    // No random source: a pseudo-random number seeded with the time.
    std::minstd_rand generator(static_cast<uint32_t>(platform::FileTimeNow()));
    value = static_cast<uint32_t>(generator());
  }
  return value;
}

}  // namespace

CRTCPHandler::CRTCPHandler(IDriver* driver, TickSource tick)
    : CBaseThread(driver), tick_(tick ? tick : &platform::TickCount), udp_(driver) {
  const uint32_t ssrc = MakeOwnSsrc();
  ownSsrc_[0] = static_cast<uint8_t>(ssrc >> 24);
  ownSsrc_[1] = static_cast<uint8_t>(ssrc >> 16);
  ownSsrc_[2] = static_cast<uint8_t>(ssrc >> 8);
  ownSsrc_[3] = static_cast<uint8_t>(ssrc);
}

CRTCPHandler::~CRTCPHandler() { Stop(); }

uint32_t CRTCPHandler::OwnSsrc() const {
  return (uint32_t{ownSsrc_[0]} << 24) | (uint32_t{ownSsrc_[1]} << 16) | (uint32_t{ownSsrc_[2]} << 8) | ownSsrc_[3];
}

bool CRTCPHandler::Start(uint32_t cameraAddress, uint16_t port) {
  if (udp_.LocalPort() != 0 || cameraAddress == 0) return false;
  {
    RecursiveLockGuard guard(lock_);
    cameraAddress_ = cameraAddress;
    senderKnown_ = false;
    reportTime_ = 0;
  }
  if (!udp_.Open(this, port)) return false;
  udp_.SetSelectTimeout(kSelectTimeout);
  senderReportEvent_.Reset();
  if (!StartThread("RTCP Handler Thread")) {
    udp_.Close();
    return false;
  }
  return true;
}

void CRTCPHandler::Stop() {
  StopEvent().Set();
  {
    RecursiveLockGuard guard(lock_);
    if (senderKnown_) {
      uint8_t bye[rtcp::kByeSize];
      rtcp::BuildBye(bye, ownSsrc_);
      udp_.SendTo(sender_, bye, sizeof(bye));
    }
    senderKnown_ = false;
  }
  // Not under the lock: closing waits for the UDP thread, which may be waiting for the lock.
  udp_.Close();
  StopThread(kStopLimit);
}

void CRTCPHandler::UpdateSequence(uint16_t sequence) {
  RecursiveLockGuard guard(lock_);
  statistics_.Update(sequence);
}

void CRTCPHandler::SetByeListener(IRTCPByeListener* listener) {
  RecursiveLockGuard guard(lock_);
  listener_ = listener;
}

void CRTCPHandler::OnClientPacket(IRTPClient*, const platform::SocketAddress& from, const uint8_t* data, size_t size) {
  IRTCPByeListener* notify = nullptr;
  {
    RecursiveLockGuard guard(lock_);
    if (from.address != cameraAddress_ && (from.address == 0 || from.address != alsoFrom_)) return;
    rtcp::WalkCompound(data, size, [&](uint8_t type, const uint8_t* packet, size_t packetSize) {
      if (rtcp::VersionOf(packet[0]) != rtcp::kVersion) return;
      if (type == rtcp::kSenderReport && packetSize >= rtcp::kMinSenderReportSize) {
        if (!senderKnown_) {
          sender_ = from;
          senderKnown_ = true;
        }
        std::memcpy(reporteeSsrc_, packet + rtcp::kSenderSsrcOffset, 4);
        std::memcpy(lastSrStamp_, packet + rtcp::kNtpMiddleOffset, 4);
        reportTime_ = tick_();
        senderReportEvent_.Set();
      } else if (type == rtcp::kBye && senderKnown_) {
        senderKnown_ = false;
        notify = listener_;
      }
    });
  }
  // Outside the lock: the listener may well call back into the handler.
  if (notify) notify->OnRTCPBye();
}

void CRTCPHandler::SendReceiverReport() {
  RecursiveLockGuard guard(lock_);
  if (!senderKnown_) return;
  uint8_t report[rtcp::kReceiverReportSize];
  rtcp::BuildReceiverReport(report, ownSsrc_, reporteeSsrc_, statistics_.ExtendedHighest(), lastSrStamp_,
                            rtcp::DelaySinceLastSr(tick_(), reportTime_));
  if (udp_.SendTo(sender_, report, sizeof(report)))
    ++reportsSent_;
  else
    senderKnown_ = false;
}

void CRTCPHandler::ThreadBody() {
  CEvent* events[2] = {&StopEvent(), &senderReportEvent_};
  for (;;) {
    const int signalled = CEvent::WaitAny(events, 2, kReportWait);
    if (signalled == 0 || StopRequested()) break;
    if (signalled == 1) {
      senderReportEvent_.Reset();
      SendReceiverReport();
    }
  }
}

}  // namespace norvale
