#pragma once
// The host boundary: every interface the recording host sees and every host object the driver calls,
// as abstract classes in their contract slot order. Slot numbers count the destructor as slot
// 0 (one slot, as the host's compiler lays it out); unnamed slots are held by placeholders so that
// later slots line up. Only plain character pointers and 8/16/32-bit integers cross this boundary.
#include <cstdint>

// Slot 0: the destructor. A Windows host's compiler gives a virtual destructor one vtable entry, the
// scalar deleting destructor (it destroys the object and frees it when bit 0 of its argument is set).
// A Windows build by a compiler of the Itanium C++ ABI (MinGW) would give it two entries and move every
// later slot one away from the host's, so there slot 0 is declared as that one entry, and the
// destructor is protected and not virtual: an object is destroyed through slot 0 only. Elsewhere the
// destructor is virtual as usual (on Linux a host built with g++ shares g++'s layout).
//   ZEPHRIN_SLOT0(access, Class);   in each class below: access is the destructor's where it is
//                                   virtual; the class continues in its public section
//   ZEPHRIN_SLOT0_OVERRIDE(Class);  in each class that is created from one of them: implements slot 0
#if defined(_WIN32) && !defined(_MSC_VER)
#define ZEPHRIN_SCALAR_DELETING_SLOT0 1
#define ZEPHRIN_SLOT0(access, Class)                              \
 public:                                                          \
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0; \
                                                                  \
 protected:                                                       \
  ~Class() = default;                                             \
                                                                  \
 public:                                                          \
  static_assert(true, "")
// Runs the destructor of the object's own class (virtual where the class has another polymorphic
// root), then frees the memory when asked.
#define ZEPHRIN_SLOT0_OVERRIDE(Class)                            \
  void* ScalarDeletingDestructor(unsigned int flags) override {  \
    this->~Class();                                              \
    if (flags & 1u) ::operator delete(static_cast<void*>(this)); \
    return this;                                                 \
  }                                                              \
  static_assert(true, "")
#else
#define ZEPHRIN_SLOT0(access, Class) \
  access:                            \
  virtual ~Class() = default;        \
                                     \
 public:                             \
  static_assert(true, "")
#define ZEPHRIN_SLOT0_OVERRIDE(Class) static_assert(true, "")
#endif

namespace norvale::ipcapture {

// Destroys and frees an object of one of the classes below, or of a class made from one, through
// slot 0, as a host does: the one way to delete such an object that holds on every platform.
template <class T>
void DeleteObject(T* object) {
  if (!object) return;
#ifdef ZEPHRIN_SCALAR_DELETING_SLOT0
  object->ScalarDeletingDestructor(1u);
#else
  delete object;
#endif
}

// Every object this library hands to the host derives from this root: slot 0 is its destructor,
// through which the host's delete export frees it.
class IDeletable {
  ZEPHRIN_SLOT0(public, IDeletable);  // slot 0
};

// A Win32 SYSTEMTIME record (UTC).
struct SystemTimeRecord {
  uint16_t year, month, dayOfWeek, day, hour, minute, second, milliseconds;
};

}  // namespace norvale::ipcapture

// ---- log record ---------------------------------------------------------------------------------
class CDebugInfoIf {
  ZEPHRIN_SLOT0(public, CDebugInfoIf);      // slot 0
  virtual uint8_t GetLevel() const = 0;     // slot 1
  virtual const char* GetText() const = 0;  // slot 2: null for an empty text
};

namespace norvale::ipcapture {

// ---- host objects the driver calls ----------------------------------------------------------------
// The driver calls only the named slots of these objects. A slot whose meaning is the host's own
// business is an opaque ReservedN placeholder: it holds the place so that later slots line up, and the
// driver has no reason to call it. The host creates and frees these objects, so their destructors are
// protected: the driver cannot delete one.
//
// Calls into the driver from inside a callback. A callback may block as long as the host needs.
// While a stream's thread is held in one (a frame, a signal loss, a log line), a stop of that
// stream (StopCapture, StopStream, a StartCapture or StartStream that replaces it,
// ChangeResolution, which starts stream 0 afresh with the new request) or Close made on another
// thread returns within the stop limit (twice the device's network time-out): from then on the
// stream calls the host's frame sink no more, and it is freed when the blocked call returns. Close
// returns within the same limit while the I/O poll or a video settings worker is held in the host
// (the IOSink hears nothing more from then on). Open after such a Close waits at most the stop
// limit for that and otherwise returns false. The delete function of the capture driver object
// returns within the stop limit too: when a call is still blocked then, the driver calls none of
// the host's objects from then on (no log line, no frame, no buffer asked for or given back; the
// buffer of a blocked OnFrame is the host's to free) and frees itself when the blocked call returns.
// The library must stay loaded until then. A start, stop or change of a camera made from a callback (a log line) inside
// another start, stop or change of the same camera is refused with false. One made on another thread while such a call
// of the same camera is in progress waits for it at most the stop limit, and is refused with false when it lasts
// longer; the wait counts against the call's own limit. What a host may call from inside each callback, on the thread
// that makes it:
//   FrameSink::OnFrame and OnSignalLost (a camera's capture or delivery thread):
//     StartCapture, StopCapture and ChangeResolution of that camera, and StartStream and StopStream of
//     the stream that calls, are refused: they return false and change nothing. Make them from another
//     thread. A stream of another camera, or another stream of the same camera, may be started and
//     stopped; status queries (GetCaptureStatus, ChannelQuery5/6, GetCameraCount), PTZ and I/O calls
//     work.
//   LogSink::Write: comes on any thread of the driver, also inside the host's own calls into it and on
//     the threads a stop ends. Status queries and the host's own bookkeeping work; start, stop and
//     change nothing from here, hand that to another thread.
//   IOSink (the input poll or output thread): reading calls and SetOutputState work; StopIO returns
//     false (the poll ends once the callback returns).
//   CapabilityCallback, CapabilitySink (the query thread): the host may call Terminate or delete the
//     query module from inside QuerySucceeded, QueryFailed and every call into the sink; nothing of
//     the module is touched afterwards, and a query deleted inside a write into the sink writes
//     nothing more. QueryAbandoned comes from inside the delete function, after the module has let
//     go of its lock, when the query had not told its outcome. The delete function made on another
//     thread while the query thread is held in the host returns within twice the network time-out
//     (10 s) and 2 s for the termination; the query calls the host no more from then on.
//   From none of them: Close or the delete function of the capture driver object, which end the very
//     threads that make these callbacks.
class LogSink {
  ZEPHRIN_SLOT0(protected, LogSink);                   // slot 0
  virtual void Write(const CDebugInfoIf* record) = 0;  // slot 1: copy what is kept
};

class FrameBuffer {
  ZEPHRIN_SLOT0(protected, FrameBuffer);                   // slot 0
  virtual void Reserved1() = 0;                            // slot 1
  virtual uint8_t* GetData() = 0;                          // slot 2: capacity bytes as requested
  virtual void Reserved3() = 0;                            // slot 3
  virtual void SetLength(uint32_t bytes) = 0;              // slot 4
  virtual void Reserved5() = 0;                            // slot 5
  virtual void SetTime(const SystemTimeRecord* time) = 0;  // slot 6
  virtual void Reserved7() = 0;                            // slot 7
  virtual void Reserved8() = 0;                            // slot 8
  virtual void Reserved9() = 0;                            // slot 9
  virtual void SetCode(uint32_t fourCC) = 0;               // slot 10
  virtual void Reserved11() = 0;                           // slot 11
  virtual void SetHeight(uint16_t height) = 0;             // slot 12
  virtual void Reserved13() = 0;                           // slot 13
  virtual void SetWidth(uint16_t width) = 0;               // slot 14
  virtual void Reserved15() = 0;                           // slot 15
  virtual void SetSizeClass(uint32_t sizeClass) = 0;       // slot 16
};

class FrameAllocator {
  ZEPHRIN_SLOT0(protected, FrameAllocator);                                                   // slot 0
  virtual void Reserved1() = 0;                                                               // slot 1
  virtual FrameBuffer* Allocate(uint32_t fourCC, uint32_t capacity, const char* stream) = 0;  // slot 2
  virtual void Reserved3() = 0;                                                               // slot 3
  virtual void Reserved4() = 0;                                                               // slot 4
  virtual void Reserved5() = 0;                                                               // slot 5
  virtual void Release(FrameBuffer* buffer) = 0;                                              // slot 6
};

class FrameSink {
  ZEPHRIN_SLOT0(protected, FrameSink);           // slot 0
  virtual bool OnFrame(FrameBuffer* frame) = 0;  // slot 1: true = accepted
  virtual void Reserved2() = 0;                  // slot 2
  virtual void OnSignalLost() = 0;               // slot 3
};

// The device description handed to Open.
class CameraObject {
  ZEPHRIN_SLOT0(protected, CameraObject);  // slot 0
  virtual void Reserved1() = 0;            // slot 1
  virtual const char* GetModel() = 0;      // slot 2
  virtual int32_t GetCameraCount() = 0;    // slot 3
  virtual void Reserved4() = 0;            // slot 4
  virtual int32_t GetCameraValue1() = 0;   // slot 5
  virtual int32_t GetCameraValue2() = 0;   // slot 6
};

class ConnectionObject {
  ZEPHRIN_SLOT0(protected, ConnectionObject);  // slot 0
  virtual const char* GetAddress() = 0;        // slot 1
  virtual uint16_t GetPort() = 0;              // slot 2
  virtual void Reserved3() = 0;                // slot 3
  virtual int32_t GetDefaultCodec() = 0;       // slot 4
  virtual const char* GetUser() = 0;           // slot 5
  virtual const char* GetPassword() = 0;       // slot 6
};

class DeviceSource {
  ZEPHRIN_SLOT0(protected, DeviceSource);                 // slot 0
  virtual CameraObject* GetCamera() = 0;                  // slot 1
  virtual ConnectionObject* GetConnection() = 0;          // slot 2
  virtual void Reserved3() = 0;                           // slot 3
  virtual const char* GetParameter(uint32_t number) = 0;  // slot 4: from 1; null after the last
};

}  // namespace norvale::ipcapture

namespace norvale::ipcapture {

// Codec numbers at the host boundary; 0 and 5 stand for the device's default codec. The camera
// properties number their codec sets the other way (PropertyCodec).
enum HostCodec : int32_t { CodecDefault = 0, CodecJPEG = 1, CodecMPEG4 = 2, CodecH264 = 3, CodecDefaultAlt = 5 };

// ---- stream settings the host hands to the video capture object ------------------------------------
class StreamResolution {
  ZEPHRIN_SLOT0(protected, StreamResolution);  // slot 0
  virtual uint16_t GetWidth() = 0;             // slot 1
  virtual uint16_t GetHeight() = 0;            // slot 2
};

class StreamFormat {
  ZEPHRIN_SLOT0(protected, StreamFormat);         // slot 0
  virtual void Reserved1() = 0;                   // slot 1
  virtual void Reserved2() = 0;                   // slot 2
  virtual StreamResolution* GetResolution() = 0;  // slot 3
  virtual int32_t GetCodec() = 0;                 // slot 4: codec number
};

class StreamRate {
  ZEPHRIN_SLOT0(protected, StreamRate);     // slot 0
  virtual uint16_t GetFrameInterval() = 0;  // slot 1: stream value 1, ms per frame
  virtual void Reserved2() = 0;             // slot 2
  virtual uint16_t GetQuality() = 0;        // slot 3: stream value 2, 1 to 100
  virtual bool WantsCompanion() = 0;        // slot 4: a companion channel is wanted
};

class StreamSettingsSource {
  ZEPHRIN_SLOT0(protected, StreamSettingsSource);  // slot 0
  virtual StreamFormat* GetFormat() = 0;           // slot 1
  virtual StreamRate* GetRate() = 0;               // slot 2
  virtual void Reserved3() = 0;                    // slot 3
  virtual void Reserved4() = 0;                    // slot 4
  virtual int32_t GetHostValue() = 0;              // slot 5: handed to the channel's slot 1
};

// ---- video capture object ---------------------------------------------------------------------------
class IIPVideoCapture {
  ZEPHRIN_SLOT0(public, IIPVideoCapture);                                                         // slot 0
  virtual uint32_t GetCameraCount() = 0;                                                          // slot 1
  virtual bool StartCapture(uint32_t camera, FrameSink* sink, StreamSettingsSource* source) = 0;  // slot 2
  virtual bool StopCapture(uint32_t camera) = 0;                                                  // slot 3
  virtual bool ChangeResolution(uint32_t camera, StreamResolution* resolution,                    // slot 4
                                int32_t frameInterval) = 0;
  virtual int32_t Reserved5() = 0;                                                // slot 5: 0
  virtual bool GetCaptureStatus(uint32_t camera, int32_t* state, int32_t* value,  // slot 6
                                uint8_t* flagByte, bool flag) = 0;
  virtual bool Reserved7(uint32_t a, uint32_t b, uint32_t c) = 0;  // slot 7: false
  virtual bool Reserved8(uint32_t a, uint32_t b, uint32_t c) = 0;  // slot 8: false
};

class IIPVideoCaptureEx : public IIPVideoCapture {
 public:
  virtual bool ChannelQuery6(uint32_t camera) = 0;  // slot 9: stream 0's channel slot 6
  virtual bool ChannelQuery5(uint32_t camera) = 0;  // slot 10: stream 0's channel slot 5
};

class IIPVideoCaptureEx2 : public IIPVideoCaptureEx {
 public:
  virtual bool StartStream(uint32_t camera, uint32_t stream, FrameSink* sink,  // slot 11
                           StreamSettingsSource* source) = 0;
  virtual bool StopStream(uint32_t camera, uint32_t stream) = 0;  // slot 12
};

// ---- digital I/O --------------------------------------------------------------------------------------
// Input and output states: 0 undetermined, 1 inactive, 2 active.
enum : uint32_t { IOStateUndetermined = 0, IOStateInactive = 1, IOStateActive = 2 };

// The host's I/O sink.
class IOSink {
  ZEPHRIN_SLOT0(protected, IOSink);                                    // slot 0
  virtual void InputStateChanged(uint32_t input, uint32_t state) = 0;  // slot 1
  virtual void IOFailed() = 0;                                         // slot 2: after every failed poll or command
};

class ICaptureIOApi {
  ZEPHRIN_SLOT0(public, ICaptureIOApi);                              // slot 0
  virtual bool SetCallback(IOSink* sink) = 0;                        // slot 1: false for a null sink
  virtual bool StartIO() = 0;                                        // slot 2
  virtual bool StopIO() = 0;                                         // slot 3
  virtual uint32_t GetInputCount() = 0;                              // slot 4
  virtual uint32_t GetOutputCount() = 0;                             // slot 5
  virtual bool SetOutputState(uint32_t output, uint32_t state) = 0;  // slot 6
};

// ---- pan-tilt-zoom --------------------------------------------------------------------------------------
// Status of every PTZ control operation.
enum : int32_t {
  PTZ_OK = 1,
  PTZ_BadArgument = -3,
  PTZ_Failed = -18,        // failed, or the control is not open
  PTZ_NotSupported = -19,  // the camera cannot do it
  PTZ_PresetNotFound = -23,
  PTZ_PresetLimit = -26,
};

// The capability record the host hands to GetCapabilities (owned by the host). Field 0 is not touched.
struct PTZCapabilityRecord {
  int32_t reserved0;
  int32_t pan, tilt, zoom, focus, iris;  // 1 or 0
  int32_t reserved6;                     // 0
  int32_t presetSlots;                   // preset slots of the camera
  int32_t presetCount;                   // presets currently in the list
  int32_t reserved9, reserved10;         // 0
  int32_t areaZoom, center, unzoom;      // 1 or 0
};
static_assert(sizeof(PTZCapabilityRecord) == 14 * sizeof(int32_t));

class IIPPTZApi {
  ZEPHRIN_SLOT0(public, IIPPTZApi);                                                // slot 0
  virtual int32_t HasPTZ() = 0;                                                    // slot 1
  virtual int32_t StartMove(int32_t direction, int32_t speed) = 0;                 // slot 2
  virtual int32_t StopAll() = 0;                                                   // slot 3
  virtual int32_t Center(int32_t a, int32_t b, int32_t c) = 0;                     // slot 4
  virtual int32_t ZoomIn(int32_t speed) = 0;                                       // slot 5
  virtual int32_t ZoomOut(int32_t speed) = 0;                                      // slot 6
  virtual int32_t Unzoom(int32_t value) = 0;                                       // slot 7
  virtual int32_t AreaZoom(int32_t a, int32_t b, int32_t c, int32_t d) = 0;        // slot 8
  virtual int32_t StartFocusPositive(int32_t speed) = 0;                           // slot 9
  virtual int32_t StartFocusNegative(int32_t speed) = 0;                           // slot 10
  virtual int32_t StartIrisPositive(int32_t speed) = 0;                            // slot 11
  virtual int32_t StartIrisNegative(int32_t speed) = 0;                            // slot 12
  virtual int32_t GetCapabilities(PTZCapabilityRecord* record) = 0;                // slot 13
  virtual int32_t GetPresetCount() = 0;                                            // slot 14
  virtual int32_t GetPresetName(uint32_t index, char* buffer, uint32_t size) = 0;  // slot 15
  virtual int32_t GotoPreset(int32_t value, const char* name) = 0;                 // slot 16
  virtual int32_t AddPreset(const char* name) = 0;                                 // slot 17
  virtual int32_t RemovePreset(const char* name) = 0;                              // slot 18
  virtual int32_t GetCurrentPresetName(char* buffer, uint32_t size) = 0;           // slot 19
};

class IIPPTZApiEx : public IIPPTZApi {
 public:
  virtual bool IsVersionSupported(int32_t version) = 0;  // slot 20: true exactly for 1
};

// A request for a control waits at most the stop limit for another one held in the host (a log line
// written while that one sets its control up) and is then answered with null.
class IIPPTZDriver {
  ZEPHRIN_SLOT0(public, IIPPTZDriver);                 // slot 0
  virtual IIPPTZApi* GetPTZApi(uint32_t channel) = 0;  // slot 1
};

class IIPPTZDriverEx : public IIPPTZDriver {
 public:
  // The older entry hands out the newer control object.
  IIPPTZApi* GetPTZApi(uint32_t channel) override { return GetPTZApiEx(channel); }  // slot 1
  virtual IIPPTZApiEx* GetPTZApiEx(uint32_t channel) = 0;                           // slot 2
};

// ---- capture driver ---------------------------------------------------------------------------------------
// Each version repeats its predecessor and appends slots, so one object serves hosts of every version.
class IIPCaptureDriver : public IDeletable {
 public:
  // slot 0: the destructor of IDeletable
  virtual bool Open(LogSink* log, FrameAllocator* allocator, DeviceSource* device) = 0;  // slot 1
  virtual void Close() = 0;                                                              // slot 2
  virtual IIPVideoCapture* GetVideoCapture() = 0;                                        // slot 3
  virtual ICaptureIOApi* GetIOApi() = 0;                                                 // slot 4
};

class IIPCaptureDriverEx : public IIPCaptureDriver {
 public:
  virtual void* Reserved5() = 0;             // slot 5: null
  virtual IIPPTZDriver* GetPTZDriver() = 0;  // slot 6
};

class IIPCaptureDriverEx2 : public IIPCaptureDriverEx {
 public:
  virtual void* Reserved7() = 0;                       // slot 7: null
  virtual IIPVideoCaptureEx* GetVideoCaptureEx() = 0;  // slot 8: the video capture object again
};

class IIPCaptureDriverEx3 : public IIPCaptureDriverEx2 {
 public:
  virtual IIPPTZDriverEx* GetPTZDriverEx() = 0;  // slot 9: the PTZ handler again
};

class IIPCaptureDriverEx4 : public IIPCaptureDriverEx3 {
 public:
  virtual void* Reserved10() = 0;  // slot 10: null
  virtual void* Reserved11() = 0;  // slot 11: null
};

class IIPCaptureDriverEx5 : public IIPCaptureDriverEx4 {
 public:
  virtual IIPVideoCaptureEx2* GetVideoCaptureEx2() = 0;  // slot 12: the video capture object again
};

// ---- capability query ------------------------------------------------------------------------------------
// Reasons given to QueryFailed.
enum : int32_t {
  QueryAddressInvalid = 0,
  QueryLoginFailed = 1,
  QueryDeviceOffline = 2,
  QueryOtherFailure = 3,
};

// The host's callback object of a capability query.
class CapabilityCallback {
  ZEPHRIN_SLOT0(protected, CapabilityCallback);                    // slot 0
  virtual void Reserved1() = 0;                                    // slot 1
  virtual void QuerySucceeded() = 0;                               // slot 2
  virtual void QueryFailed(int32_t reason, const char* text) = 0;  // slot 3
  virtual void QueryAbandoned() = 0;                               // slot 4: the query thread was killed
};

// Items and lists the capability sink hands out; they belong to the sink.
class CapabilityConnectionItem {
  ZEPHRIN_SLOT0(protected, CapabilityConnectionItem);  // slot 0
  virtual void SetValue(const char* text) = 0;         // slot 1
};

class CapabilityPropertyItem {
  ZEPHRIN_SLOT0(protected, CapabilityPropertyItem);  // slot 0
  virtual void SetValue(const char* text) = 0;       // slot 1
  virtual void Reserved2() = 0;                      // slot 2
  virtual void Reserved3() = 0;                      // slot 3
  virtual void SetValueIsText(int32_t isText) = 0;   // slot 4: 1 for text, 0 for numeric and yes/no values
  virtual void SetName(const char* name) = 0;        // slot 5
  virtual void SetFlags(int32_t flags) = 0;          // slot 6: the driver passes 0
};

class CapabilityResolutionList {
  ZEPHRIN_SLOT0(protected, CapabilityResolutionList);                  // slot 0
  virtual void Add(const char* text, uint32_t width, uint32_t height,  // slot 1
                   uint32_t frameInterval) = 0;
};

class CapabilityFrameRateList {
  ZEPHRIN_SLOT0(protected, CapabilityFrameRateList);    // slot 0
  virtual void SetDefault(uint32_t frameInterval) = 0;  // slot 1
  virtual void Add(uint32_t frameInterval) = 0;         // slot 2
};

// The host's capability sink, filled by a query.
class CapabilitySink {
  ZEPHRIN_SLOT0(protected, CapabilitySink);                                 // slot 0
  virtual void SetCapability(uint32_t id, uint32_t value) = 0;              // slot 1
  virtual void SetModelName(const char* text) = 0;                          // slot 2
  virtual CapabilityConnectionItem* GetConnectionItem(uint32_t index) = 0;  // slot 3: 1 to 4
  virtual void Reserved4() = 0;                                             // slot 4
  virtual CapabilityPropertyItem* GetPropertyItem(int32_t id) = 0;          // slot 5
  virtual CapabilityResolutionList* GetResolutionList() = 0;                // slot 6
  virtual void Reserved7() = 0;                                             // slot 7
  virtual CapabilityFrameRateList* GetFrameRateList(int32_t kind) = 0;      // slot 8: the driver passes 1
};

class IIPCapabilityQuery : public IDeletable {
 public:
  // slot 0: the destructor of IDeletable
  virtual int32_t Start(const char* address, uint16_t port, const char* user,  // slot 1: 1 = started
                        const char* password, CapabilitySink* sink) = 0;
  virtual void Terminate() = 0;  // slot 2
};

}  // namespace norvale::ipcapture

namespace norvale::ipcapture {

// The exported entry points as the host declares them (C linkage). One create function stands behind
// every CreateIPCapture* name and one delete function behind every DeleteIPCapture* name and
// DeleteCapabilityQueryModule.
using CreateIPCaptureFn = IIPCaptureDriverEx5* (*)();
using DeleteObjectFn = void (*)(IDeletable* object);
// videoStandard: non-zero = NTSC.
using InitCapabilityQueryFn = int32_t (*)(CapabilityCallback* callback, int32_t videoStandard);
using StartCapabilityQueryFn = int32_t (*)(const char* address, uint16_t port, const char* user, const char* password,
                                           CapabilitySink* sink);
using TerminateCapabilityQueryFn = int32_t (*)();
using UninitCapabilityQueryFn = int32_t (*)();
using CreateCapabilityQueryModuleFn = IIPCapabilityQuery* (*)(CapabilityCallback* callback, int32_t videoStandard);

}  // namespace norvale::ipcapture
