#pragma once
// The per-device service interface every object of a device holds a plain pointer to. The driver
// object implements it; tests implement it with a recording stand-in.
#include <cstdint>
#include <string>
#include <utility>

#include "host/HostInterfaces.h"
#include "runtime/DeviceInfo.h"
#include "runtime/FunctionName.h"

// MinGW's "printf" archetype is the Microsoft runtime's (no %zu); the C99 one is gnu_printf.
#ifdef __MINGW32__
#define NORVALE_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#else
#define NORVALE_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#endif

class IDebugMessage {
 public:
  virtual ~IDebugMessage() = default;                       // slot 0
  virtual std::string GetDeviceName() = 0;                  // slot 1: "address:port"
  virtual void Log(uint8_t level, const char* format, ...)  // slot 2
      NORVALE_PRINTF(3, 4) = 0;
};

namespace norvale {

// Log levels.
enum : uint8_t { LogError = 1, LogWarning = 2, LogInfo = 3, LogDebug = 4, LogDriverOpened = 100 };

constexpr int32_t ParamNotSet = static_cast<int32_t>(0x80000000u);

class IDriver : public IDebugMessage {
 public:
  virtual std::string GetDriverName() = 0;                     // slot 3
  virtual std::string GetHostDirectory() = 0;                  // slot 4
  virtual DEVICE_INFO* GetDeviceInfo() = 0;                    // slot 5
  virtual std::pair<int32_t, int32_t> GetCameraValues() = 0;   // slot 6
  virtual ipcapture::FrameAllocator* GetFrameAllocator() = 0;  // slot 7
  virtual int32_t GetVideoStandard() = 0;                      // slot 8
  virtual int32_t GetDefaultCodec() = 0;                       // slot 9
  virtual int32_t GetCameraCount() = 0;                        // slot 10
  virtual std::string GetStringParam(int32_t key) = 0;         // slot 11
  virtual int32_t GetIntParam(int32_t key) = 0;                // slot 12
};

// The stop limit of the driver's device (the default one without a driver).
inline uint32_t StopLimit(IDriver* driver) { return StopLimit(driver ? driver->GetDeviceInfo() : nullptr); }

}  // namespace norvale
