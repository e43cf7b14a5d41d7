#include <cxxabi.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>

#include "platform/Platform.h"

namespace norvale::platform {

std::string ExecutablePath(size_t maxChars) {
  std::string buf(maxChars + 1, '\0');
  const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
  if (n <= 0 || static_cast<size_t>(n) > maxChars) return {};
  buf.resize(static_cast<size_t>(n));
  return buf;
}

bool HostCoreVersion(Version* out) {
  const char* text = std::getenv("STAVRIK_VERSION");
  if (!text || !out) return false;
  // Digits and dots only, at most five digits a part: sscanf alone would also take blanks and
  // signs, and wrap numbers too long for it.
  int digits = 0;
  for (const char* c = text; *c; ++c) {
    if (*c == '.') {
      digits = 0;
    } else if (*c < '0' || *c > '9' || ++digits > 5) {
      return false;
    }
  }
  unsigned parts[4];
  int consumed = 0;
  if (std::sscanf(text, "%u.%u.%u.%u%n", &parts[0], &parts[1], &parts[2], &parts[3], &consumed) != 4 ||
      text[consumed] != '\0')
    return false;
  for (unsigned p : parts)
    if (p > 0xFFFF) return false;
  *out = Version{static_cast<uint16_t>(parts[0]), static_cast<uint16_t>(parts[1]), static_cast<uint16_t>(parts[2]),
                 static_cast<uint16_t>(parts[3])};
  return true;
}

unsigned ProcessorCount() {
  const long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<unsigned>(n) : 1u;
}

uint32_t Random32() {
  try {
    std::random_device rd;
    return rd();
  } catch (abi::__forced_unwind&) {
    throw;
  } catch (...) {
    // No entropy source: fall back to a time-seeded generator.
    static thread_local std::mt19937 gen(static_cast<uint32_t>(FileTimeNow() ^ CurrentThreadId()));
    return gen();
  }
}

void DebugOutput(const char* text) {
  if (text) std::fprintf(stderr, "%s\n", text);
}

std::string GetEnv(const char* name) {
  const char* v = name ? std::getenv(name) : nullptr;
  return v ? v : "";
}

void* MapMemory(size_t bytes) {
  if (bytes == 0) return nullptr;
  void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return memory == MAP_FAILED ? nullptr : memory;
}

void UnmapMemory(void* memory, size_t bytes) {
  if (memory) munmap(memory, bytes);
}

}  // namespace norvale::platform
