#include "streaming/CTimeStampConverter.h"

#include <algorithm>

#include "platform/Platform.h"

namespace norvale {
namespace {

constexpr uint64_t kUnitsPerTick = 111;        // 100-ns units per 90 kHz tick (rounded)
constexpr uint64_t kMaxStartupStep = 9999999;  // about 1 s
constexpr size_t kStartupFrames = 100;
constexpr uint64_t kLeadTolerance = 10000;    // 1 ms
constexpr uint64_t kLeadWorkOffFrom = 40000;  // 4 ms
constexpr uint64_t kLeadSlice = 10000;        // 1 ms
constexpr uint64_t kStallStep = 10000;        // 1 ms
constexpr uint64_t kLeadSnapLimit = 2500000;  // 250 ms

void Copy(const platform::SystemTime& from, ipcapture::SystemTimeRecord* to) {
  to->year = from.year;
  to->month = from.month;
  to->dayOfWeek = from.dayOfWeek;
  to->day = from.day;
  to->hour = from.hour;
  to->minute = from.minute;
  to->second = from.second;
  to->milliseconds = from.milliseconds;
}

}  // namespace

CTimeStampConverter::CTimeStampConverter(Clock clock) : clock_(clock ? clock : &platform::FileTimeNow) {}

void CTimeStampConverter::Restart(uint64_t now, uint32_t rtpTimestamp) {
  current_ = now;
  lead_ = 0;
  lastWall_ = now;
  lastTimestamp_ = rtpTimestamp;
}

void CTimeStampConverter::Update(uint32_t rtpTimestamp) {
  const uint64_t now = clock_();
  if (now == 0 || current_ == 0 || lastTimestamp_ == 0) {
    Restart(now, rtpTimestamp);
    return;
  }
  bool snap = false;
  if (rtpTimestamp > lastTimestamp_) {
    const uint64_t ticks = rtpTimestamp - lastTimestamp_;
    tickWindow_.Add(static_cast<uint32_t>(ticks));
    if (now >= lastWall_) wallWindow_.Add(static_cast<uint32_t>(now - lastWall_));
    if (tickWindow_.Count() <= kStartupFrames) {
      if (ticks * kUnitsPerTick > kMaxStartupStep) {
        Restart(now, rtpTimestamp);
        return;
      }
      current_ += ticks * kUnitsPerTick;
      if (tickWindow_.Count() == kStartupFrames) snap = true;
    } else {
      const double scaled = wallWindow_.Average() * static_cast<double>(ticks) / tickWindow_.Average() + 0.5;
      uint64_t step = scaled >= 18446744073709551615.0 ? UINT64_MAX : static_cast<uint64_t>(scaled);
      if (lead_ > kLeadTolerance && step > kLeadWorkOffFrom) {
        const uint64_t slice = step / 10 < kLeadSlice ? kLeadSlice : std::min(step / 10, lead_);
        lead_ -= slice;
        step -= slice;
      }
      current_ += step;
      snap = false;
    }
  } else {
    current_ = std::max(current_ + kStallStep, now);
    snap = true;
  }

  if (current_ > now) {
    const uint64_t ahead = current_ - now;
    if (snap || ahead > kLeadSnapLimit || ahead > 0xFFFFFFFFull) lead_ = ahead;
    lastWall_ = now;
    lastTimestamp_ = rtpTimestamp;
  } else {
    Restart(now, rtpTimestamp);
  }
}

void CTimeStampConverter::GetTime(ipcapture::SystemTimeRecord* time) const {
  if (!time) return;
  // A file time with the top bit set has no calendar form.
  const bool usable = current_ != 0 && lastTimestamp_ != 0 && current_ < 0x8000000000000000ull;
  Copy(platform::FileTimeToSystemTime(usable ? current_ : platform::FileTimeNow()), time);
}

}  // namespace norvale
