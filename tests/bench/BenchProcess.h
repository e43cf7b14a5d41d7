#pragma once
// What the many-camera benchmark's two programs share: the loopback address of camera N, and the
// process's own CPU time and status figures.
#include <arpa/inet.h>
#include <sys/resource.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace zephrin::bench {

// The index-th address after first, skipping the .0 and .255 of each /24 so that every camera has an
// ordinary-looking address.
inline std::string AddressOf(const std::string& first, int index) {
  in_addr base{};
  inet_pton(AF_INET, first.c_str(), &base);
  uint32_t host = ntohl(base.s_addr);
  for (int i = 0; i < index; ++i) {
    ++host;
    while ((host & 0xFF) == 0 || (host & 0xFF) == 255) ++host;
  }
  in_addr out{};
  out.s_addr = htonl(host);
  char text[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &out, text, sizeof text);
  return text;
}

struct CpuTimes {
  double user = 0;
  double system = 0;
  double Total() const { return user + system; }
};

// CPU seconds this process has used so far.
inline CpuTimes ProcessCpu() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return {usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6, usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6};
}

// A number field of /proc/self/status ("VmRSS" in KiB, "Threads"); -1 when it is not there.
inline long StatusField(const char* name) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const size_t length = std::strlen(name);
  while (std::getline(status, line))
    if (line.compare(0, length, name) == 0 && line.size() > length && line[length] == ':')
      return std::atol(line.c_str() + length + 1);
  return -1;
}

}  // namespace zephrin::bench
