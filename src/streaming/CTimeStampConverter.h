#pragma once
#include <cstdint>

#include "host/HostInterfaces.h"
#include "streaming/TStatisticsHelper.h"

namespace norvale {

// Turns the 90 kHz RTP time stamps of a stream's frames into a smooth wall-clock time that never runs
// backwards. During the first 100 frames the time advances by the RTP clock alone; later each step is
// scaled by the measured ratio of wall time to RTP ticks, and a lead over the clock is worked off in
// small slices. The converter restarts at the present time whenever its time would fall behind the
// clock or the stream jumps.
class CTimeStampConverter {
 public:
  using Clock = uint64_t (*)();  // now, in 100-ns units since 1601 (UTC)

  // The clock is the system clock unless one is given.
  explicit CTimeStampConverter(Clock clock = nullptr);

  void Update(uint32_t rtpTimestamp);
  // The current time as a calendar time (UTC); the present time while nothing has been converted.
  void GetTime(ipcapture::SystemTimeRecord* time) const;

  uint64_t Current() const { return current_; }
  uint64_t Lead() const { return lead_; }

 private:
  void Restart(uint64_t now, uint32_t rtpTimestamp);

  Clock clock_;
  uint64_t current_ = 0;
  uint32_t lastTimestamp_ = 0;
  uint64_t lead_ = 0;
  TStatisticsHelper<uint32_t> tickWindow_{1000};
  TStatisticsHelper<uint32_t> wallWindow_{1000};
  uint64_t lastWall_ = 0;
};

}  // namespace norvale
