// What waking a sleeping thread costs on this machine, in CPU: the floor under every receive path that
// hands a frame from one thread to another. A sender thread sleeps one frame interval and then wakes a
// receiver thread that sleeps on a condition variable, as a camera's frame wakes a reading thread;
// the process's CPU time over the run, divided by the wake-ups (the sender's timer and the
// receiver's), is printed as
//
//   wake_cost us_per_wakeup=.. wakeups=.. interval_ms=.. s_per_stream_min_per_wakeup_per_frame=..
//
// The last figure is what one wake-up per frame costs at the given frame rate, in the multi-camera
// benchmark's unit (CPU seconds per stream-minute).
//
//   wake_cost [--seconds S] [--fps F]
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "BenchProcess.h"

int main(int argc, char** argv) {
  double seconds = 5;
  double fps = 25;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--seconds"))
      seconds = std::atof(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--fps"))
      fps = std::atof(argv[i + 1]);
  }
  if (seconds <= 0 || fps <= 0) {
    std::fprintf(stderr, "wake_cost: --seconds and --fps need positive numbers\n");
    return 2;
  }
  const auto interval = std::chrono::duration<double>(1.0 / fps);
  const long rounds = static_cast<long>(seconds * fps);

  std::mutex mutex;
  std::condition_variable ready;
  long posted = 0;
  long taken = 0;
  bool done = false;
  std::thread receiver([&] {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      ready.wait(lock, [&] { return posted != taken || done; });
      if (posted == taken) return;
      taken = posted;
    }
  });

  const zephrin::bench::CpuTimes before = zephrin::bench::ProcessCpu();
  auto next = std::chrono::steady_clock::now();
  for (long i = 0; i < rounds; ++i) {
    next += std::chrono::duration_cast<std::chrono::steady_clock::duration>(interval);
    std::this_thread::sleep_until(next);
    {
      std::lock_guard<std::mutex> lock(mutex);
      ++posted;
    }
    ready.notify_one();
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
  }
  ready.notify_one();
  receiver.join();
  const double cpu = zephrin::bench::ProcessCpu().Total() - before.Total();

  const long wakeups = 2 * rounds;
  const double perWakeup = cpu / static_cast<double>(wakeups);
  std::printf("wake_cost us_per_wakeup=%.1f wakeups=%ld interval_ms=%.1f s_per_stream_min_per_wakeup_per_frame=%.4f\n",
              perWakeup * 1e6, wakeups, 1000.0 / fps, perWakeup * fps * 60.0);
  return 0;
}
