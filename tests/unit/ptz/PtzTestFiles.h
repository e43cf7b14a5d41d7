#pragma once
// A scratch directory per test for preset files, and whole-file helpers.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/TempDir.h"

namespace norvale::test {

// A directory of its own per test; removed with its files when the test ends.
using ScratchDir = zephrin::test::TempDir;

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteAll(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

}  // namespace norvale::test
