#pragma once
// Thread termination and catch-alls. A terminated worker thread unwinds its stack with an exception of
// the platform's own (on POSIX the forced unwind of pthread_cancel); a catch-all that swallowed it would
// leave a thread running that was told to end, so every catch-all lets it pass first.
#include <cxxabi.h>

namespace norvale::platform {

// What unwinds a terminated thread; catch it only to clean up, then rethrow.
using ThreadCancellation = abi::__forced_unwind;

// Runs body; any failure other than thread termination gives the failure value instead.
template <typename F, typename R>
R Guarded(F body, R failure) {
  try {
    return body();
  } catch (ThreadCancellation&) {
    throw;
  } catch (...) {
    return failure;
  }
}

}  // namespace norvale::platform

// Put before a catch (...): lets a terminated thread's unwinding pass.
#define ZEPHRIN_RETHROW_CANCELLATION                 \
  catch (::norvale::platform::ThreadCancellation&) { \
    throw;                                           \
  }
