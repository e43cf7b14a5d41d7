#include "streaming/MediaDropCounts.h"

#include "runtime/StringUtils.h"

namespace norvale {

std::string MediaDropCounts::Text() const {
  auto n = [](uint64_t value) { return static_cast<unsigned long long>(value); };
  return FormatString(
      "loss %llu, malformed %llu, unsupported %llu, bad FU-A %llu, oversize %llu, no key frame %llu, "
      "allocation failed %llu, copy failed %llu, refused by host %llu, failed %llu, duplicate %llu, foreign sender "
      "%llu",
      n(loss), n(malformed), n(unsupported), n(badFuA), n(oversize), n(noKeyFrame), n(allocationFailed), n(copyFailed),
      n(refused), n(failed), n(duplicate), n(foreign));
}

}  // namespace norvale
