#pragma once
// The recording host's objects the driver calls: log sink, frame allocator and frame buffers, frame
// sink, and the device source with its camera and connection objects. Each records what it receives
// and can be told to misbehave. All of them accept calls from several threads.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "host/HostInterfaces.h"
#include "hostobjects/HostContract.h"
#include "hostobjects/HostFrameAllocator.h"
#include "hostobjects/MemoryFrameBuffer.h"

namespace zephrin::hostobjects {

using norvale::ipcapture::SystemTimeRecord;

// ---- log sink ----------------------------------------------------------------------------------
struct LogRecord {
  uint8_t level;
  std::string text;
  bool nullText;  // the record gave a null text pointer
};

class RecordingLogSink : public norvale::ipcapture::LogSink {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(RecordingLogSink);
  void Write(const CDebugInfoIf* record) override;

  std::vector<LogRecord> Records();
  size_t Size();
  // Records whose text contains the fragment.
  size_t Count(const std::string& fragment);
  bool Contains(const std::string& fragment) { return Count(fragment) > 0; }
  // Level of the first record containing the fragment, -1 if none.
  int LevelOf(const std::string& fragment);
  void Clear();
  // Waits until a record containing the fragment has arrived.
  bool WaitFor(const std::string& fragment, uint32_t ms);
  // Each record is also printed to stderr ("[level] text"), for tools.
  void SetEcho(bool echo);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<LogRecord> records_;
  bool echo_ = false;
};

// ---- frame buffers and allocator ----------------------------------------------------------------
// The buffer a test host's allocator hands out: the host's memory buffer with the stream name and
// code it was allocated for. The host reads what the driver wrote through the plain accessors.
class TestFrameBuffer : public MemoryFrameBuffer {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(TestFrameBuffer);
  TestFrameBuffer(uint32_t fourCC, uint32_t capacity, std::string stream)
      : MemoryFrameBuffer(capacity), stream_(std::move(stream)), allocatedCode_(fourCC) {
    code = fourCC;
  }

  uint32_t Capacity() const { return capacity; }
  const uint8_t* Data() const { return data.data(); }
  uint32_t Length() const { return length; }
  const SystemTimeRecord& Time() const { return time; }
  uint32_t Code() const { return code; }
  uint16_t Height() const { return height; }
  uint16_t Width() const { return width; }
  uint32_t SizeClass() const { return sizeClass; }
  const std::string& Stream() const { return stream_; }
  uint32_t AllocatedCode() const { return allocatedCode_; }
  bool TimeSet() const { return timeSet; }

 private:
  std::string stream_;
  uint32_t allocatedCode_;
};

struct AllocationRecord {
  uint32_t fourCC;
  uint32_t capacity;
  std::string stream;
};

class TestFrameAllocator : public HostFrameAllocator {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(TestFrameAllocator);
  virtual ~TestFrameAllocator();

  norvale::ipcapture::FrameBuffer* Allocate(uint32_t fourCC, uint32_t capacity, const char* stream) override;
  // Frees a buffer this allocator handed out; anything else (a second release, a foreign pointer,
  // null) is counted as a bad release and left alone.
  void Release(norvale::ipcapture::FrameBuffer* buffer) override;

  // Refused allocations answer null.
  void SetRefuse(bool refuse);

  size_t Allocations();
  size_t Releases();
  size_t Outstanding();
  // Whether the buffer was handed out and not yet released.
  bool Holds(const norvale::ipcapture::FrameBuffer* buffer);
  size_t BadReleases();
  size_t Refusals();
  // Every buffer handed out was released exactly once and nothing else was released.
  bool Balanced();
  // The first allocations (at most kMaxLog), in order.
  std::vector<AllocationRecord> AllocationLog();

  static constexpr size_t kMaxLog = 100000;

 private:
  std::mutex mutex_;
  std::set<norvale::ipcapture::FrameBuffer*> outstanding_;
  std::vector<AllocationRecord> log_;
  size_t allocations_ = 0;
  size_t releases_ = 0;
  size_t badReleases_ = 0;
  size_t refusals_ = 0;
  bool refuse_ = false;
};

// ---- frame sink ---------------------------------------------------------------------------------
struct FrameRecord {
  uint32_t code;
  uint32_t length;
  uint16_t width;
  uint16_t height;
  uint32_t sizeClass;
  SystemTimeRecord time;
  bool timeSet;
  std::string stream;         // as given to the allocator, when the buffer is one of ours
  std::vector<uint8_t> data;  // the frame's bytes when SetKeepData(true)
};

class RecordingFrameSink : public norvale::ipcapture::FrameSink {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(RecordingFrameSink);
  enum class Mode { Accept, Refuse, Throw };

  bool OnFrame(norvale::ipcapture::FrameBuffer* frame) override;
  void Reserved2() override { HostContract::Violation("FrameSink", 2); }
  void OnSignalLost() override;

  void SetMode(Mode mode);
  void SetKeepData(bool keep);
  // Called (outside the sink's lock) for every frame offered, whatever the mode.
  void SetObserver(std::function<void(const FrameRecord&)> observer);

  std::vector<FrameRecord> Frames();
  size_t FrameCount();
  size_t NullFrames();
  size_t SignalLostCount();
  bool WaitForFrames(size_t count, uint32_t ms);
  bool WaitForSignalLost(size_t count, uint32_t ms);

  static constexpr size_t kMaxRecords = 100000;  // frames beyond are counted, not kept

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<FrameRecord> frames_;
  std::function<void(const FrameRecord&)> observer_;
  size_t frameCount_ = 0;
  size_t nullFrames_ = 0;
  size_t signalLost_ = 0;
  Mode mode_ = Mode::Accept;
  bool keepData_ = false;
};

// ---- device source --------------------------------------------------------------------------------
class TestCameraObject : public norvale::ipcapture::CameraObject {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(TestCameraObject);
  void Reserved1() override { HostContract::Violation("CameraObject", 1); }
  const char* GetModel() override { return nullModel ? nullptr : model.c_str(); }
  int32_t GetCameraCount() override { return cameraCount; }
  void Reserved4() override { HostContract::Violation("CameraObject", 4); }
  int32_t GetCameraValue1() override { return value1; }
  int32_t GetCameraValue2() override { return value2; }

  std::string model = "ELMO FD4330";
  bool nullModel = false;
  int32_t cameraCount = 1;
  int32_t value1 = 0;
  int32_t value2 = 0;
};

class TestConnectionObject : public norvale::ipcapture::ConnectionObject {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(TestConnectionObject);
  const char* GetAddress() override { return address.c_str(); }
  uint16_t GetPort() override { return port; }
  void Reserved3() override { HostContract::Violation("ConnectionObject", 3); }
  int32_t GetDefaultCodec() override { return defaultCodec; }
  const char* GetUser() override { return user.c_str(); }
  const char* GetPassword() override { return password.c_str(); }

  std::string address = "127.0.0.1";
  uint16_t port = 80;
  int32_t defaultCodec = norvale::ipcapture::CodecH264;
  std::string user = "admin";
  std::string password = "admin";
};

// Parameter n (from 1) is params[n - 1]; after the last one the source answers null.
class TestDeviceSource : public norvale::ipcapture::DeviceSource {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(TestDeviceSource);
  norvale::ipcapture::CameraObject* GetCamera() override { return noCamera ? nullptr : &camera; }
  norvale::ipcapture::ConnectionObject* GetConnection() override { return noConnection ? nullptr : &connection; }
  void Reserved3() override { HostContract::Violation("DeviceSource", 3); }
  const char* GetParameter(uint32_t number) override;

  // Sets parameter n, filling any gap before it with "(none)".
  void SetParam(uint32_t number, const std::string& text);
  uint32_t ParameterRequests() const { return parameterRequests_; }

  TestCameraObject camera;
  TestConnectionObject connection;
  std::vector<std::string> params;
  bool noCamera = false;
  bool noConnection = false;
  // The source never ends its parameter list (a faulty host).
  bool endlessParams = false;

 private:
  uint32_t parameterRequests_ = 0;
};

}  // namespace zephrin::hostobjects
