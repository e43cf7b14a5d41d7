#pragma once
// The base of tests that load the driver library as a host does and point it at a simulated camera.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <memory>

#include "host/HostInterfaces.h"
#include "support/HostLibrary.h"

namespace zephrin::test {

class LiveDriverTest {
 protected:
  // Skips the test without root (the simulated camera listens on RTSP port 554 of its own loopback
  // address; under Wine the simulator is a Linux process and there is no root to ask about), then
  // loads the driver and its two exports. Call from SetUp and return when it skipped or failed.
  void LoadDriver() {
#ifndef _WIN32
    if (::geteuid() != 0)
      GTEST_SKIP() << "these tests need root: the simulated camera listens on RTSP port 554 of its own loopback "
                      "address";
#endif
    library_ = std::make_unique<HostLibrary>("Zephrin");
    ASSERT_TRUE(library_->IsLoaded()) << library_->Error();
    create_ = library_->Function<norvale::ipcapture::CreateIPCaptureFn>("CreateIPCaptureEx5");
    delete_ = library_->Function<norvale::ipcapture::DeleteObjectFn>("DeleteIPCaptureEx5");
    ASSERT_TRUE(create_ && delete_);
  }

  std::unique_ptr<HostLibrary> library_;
  norvale::ipcapture::CreateIPCaptureFn create_ = nullptr;
  norvale::ipcapture::DeleteObjectFn delete_ = nullptr;
};

}  // namespace zephrin::test
