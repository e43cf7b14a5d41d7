#pragma once
// A private scratch directory for targets that read files: one per fuzzing process, removed at exit.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "support/TempDir.h"

namespace zephrin::fuzz {

class ScratchDirectory {
 public:
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return directory_.File(name); }
  // Replaces the directory's content with one file holding the bytes.
  std::string Write(const std::string& name, const uint8_t* data, size_t size) const {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(path_, ignored))
      std::filesystem::remove_all(entry.path(), ignored);
    const std::string file = File(name);
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return file;
  }

 private:
  zephrin::test::TempDir directory_{"zephrin-fuzz"};
  std::string path_ = directory_.Path().string();
};

inline ScratchDirectory& Scratch() {
  static ScratchDirectory directory;
  return directory;
}

}  // namespace zephrin::fuzz
