#pragma once
// The contract of the host objects in this directory: the driver may call only the slots a recording
// host promises. Every other slot of our host objects lands here. A call is recorded with its
// interface and slot and reported at once: inside a test program the running test fails (see
// gtest/StrictHostListener.cpp); in a tool the message goes to stderr and the process exits non-zero.
#include <string>
#include <vector>

namespace zephrin::hostobjects {

class HostContract {
 public:
  using Reporter = void (*)(const std::string& message);

  // Records that the driver called a slot the host does not offer.
  static void Violation(const char* interface, int slot);

  // What was recorded so far, one message per call.
  static std::vector<std::string> Violations();
  static void Clear();

  // Replaces the report to stderr; a test framework that fails the test itself also takes over the
  // process's exit status, so the exit check is left to it.
  static void SetReporter(Reporter reporter);
};

}  // namespace zephrin::hostobjects
