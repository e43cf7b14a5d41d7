#pragma once
// Thread termination and catch-alls. A terminated worker thread unwinds its stack with an exception of
// the platform's own (on POSIX the forced unwind of pthread_cancel; on Windows the seam's own type,
// thrown by the seam's waits in a thread told to end); a catch-all that swallowed it would leave a
// thread running that was told to end, so every catch-all lets it pass first.
#ifndef _WIN32
#include <cxxabi.h>
#endif

namespace norvale::platform {

// What unwinds a terminated thread; catch it only to clean up, then rethrow.
#ifdef _WIN32
// Deliberately not a std::exception: a handler for those must not take it for a failure.
struct ThreadCancellation {};
#else
using ThreadCancellation = abi::__forced_unwind;
#endif

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
