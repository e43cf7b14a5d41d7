// The calendar form of a FILETIME, computed rather than asked of the system: both directions agree on
// every platform, and an impossible date (29 February 2001, hour 24) is refused, not rolled over.
#include <chrono>

#include "platform/Platform.h"

namespace norvale::platform {
namespace {
constexpr uint64_t kUnitsPerDay = 864000000000ull;
constexpr int64_t kDays1601To1970 = 134774;
}  // namespace

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
