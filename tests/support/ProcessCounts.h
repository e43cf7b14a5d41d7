#pragma once
// What the test process holds of its own (POSIX): open descriptors and threads.
#include <dirent.h>

#include <cstddef>

namespace zephrin::test {

inline size_t CountEntries(const char* directory) {
  size_t count = 0;
  if (DIR* dir = opendir(directory)) {
    while (dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.') ++count;
    closedir(dir);
  }
  return count;
}
inline size_t OpenFiles() { return CountEntries("/proc/self/fd") - 1; }  // less the directory being read
inline size_t Threads() { return CountEntries("/proc/self/task"); }

}  // namespace zephrin::test
