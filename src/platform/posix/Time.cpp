#include <chrono>
#include <ctime>

#include "platform/Platform.h"

namespace norvale::platform {
namespace {
// 100-ns intervals between 1601-01-01 and 1970-01-01.
constexpr uint64_t kEpochDelta = 116444736000000000ull;
constexpr uint64_t kUnitsPerDay = 864000000000ull;
constexpr int64_t kDays1601To1970 = 134774;
}  // namespace

uint64_t FileTimeNow() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return kEpochDelta + static_cast<uint64_t>(ts.tv_sec) * 10000000ull + static_cast<uint64_t>(ts.tv_nsec) / 100;
}

uint32_t TickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000ull +
                               static_cast<uint64_t>(ts.tv_nsec) / 1000000);
}

SystemTime FileTimeToSystemTime(uint64_t fileTime) {
  using namespace std::chrono;
  const int64_t days1601 = static_cast<int64_t>(fileTime / kUnitsPerDay);
  uint64_t rest = fileTime % kUnitsPerDay;
  const sys_days day{days{days1601 - kDays1601To1970}};
  const year_month_day ymd{day};
  SystemTime st{};
  st.year = static_cast<uint16_t>(static_cast<int>(ymd.year()));
  st.month = static_cast<uint16_t>(static_cast<unsigned>(ymd.month()));
  st.day = static_cast<uint16_t>(static_cast<unsigned>(ymd.day()));
  st.dayOfWeek = static_cast<uint16_t>(weekday{day}.c_encoding());
  st.hour = static_cast<uint16_t>(rest / 36000000000ull);
  rest %= 36000000000ull;
  st.minute = static_cast<uint16_t>(rest / 600000000ull);
  rest %= 600000000ull;
  st.second = static_cast<uint16_t>(rest / 10000000ull);
  rest %= 10000000ull;
  st.milliseconds = static_cast<uint16_t>(rest / 10000ull);
  return st;
}

uint64_t SystemTimeToFileTime(const SystemTime& st) {
  using namespace std::chrono;
  const year_month_day ymd{year{st.year}, month{st.month}, day{st.day}};
  if (!ymd.ok() || st.year < 1601 || st.year > 30827 || st.hour > 23 || st.minute > 59 || st.second > 59 ||
      st.milliseconds > 999)
    return 0;
  const int64_t days1601 = sys_days{ymd}.time_since_epoch().count() + kDays1601To1970;
  return static_cast<uint64_t>(days1601) * kUnitsPerDay + st.hour * 36000000000ull + st.minute * 600000000ull +
         st.second * 10000000ull + st.milliseconds * 10000ull;
}

}  // namespace norvale::platform
