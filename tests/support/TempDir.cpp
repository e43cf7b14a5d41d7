#include "support/TempDir.h"

#include <random>
#include <stdexcept>
#include <system_error>

namespace zephrin::test {

TempDir::TempDir(const std::string& stem) {
  std::random_device seed;
  std::mt19937_64 random(seed());
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  // create_directory is false for a name that exists already: another one is drawn.
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::filesystem::path candidate = base / (stem + "-" + std::to_string(random() % 1000000000u));
    std::error_code error;
    if (std::filesystem::create_directory(candidate, error)) {
      path_ = std::move(candidate);
      return;
    }
  }
  throw std::runtime_error("no temporary directory could be made under " + base.string());
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace zephrin::test
