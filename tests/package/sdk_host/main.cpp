// A minimal recording host: loads the installed driver, checks its capture exports and runs the
// capability query on one camera, printing what the camera is.
//   sdk_host ADDRESS PORT USER PASSWORD
#include <dlfcn.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <zephrin/HostInterfaces.h>

using namespace norvale::ipcapture;

namespace {

class Item : public CapabilityConnectionItem, public CapabilityPropertyItem {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(Item);
  void SetValue(const char* text) override { value = text ? text : ""; }
  void Reserved2() override {}
  void Reserved3() override {}
  void SetValueIsText(int32_t) override {}
  void SetName(const char* text) override { name = text ? text : ""; }
  void SetFlags(int32_t) override {}
  std::string name, value;
};

class Resolutions : public CapabilityResolutionList {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(Resolutions);
  void Add(const char* text, uint32_t width, uint32_t height, uint32_t) override {
    names.push_back(std::string(text ? text : "") + " " + std::to_string(width) + "x" + std::to_string(height));
  }
  std::vector<std::string> names;
};

class FrameRates : public CapabilityFrameRateList {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(FrameRates);
  void SetDefault(uint32_t) override {}
  void Add(uint32_t) override { ++count; }
  int count = 0;
};

class Sink : public CapabilitySink {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(Sink);
  void SetCapability(uint32_t id, uint32_t value) override { capabilities[id] = value; }
  void SetModelName(const char* text) override { model = text ? text : ""; }
  CapabilityConnectionItem* GetConnectionItem(uint32_t index) override { return &connection[index]; }
  void Reserved4() override {}
  CapabilityPropertyItem* GetPropertyItem(int32_t id) override { return &properties[id]; }
  CapabilityResolutionList* GetResolutionList() override { return &resolutions; }
  void Reserved7() override {}
  CapabilityFrameRateList* GetFrameRateList(int32_t) override { return &rates; }

  std::string model;
  std::map<uint32_t, uint32_t> capabilities;
  std::map<uint32_t, Item> connection;
  std::map<int32_t, Item> properties;
  Resolutions resolutions;
  FrameRates rates;
};

class Callback : public CapabilityCallback {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(Callback);
  void Reserved1() override {}
  void QuerySucceeded() override { Finish("succeeded"); }
  void QueryFailed(int32_t reason, const char* text) override {
    Finish("failed (reason " + std::to_string(reason) + ": " + (text ? text : "") + ")");
  }
  void QueryAbandoned() override { Finish("abandoned"); }

  std::string Wait(std::chrono::seconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, limit, [this] { return !outcome_.empty(); });
    return outcome_.empty() ? "timed out" : outcome_;
  }

 private:
  void Finish(const std::string& outcome) {
    std::lock_guard<std::mutex> lock(mutex_);
    outcome_ = outcome;
    changed_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string outcome_;
};

template <typename F>
F Export(void* library, const char* name) {
  return reinterpret_cast<F>(dlsym(library, name));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: sdk_host ADDRESS PORT USER PASSWORD\n");
    return 2;
  }
  void* library = dlopen(ZEPHRIN_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    std::fprintf(stderr, "sdk_host: cannot load %s: %s\n", ZEPHRIN_LIBRARY, dlerror());
    return 3;
  }
  std::printf("driver: %s\n", ZEPHRIN_LIBRARY);
  auto create = Export<CreateIPCaptureFn>(library, "CreateIPCaptureEx5");
  auto destroy = Export<DeleteObjectFn>(library, "DeleteIPCaptureEx5");
  auto init = Export<InitCapabilityQueryFn>(library, "InitCapabilityQuery");
  auto start = Export<StartCapabilityQueryFn>(library, "StartCapabilityQuery");
  auto uninit = Export<UninitCapabilityQueryFn>(library, "UninitCapabilityQuery");
  if (!create || !destroy || !init || !start || !uninit) {
    std::fprintf(stderr, "sdk_host: the driver lacks its exports\n");
    return 3;
  }
  IIPCaptureDriverEx5* driver = create();
  if (!driver) {
    std::fprintf(stderr, "sdk_host: the driver could not be created\n");
    return 3;
  }
  destroy(driver);

  Callback callback;
  Sink sink;
  if (init(&callback, 0) != 1 ||
      start(argv[1], static_cast<uint16_t>(std::atoi(argv[2])), argv[3], argv[4], &sink) != 1) {
    std::fprintf(stderr, "sdk_host: the capability query did not start\n");
    uninit();
    return 3;
  }
  const std::string outcome = callback.Wait(std::chrono::seconds(60));
  uninit();
  std::printf("query: %s\nmodel: %s\n", outcome.c_str(), sink.model.c_str());
  for (const auto& [index, item] : sink.connection)
    if (index != 4) std::printf("connection %u: %s\n", index, item.value.c_str());
  for (const auto& [id, value] : sink.capabilities) std::printf("capability %u: %u\n", id, value);
  for (const auto& name : sink.resolutions.names) std::printf("resolution: %s\n", name.c_str());
  std::printf("frame rates: %d\n", sink.rates.count);
  dlclose(library);
  return outcome == "succeeded" && !sink.model.empty() && !sink.resolutions.names.empty() ? 0 : 1;
}
