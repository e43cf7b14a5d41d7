#include "runtime/CTickThread.h"

namespace norvale {

void CTickThread::ThreadBody() {
  if (tickAtStart_) Tick();
  while (!StopEvent().Wait(period_)) Tick();
}

}  // namespace norvale
