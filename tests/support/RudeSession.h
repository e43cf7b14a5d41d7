#pragma once
// One device's driver as the rude host holds it: opened, streaming, with I/O and PTZ in use, and
// every call into the driver timed. The rude host's callbacks and its other threads call in through
// Perform; the host's own bookkeeping is guarded (a callback never waits for it, so the driver can
// always stop the thread it runs on), the driver gets no help.
#include <atomic>
#include <cstdint>
#include <shared_mutex>
#include <string>

#include "host/HostInterfaces.h"
#include "support/RudeHost.h"
#include "support/StreamSettings.h"

namespace zephrin::test {

class RudeSession {
 public:
  RudeSession(RudeHost& host, norvale::ipcapture::CreateIPCaptureFn create, norvale::ipcapture::DeleteObjectFn destroy,
              norvale::ipcapture::DeviceSource* device, norvale::ipcapture::FrameAllocator* allocator);
  ~RudeSession();

  // Creates and opens the driver, starts stream 0 and the I/O; false when the driver did not open.
  bool Open();
  // Closes and deletes the driver.
  void Delete(const std::string& why);
  // Whether the driver is open (an open again after a close may have been refused).
  bool IsOpen();
  void Perform(RudeHost::Call call, bool inCallback);
  // Stream 0 stopped (false when it was not running) or started again.
  bool StopCapture(const std::string& why);
  bool StartCapture();

  RudeLogSink& Log() { return log_; }
  RudeFrameSink& Sink() { return sink_; }
  // Calls the driver refused (answered false) or that could not be made (no driver at that moment).
  std::atomic<size_t> refused{0};
  // Close and delete the driver from inside callbacks too (a host must not: those calls end the
  // threads that make the callbacks); otherwise only from the host's other threads.
  bool closeInCallbacks = false;

 private:
  template <class F>
  bool Timed(const std::string& what, F f);
  bool OpenLocked();
  void DeleteLocked(const std::string& why);
  bool Capture(norvale::ipcapture::IIPVideoCaptureEx2* capture);

  RudeHost& host_;
  norvale::ipcapture::CreateIPCaptureFn create_;
  norvale::ipcapture::DeleteObjectFn destroy_;
  norvale::ipcapture::DeviceSource* device_;
  norvale::ipcapture::FrameAllocator* allocator_;
  RudeLogSink log_;
  RudeFrameSink sink_;
  RudeIOSink io_;
  TestStreamSettings settings_;
  TestStreamSettings second_;
  std::shared_mutex mutex_;  // the driver pointer: shared for calls, exclusive to open and delete it
  norvale::ipcapture::IIPCaptureDriverEx5* driver_ = nullptr;
  bool open_ = false;  // the driver's last open succeeded and it was not closed since
  std::atomic<uint32_t> turn_{0};
  std::atomic<uint64_t> deletes_{0};  // odd while a delete runs
};

}  // namespace zephrin::test
