// System time as a FILETIME, and a millisecond tick from the performance counter: the system's tick
// count moves in steps of the timer interrupt (16 ms on many machines), too coarse for the driver's
// time-outs and rates.
#include "platform/Platform.h"
#include "platform/win32/Cancellation.h"

namespace norvale::platform {

uint64_t FileTimeNow() {
  FILETIME ft{};
  GetSystemTimePreciseAsFileTime(&ft);
  return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

uint32_t TickCount() {
  static const uint64_t frequency = [] {
    LARGE_INTEGER f{};
    QueryPerformanceFrequency(&f);
    return f.QuadPart > 0 ? static_cast<uint64_t>(f.QuadPart) : 1u;
  }();
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  const uint64_t counter = static_cast<uint64_t>(now.QuadPart);
  // In two steps, so the product cannot overflow however long the machine runs.
  return static_cast<uint32_t>(counter / frequency * 1000u + counter % frequency * 1000u / frequency);
}

}  // namespace norvale::platform
