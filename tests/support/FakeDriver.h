#pragma once
// An IDriver for unit tests: a device description and host parameters set by the test, and every
// log line recorded.
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "runtime/IDriver.h"

namespace zephrin::test {

struct LogLine {
  uint8_t level;
  std::string text;
};

class FakeDriver : public norvale::IDriver {
 public:
  FakeDriver();

  std::string GetDeviceName() override;
  void Log(uint8_t level, const char* format, ...) override NORVALE_PRINTF(3, 4);
  std::string GetDriverName() override { return driverName; }
  std::string GetHostDirectory() override { return hostDirectory; }
  norvale::DEVICE_INFO* GetDeviceInfo() override { return &deviceInfo; }
  std::pair<int32_t, int32_t> GetCameraValues() override { return cameraValues; }
  norvale::ipcapture::FrameAllocator* GetFrameAllocator() override { return frameAllocator; }
  int32_t GetVideoStandard() override { return videoStandard; }
  int32_t GetDefaultCodec() override { return defaultCodec; }
  int32_t GetCameraCount() override { return cameraCount; }
  std::string GetStringParam(int32_t key) override;
  int32_t GetIntParam(int32_t key) override;

  std::vector<LogLine> Lines();
  // Lines whose text contains the fragment.
  size_t Count(const std::string& fragment);
  bool Contains(const std::string& fragment) { return Count(fragment) > 0; }
  void ClearLines();

  std::string driverName = "Zephrin";
  std::string hostDirectory;
  norvale::DEVICE_INFO deviceInfo;
  std::pair<int32_t, int32_t> cameraValues{0, 0};
  norvale::ipcapture::FrameAllocator* frameAllocator = nullptr;
  int32_t videoStandard = 0;
  int32_t defaultCodec = 3;
  int32_t cameraCount = 1;
  std::map<int32_t, std::string> params;

 private:
  std::mutex mutex_;
  std::vector<LogLine> lines_;
};

}  // namespace zephrin::test
