#pragma once
// A fresh directory of its own under the system's temporary directory, removed with what it holds
// by the destructor.
#include <filesystem>
#include <string>

namespace zephrin::test {

class TempDir {
 public:
  // The directory is named stem-<random>.
  explicit TempDir(const std::string& stem = "zephrin-test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace zephrin::test
