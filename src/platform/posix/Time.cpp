#include <ctime>

#include "platform/Platform.h"

namespace norvale::platform {
namespace {
// 100-ns intervals between 1601-01-01 and 1970-01-01.
constexpr uint64_t kEpochDelta = 116444736000000000ull;
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

}  // namespace norvale::platform
