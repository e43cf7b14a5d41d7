#pragma once
// The host boundary: every interface the recording host sees and every host object the driver calls,
// as abstract classes in their contract slot order. Slot numbers count the virtual destructor as slot
// 0 (one slot, as the host's compiler lays it out); unnamed slots are held by placeholders so that
// later slots line up. Only plain character pointers and 8/16/32-bit integers cross this boundary.
#include <cstdint>

namespace norvale::ipcapture {

// A Win32 SYSTEMTIME record (UTC).
struct SystemTimeRecord {
  uint16_t year, month, dayOfWeek, day, hour, minute, second, milliseconds;
};

}  // namespace norvale::ipcapture

// ---- log record ---------------------------------------------------------------------------------
class CDebugInfoIf {
 public:
  virtual ~CDebugInfoIf() = default;        // slot 0
  virtual uint8_t GetLevel() const = 0;     // slot 1
  virtual const char* GetText() const = 0;  // slot 2: null for an empty text
};

namespace norvale::ipcapture {

// ---- host objects the driver calls ----------------------------------------------------------------
class LogSink {
 public:
  virtual ~LogSink() = default;                         // slot 0
  virtual void Write(const CDebugInfoIf* record) = 0;   // slot 1: copy what is kept
};

class FrameBuffer {
 public:
  virtual ~FrameBuffer() = default;                          // slot 0
  virtual uint32_t GetCapacity() = 0;                        // slot 1
  virtual uint8_t* GetData() = 0;                            // slot 2: capacity bytes as requested
  virtual uint32_t GetLength() = 0;                          // slot 3
  virtual void SetLength(uint32_t bytes) = 0;                // slot 4
  virtual void GetTime(SystemTimeRecord* time) = 0;          // slot 5
  virtual void SetTime(const SystemTimeRecord* time) = 0;    // slot 6
  virtual uint32_t GetFrameType() = 0;                       // slot 7
  virtual void SetFrameType(uint32_t type) = 0;              // slot 8
  virtual uint32_t GetCode() = 0;                            // slot 9
  virtual void SetCode(uint32_t fourCC) = 0;                 // slot 10
  virtual uint16_t GetHeight() = 0;                          // slot 11
  virtual void SetHeight(uint16_t height) = 0;               // slot 12
  virtual uint16_t GetWidth() = 0;                           // slot 13
  virtual void SetWidth(uint16_t width) = 0;                 // slot 14
  virtual uint32_t GetSizeClass() = 0;                       // slot 15
  virtual void SetSizeClass(uint32_t sizeClass) = 0;         // slot 16
};

class FrameAllocator {
 public:
  virtual ~FrameAllocator() = default;                                                       // slot 0
  virtual uint32_t GetFreeCount() = 0;                                                       // slot 1
  virtual FrameBuffer* Allocate(uint32_t fourCC, uint32_t capacity, const char* stream) = 0;  // slot 2
  virtual void Reserved3() = 0;                                                              // slot 3
  virtual void Reserved4() = 0;                                                              // slot 4
  virtual void Reserved5() = 0;                                                              // slot 5
  virtual void Release(FrameBuffer* buffer) = 0;                                             // slot 6
};

class FrameSink {
 public:
  virtual ~FrameSink() = default;                   // slot 0
  virtual bool OnFrame(FrameBuffer* frame) = 0;     // slot 1: true = accepted
  virtual void Reserved2() = 0;                     // slot 2
  virtual void OnSignalLost() = 0;                  // slot 3
};

// The device description handed to Open.
class CameraObject {
 public:
  virtual ~CameraObject() = default;       // slot 0
  virtual void Reserved1() = 0;            // slot 1
  virtual const char* GetModel() = 0;      // slot 2
  virtual int32_t GetCameraCount() = 0;    // slot 3
  virtual void Reserved4() = 0;            // slot 4
  virtual int32_t GetCameraValue1() = 0;   // slot 5
  virtual int32_t GetCameraValue2() = 0;   // slot 6
};

class ConnectionObject {
 public:
  virtual ~ConnectionObject() = default;   // slot 0
  virtual const char* GetAddress() = 0;    // slot 1
  virtual uint16_t GetPort() = 0;          // slot 2
  virtual void Reserved3() = 0;            // slot 3
  virtual int32_t GetDefaultCodec() = 0;   // slot 4
  virtual const char* GetUser() = 0;       // slot 5
  virtual const char* GetPassword() = 0;   // slot 6
};

class DeviceSource {
 public:
  virtual ~DeviceSource() = default;                         // slot 0
  virtual CameraObject* GetCamera() = 0;                     // slot 1
  virtual ConnectionObject* GetConnection() = 0;             // slot 2
  virtual void Reserved3() = 0;                              // slot 3
  virtual const char* GetParameter(uint32_t number) = 0;     // slot 4: from 1; null after the last
};

}  // namespace norvale::ipcapture
