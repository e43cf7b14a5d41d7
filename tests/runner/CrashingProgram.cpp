// Crashes in a worker thread, as a faulty driver thread would. The Windows test runner must report
// this program as failed (ctest expects it to fail): under Wine, a crash debugger that attaches can
// let a crashed program end with status 0.
#include <cstdio>
#include <thread>

int main() {
  std::thread worker([] {
    volatile int* nowhere = nullptr;
    *nowhere = 1;
  });
  worker.join();
  std::puts("the crash was survived");
  return 0;
}
