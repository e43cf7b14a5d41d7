#pragma once
// The capability query: discovers a camera's properties on a worker thread and writes them, item by
// item, into the host's capability sink, then tells the host's callback how it went.
#include <cstdint>
#include <memory>
#include <string>

#include "discovery/CBaseCameraProperties.h"
#include "host/HostInterfaces.h"
#include "platform/Platform.h"
#include "runtime/DeviceInfo.h"
#include "runtime/RecursiveLock.h"
#include "runtime/TSmartPtr.h"

namespace norvale {

class CCapabilityQueryModule : public ipcapture::IIPCapabilityQuery {
 public:
  CCapabilityQueryModule(ipcapture::CapabilityCallback* callback, bool ntsc);
  // Stops the query, waiting at most twice the network time-out for its thread (and, where that thread
  // is terminated, for the termination); the host is told that a query that had not yet told its
  // outcome was abandoned. The host hears exactly one outcome of a started query: QuerySucceeded,
  // QueryFailed or QueryAbandoned, never two and never none. A thread held inside the host's sink or
  // callback past that makes no further call into the host and frees what it uses when it returns.
  virtual ~CCapabilityQueryModule();  // slot 0
  CCapabilityQueryModule(const CCapabilityQueryModule&) = delete;
  CCapabilityQueryModule& operator=(const CCapabilityQueryModule&) = delete;

  // Starts the one query of this module; 1 when its thread runs, 0 otherwise.
  int32_t Start(const char* address, uint16_t port, const char* user, const char* password,
                ipcapture::CapabilitySink* sink) override;  // slot 1
  // Asks a running query to stop; it then reports its outcome by itself.
  void Terminate() override;  // slot 2

  virtual CBaseCameraProperties* CreateProperties() = 0;  // slot 3

  // Whether an address may be queried: none of the characters of a URL's structure or of a
  // command line appears in it.
  static bool IsValidAddress(const std::string& address);
  // Writes what the properties say into the sink; false at the first part that cannot be written.
  static bool WriteCapabilities(CBaseCameraProperties& properties, ipcapture::CapabilitySink* sink);

 protected:
  bool NtscFlag() const { return ntsc_; }
  const DEVICE_INFO& Device() const { return device_; }
  // The bounded stop of the destructor; a derived class calls it first in its own destructor.
  void Shutdown();

 private:
  class QueryThread;
  struct Query;

  // The body of the query thread: it uses nothing of the module, only the query it shares with it.
  static void Run(Query& query);

  bool ntsc_;
  DEVICE_INFO device_;
  RecursiveLock lock_;
  const std::shared_ptr<Query> query_;
  bool started_ = false;  // one query per module
  bool shutDown_ = false;
};

}  // namespace norvale
