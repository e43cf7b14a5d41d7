// Linked into every test program: a call the driver makes to a slot our host objects do not offer fails
// the test that is running, naming the interface and the slot. Failures may come from any thread (the
// driver calls host objects on its own threads); GoogleTest takes them under its lock. A call between
// tests fails the program as a whole.
#include <gtest/gtest.h>

#include "support/HostContract.h"

namespace {

void FailRunningTest(const std::string& message) { ADD_FAILURE() << message; }

const bool kInstalled = [] {
  zephrin::test::HostContract::SetReporter(FailRunningTest);
  return true;
}();

}  // namespace
