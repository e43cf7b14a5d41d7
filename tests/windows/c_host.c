/* A recording host written in plain C, with no C++ compiler anywhere near it: it sees the driver
 * only as the recording host does -- a DLL with C exports whose objects are pointers to tables of
 * functions, called by slot number with the object as the first argument. It loads the driver,
 * creates one driver object, opens it for one camera, records H.264 from stream 0 for a while into a
 * file (the frames as the driver hands them over, one after another), stops, closes and deletes the
 * driver, and checks what it saw: frames arrived, every frame buffer went back to the allocator
 * once, no slot outside the documented ones was called, and the getters that must answer null or
 * the same object do so.
 *
 *   c_host DLL ADDRESS HTTP-PORT USER PASSWORD MODEL OUT SECONDS [N=TEXT ...]
 *
 * N=TEXT are the host parameters handed to Open (number N from 1; gaps are "(none)").
 * Exit status: 0 recorded and every check held, 1 a check failed, 2 bad arguments, 3 the driver
 * could not be loaded, created or opened, or did not start the stream. */
#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

/* ---- the tables, slot by slot --------------------------------------------------------------------
 * Slot 0 of every table is the scalar deleting destructor: it destroys the object and frees it when
 * bit 0 of its argument is set. The driver never calls it on the host's objects. */
typedef void* (*SlotDestructor)(void* self, unsigned int flags);
typedef void (*SlotReserved)(void* self);

typedef struct DebugInfo {
  const struct DebugInfoTable* table;
} DebugInfo;
struct DebugInfoTable {
  SlotDestructor destroy;                        /* 0 */
  uint8_t (*GetLevel)(const DebugInfo* self);    /* 1 */
  const char* (*GetText)(const DebugInfo* self); /* 2: null for an empty text */
};

typedef struct LogSink {
  const struct LogSinkTable* table;
} LogSink;
struct LogSinkTable {
  SlotDestructor destroy;                                /* 0 */
  void (*Write)(LogSink* self, const DebugInfo* record); /* 1 */
};

typedef struct FrameBuffer FrameBuffer;
struct FrameBufferTable {
  SlotDestructor destroy;                                      /* 0 */
  SlotReserved reserved1;                                      /* 1 */
  uint8_t* (*GetData)(FrameBuffer* self);                      /* 2 */
  SlotReserved reserved3;                                      /* 3 */
  void (*SetLength)(FrameBuffer* self, uint32_t bytes);        /* 4 */
  SlotReserved reserved5;                                      /* 5 */
  void (*SetTime)(FrameBuffer* self, const SYSTEMTIME* time);  /* 6 */
  SlotReserved reserved7, reserved8, reserved9;                /* 7 to 9 */
  void (*SetCode)(FrameBuffer* self, uint32_t fourCC);         /* 10 */
  SlotReserved reserved11;                                     /* 11 */
  void (*SetHeight)(FrameBuffer* self, uint16_t height);       /* 12 */
  SlotReserved reserved13;                                     /* 13 */
  void (*SetWidth)(FrameBuffer* self, uint16_t width);         /* 14 */
  SlotReserved reserved15;                                     /* 15 */
  void (*SetSizeClass)(FrameBuffer* self, uint32_t sizeClass); /* 16 */
};

typedef struct FrameAllocator FrameAllocator;
struct FrameAllocatorTable {
  SlotDestructor destroy;                                                                                 /* 0 */
  SlotReserved reserved1;                                                                                 /* 1 */
  FrameBuffer* (*Allocate)(FrameAllocator* self, uint32_t fourCC, uint32_t capacity, const char* stream); /* 2 */
  SlotReserved reserved3, reserved4, reserved5;                                                           /* 3 to 5 */
  void (*Release)(FrameAllocator* self, FrameBuffer* buffer);                                             /* 6 */
};

typedef struct FrameSink FrameSink;
struct FrameSinkTable {
  SlotDestructor destroy;                               /* 0 */
  bool (*OnFrame)(FrameSink* self, FrameBuffer* frame); /* 1: true = accepted */
  SlotReserved reserved2;                               /* 2 */
  void (*OnSignalLost)(FrameSink* self);                /* 3 */
};

typedef struct CameraObject CameraObject;
struct CameraObjectTable {
  SlotDestructor destroy;                        /* 0 */
  SlotReserved reserved1;                        /* 1 */
  const char* (*GetModel)(CameraObject* self);   /* 2 */
  int32_t (*GetCameraCount)(CameraObject* self); /* 3 */
  SlotReserved reserved4;                        /* 4 */
  int32_t (*GetValue1)(CameraObject* self);      /* 5 */
  int32_t (*GetValue2)(CameraObject* self);      /* 6 */
};

typedef struct ConnectionObject ConnectionObject;
struct ConnectionObjectTable {
  SlotDestructor destroy;                             /* 0 */
  const char* (*GetAddress)(ConnectionObject* self);  /* 1 */
  uint16_t (*GetPort)(ConnectionObject* self);        /* 2 */
  SlotReserved reserved3;                             /* 3 */
  int32_t (*GetDefaultCodec)(ConnectionObject* self); /* 4 */
  const char* (*GetUser)(ConnectionObject* self);     /* 5 */
  const char* (*GetPassword)(ConnectionObject* self); /* 6 */
};

typedef struct DeviceSource DeviceSource;
struct DeviceSourceTable {
  SlotDestructor destroy;                                           /* 0 */
  CameraObject* (*GetCamera)(DeviceSource* self);                   /* 1 */
  ConnectionObject* (*GetConnection)(DeviceSource* self);           /* 2 */
  SlotReserved reserved3;                                           /* 3 */
  const char* (*GetParameter)(DeviceSource* self, uint32_t number); /* 4: from 1; null after the last */
};

typedef struct StreamResolution StreamResolution;
struct StreamResolutionTable {
  SlotDestructor destroy;                        /* 0 */
  uint16_t (*GetWidth)(StreamResolution* self);  /* 1 */
  uint16_t (*GetHeight)(StreamResolution* self); /* 2 */
};

typedef struct StreamFormat StreamFormat;
struct StreamFormatTable {
  SlotDestructor destroy;                                 /* 0 */
  SlotReserved reserved1, reserved2;                      /* 1, 2 */
  StreamResolution* (*GetResolution)(StreamFormat* self); /* 3 */
  int32_t (*GetCodec)(StreamFormat* self);                /* 4 */
};

typedef struct StreamRate StreamRate;
struct StreamRateTable {
  SlotDestructor destroy;                         /* 0 */
  uint16_t (*GetFrameInterval)(StreamRate* self); /* 1: ms per frame */
  SlotReserved reserved2;                         /* 2 */
  uint16_t (*GetQuality)(StreamRate* self);       /* 3 */
  bool (*WantsCompanion)(StreamRate* self);       /* 4 */
};

typedef struct StreamSettings StreamSettings;
struct StreamSettingsTable {
  SlotDestructor destroy;                           /* 0 */
  StreamFormat* (*GetFormat)(StreamSettings* self); /* 1 */
  StreamRate* (*GetRate)(StreamSettings* self);     /* 2 */
  SlotReserved reserved3, reserved4;                /* 3, 4 */
  int32_t (*GetHostValue)(StreamSettings* self);    /* 5 */
};

/* The driver's objects: only the slots this host calls have a type; the rest hold their place. */
typedef struct VideoCapture {
  const struct VideoCaptureTable* table;
} VideoCapture;
struct VideoCaptureTable {
  SlotDestructor destroy;                                                                             /* 0 */
  uint32_t (*GetCameraCount)(VideoCapture* self);                                                     /* 1 */
  bool (*StartCapture)(VideoCapture* self, uint32_t camera, FrameSink* sink, StreamSettings* source); /* 2 */
  bool (*StopCapture)(VideoCapture* self, uint32_t camera);                                           /* 3 */
  void* changeResolution;                                                                             /* 4 */
  int32_t (*Reserved5)(VideoCapture* self);                                                           /* 5: 0 */
  bool (*GetCaptureStatus)(VideoCapture* self, uint32_t camera, int32_t* state, int32_t* value, uint8_t* flagByte,
                           bool flag); /* 6 */
  void* slots7to12[6];                 /* 7 to 12 */
};

typedef struct IOApi {
  const struct IOApiTable* table;
} IOApi;
struct IOApiTable {
  SlotDestructor destroy;                  /* 0 */
  void *setCallback, *startIO, *stopIO;    /* 1 to 3 */
  uint32_t (*GetInputCount)(IOApi* self);  /* 4 */
  uint32_t (*GetOutputCount)(IOApi* self); /* 5 */
  void* setOutputState;                    /* 6 */
};

typedef struct Driver {
  const struct DriverTable* table;
} Driver;
struct DriverTable {
  SlotDestructor destroy;                                                                    /* 0 */
  bool (*Open)(Driver* self, LogSink* log, FrameAllocator* allocator, DeviceSource* device); /* 1 */
  void (*Close)(Driver* self);                                                               /* 2 */
  VideoCapture* (*GetVideoCapture)(Driver* self);                                            /* 3 */
  IOApi* (*GetIOApi)(Driver* self);                                                          /* 4 */
  void* (*Reserved5)(Driver* self);                                                          /* 5: null */
  void* (*GetPTZDriver)(Driver* self);                                                       /* 6 */
  void* (*Reserved7)(Driver* self);                                                          /* 7: null */
  VideoCapture* (*GetVideoCaptureEx)(Driver* self);                                          /* 8 */
  void* (*GetPTZDriverEx)(Driver* self);                                                     /* 9 */
  void* (*Reserved10)(Driver* self);                                                         /* 10: null */
  void* (*Reserved11)(Driver* self);                                                         /* 11: null */
  VideoCapture* (*GetVideoCaptureEx2)(Driver* self);                                         /* 12 */
};

typedef Driver* (*CreateFn)(void);
typedef void (*DeleteFn)(Driver* driver);

/* ---- what the host saw ------------------------------------------------------------------------- */
static CRITICAL_SECTION gLock;
static volatile LONG gViolations;
static int gFailed;

static void Fail(const char* what) {
  fprintf(stderr, "c_host: %s\n", what);
  gFailed = 1;
}

static void* UnexpectedDestructor(void* self, unsigned int flags) {
  (void)flags;
  fprintf(stderr, "c_host: the driver called slot 0 of host object %p\n", self);
  InterlockedIncrement(&gViolations);
  return self;
}

static void UnexpectedSlot(void* self) {
  fprintf(stderr, "c_host: the driver called a reserved slot of host object %p\n", self);
  InterlockedIncrement(&gViolations);
}

/* ---- log sink: the driver's lines on stderr ---------------------------------------------------- */
static void LogWrite(LogSink* self, const DebugInfo* record) {
  (void)self;
  if (!record) return;
  const char* text = record->table->GetText(record);
  const uint8_t level = record->table->GetLevel(record);
  EnterCriticalSection(&gLock);
  fprintf(stderr, "[%u] %s\n", level, text ? text : "");
  LeaveCriticalSection(&gLock);
}
static const struct LogSinkTable kLogSinkTable = {UnexpectedDestructor, LogWrite};

/* ---- frame buffers and their allocator ---------------------------------------------------------- */
enum { kBufferMark = 0x46524d42 };
struct FrameBuffer {
  const struct FrameBufferTable* table;
  uint32_t mark; /* kBufferMark while the buffer is out */
  uint8_t* data;
  uint32_t capacity, length, code, sizeClass;
  uint16_t width, height;
  SYSTEMTIME time;
};

static uint8_t* BufferData(FrameBuffer* self) { return self->data; }
static void BufferSetLength(FrameBuffer* self, uint32_t bytes) { self->length = bytes; }
static void BufferSetTime(FrameBuffer* self, const SYSTEMTIME* time) {
  if (time) self->time = *time;
}
static void BufferSetCode(FrameBuffer* self, uint32_t fourCC) { self->code = fourCC; }
static void BufferSetHeight(FrameBuffer* self, uint16_t height) { self->height = height; }
static void BufferSetWidth(FrameBuffer* self, uint16_t width) { self->width = width; }
static void BufferSetSizeClass(FrameBuffer* self, uint32_t sizeClass) { self->sizeClass = sizeClass; }
static const struct FrameBufferTable kFrameBufferTable = {
    UnexpectedDestructor, UnexpectedSlot, BufferData,     UnexpectedSlot, BufferSetLength,   UnexpectedSlot,
    BufferSetTime,        UnexpectedSlot, UnexpectedSlot, UnexpectedSlot, BufferSetCode,     UnexpectedSlot,
    BufferSetHeight,      UnexpectedSlot, BufferSetWidth, UnexpectedSlot, BufferSetSizeClass};

struct FrameAllocator {
  const struct FrameAllocatorTable* table;
  LONG outstanding, allocations, badReleases;
};

static FrameBuffer* Allocate(FrameAllocator* self, uint32_t fourCC, uint32_t capacity, const char* stream) {
  (void)stream;
  FrameBuffer* buffer = calloc(1, sizeof *buffer);
  if (!buffer) return NULL;
  buffer->data = malloc(capacity ? capacity : 1);
  if (!buffer->data) {
    free(buffer);
    return NULL;
  }
  buffer->table = &kFrameBufferTable;
  buffer->mark = kBufferMark;
  buffer->capacity = capacity;
  buffer->code = fourCC;
  InterlockedIncrement(&self->outstanding);
  InterlockedIncrement(&self->allocations);
  return buffer;
}

static void Release(FrameAllocator* self, FrameBuffer* buffer) {
  if (!buffer || buffer->mark != kBufferMark) {
    InterlockedIncrement(&self->badReleases);
    return;
  }
  buffer->mark = 0;
  free(buffer->data);
  free(buffer);
  InterlockedDecrement(&self->outstanding);
}
static const struct FrameAllocatorTable kFrameAllocatorTable = {
    UnexpectedDestructor, UnexpectedSlot, Allocate, UnexpectedSlot, UnexpectedSlot, UnexpectedSlot, Release};

/* ---- frame sink: the frames into the file ------------------------------------------------------- */
enum { kH264 = 0x34363248 }; /* "H264" */
static const uint8_t kDelimiter[5] = {0, 0, 1, 0x09, 0x30};

struct FrameSink {
  const struct FrameSinkTable* table;
  FILE* file;
  unsigned long frames, h264Frames, signalLost;
  unsigned long long bytes;
  bool writeFailed;
  /* An H.264 frame ends with an access unit delimiter for the next picture: it is written only when
   * that picture comes, so the file does not end with one. */
  bool delimiterHeld;
};

static bool OnFrame(FrameSink* self, FrameBuffer* frame) {
  if (!frame || frame->mark != kBufferMark) {
    Fail("a frame that is not one of this host's buffers reached the frame sink");
    return false;
  }
  uint32_t length = frame->length < frame->capacity ? frame->length : frame->capacity;
  EnterCriticalSection(&gLock);
  bool held = length >= sizeof kDelimiter &&
              memcmp(frame->data + length - sizeof kDelimiter, kDelimiter, sizeof kDelimiter) == 0;
  if (held) length -= sizeof kDelimiter;
  if (self->delimiterHeld && fwrite(kDelimiter, 1, sizeof kDelimiter, self->file) != sizeof kDelimiter)
    self->writeFailed = true;
  if (length > 0 && fwrite(frame->data, 1, length, self->file) != length) self->writeFailed = true;
  self->delimiterHeld = held;
  ++self->frames;
  if (frame->code == kH264) ++self->h264Frames;
  self->bytes += length;
  LeaveCriticalSection(&gLock);
  return true;
}

static void OnSignalLost(FrameSink* self) {
  EnterCriticalSection(&gLock);
  ++self->signalLost;
  LeaveCriticalSection(&gLock);
}
static const struct FrameSinkTable kFrameSinkTable = {UnexpectedDestructor, OnFrame, UnexpectedSlot, OnSignalLost};

/* ---- the device description ---------------------------------------------------------------------- */
enum { kMaxParameters = 16 };
struct CameraObject {
  const struct CameraObjectTable* table;
  const char* model;
};
struct ConnectionObject {
  const struct ConnectionObjectTable* table;
  const char *address, *user, *password;
  uint16_t port;
};
struct DeviceSource {
  const struct DeviceSourceTable* table;
  CameraObject camera;
  ConnectionObject connection;
  const char* parameters[kMaxParameters]; /* parameter n is parameters[n - 1] */
  uint32_t parameterCount;
};

static const char* CameraModel(CameraObject* self) { return self->model; }
static int32_t CameraCount(CameraObject* self) {
  (void)self;
  return 1;
}
static int32_t CameraValue(CameraObject* self) {
  (void)self;
  return 0;
}
static const struct CameraObjectTable kCameraTable = {UnexpectedDestructor, UnexpectedSlot, CameraModel, CameraCount,
                                                      UnexpectedSlot,       CameraValue,    CameraValue};

static const char* ConnectionAddress(ConnectionObject* self) { return self->address; }
static uint16_t ConnectionPort(ConnectionObject* self) { return self->port; }
static int32_t ConnectionCodec(ConnectionObject* self) {
  (void)self;
  return 3; /* H.264 */
}
static const char* ConnectionUser(ConnectionObject* self) { return self->user; }
static const char* ConnectionPassword(ConnectionObject* self) { return self->password; }
static const struct ConnectionObjectTable kConnectionTable = {UnexpectedDestructor, ConnectionAddress, ConnectionPort,
                                                              UnexpectedSlot,       ConnectionCodec,   ConnectionUser,
                                                              ConnectionPassword};

static CameraObject* DeviceCamera(DeviceSource* self) { return &self->camera; }
static ConnectionObject* DeviceConnection(DeviceSource* self) { return &self->connection; }
static const char* DeviceParameter(DeviceSource* self, uint32_t number) {
  return number >= 1 && number <= self->parameterCount ? self->parameters[number - 1] : NULL;
}
static const struct DeviceSourceTable kDeviceTable = {UnexpectedDestructor, DeviceCamera, DeviceConnection,
                                                      UnexpectedSlot, DeviceParameter};

/* ---- the stream settings: H.264, 640 x 480, 25 frames a second ---------------------------------- */
struct StreamResolution {
  const struct StreamResolutionTable* table;
};
struct StreamFormat {
  const struct StreamFormatTable* table;
  StreamResolution resolution;
};
struct StreamRate {
  const struct StreamRateTable* table;
};
struct StreamSettings {
  const struct StreamSettingsTable* table;
  StreamFormat format;
  StreamRate rate;
};

static uint16_t ResolutionWidth(StreamResolution* self) {
  (void)self;
  return 640;
}
static uint16_t ResolutionHeight(StreamResolution* self) {
  (void)self;
  return 480;
}
static const struct StreamResolutionTable kResolutionTable = {UnexpectedDestructor, ResolutionWidth, ResolutionHeight};

static StreamResolution* FormatResolution(StreamFormat* self) { return &self->resolution; }
static int32_t FormatCodec(StreamFormat* self) {
  (void)self;
  return 3;
}
static const struct StreamFormatTable kFormatTable = {UnexpectedDestructor, UnexpectedSlot, UnexpectedSlot,
                                                      FormatResolution, FormatCodec};

static uint16_t RateInterval(StreamRate* self) {
  (void)self;
  return 40;
}
static uint16_t RateQuality(StreamRate* self) {
  (void)self;
  return 70;
}
static bool RateCompanion(StreamRate* self) {
  (void)self;
  return false;
}
static const struct StreamRateTable kRateTable = {UnexpectedDestructor, RateInterval, UnexpectedSlot, RateQuality,
                                                  RateCompanion};

static StreamFormat* SettingsFormat(StreamSettings* self) { return &self->format; }
static StreamRate* SettingsRate(StreamSettings* self) { return &self->rate; }
static int32_t SettingsHostValue(StreamSettings* self) {
  (void)self;
  return 0;
}
static const struct StreamSettingsTable kSettingsTable = {UnexpectedDestructor, SettingsFormat, SettingsRate,
                                                          UnexpectedSlot,       UnexpectedSlot, SettingsHostValue};

/* ---- the recording ---------------------------------------------------------------------------------- */
static const char* gNone = "(none)";

static int Record(Driver* driver, FrameSink* sink, StreamSettings* settings, double seconds) {
  const struct DriverTable* d = driver->table;
  VideoCapture* capture = d->GetVideoCapture(driver);
  if (!capture) {
    Fail("the driver has no video capture object (slot 3)");
    return 3;
  }
  if (d->GetVideoCaptureEx(driver) != capture || d->GetVideoCaptureEx2(driver) != capture)
    Fail("slots 8 and 12 do not hand out the video capture object of slot 3");
  if (d->Reserved5(driver) || d->Reserved7(driver) || d->Reserved10(driver) || d->Reserved11(driver))
    Fail("slots 5, 7, 10 and 11 of the driver do not all answer null");
  if (!d->GetPTZDriver(driver) || d->GetPTZDriverEx(driver) != d->GetPTZDriver(driver))
    Fail("slots 6 and 9 do not hand out one PTZ handler");
  if (capture->table->GetCameraCount(capture) != 1) Fail("the video capture object does not count one camera");
  if (capture->table->Reserved5(capture) != 0) Fail("slot 5 of the video capture object does not answer 0");
  IOApi* io = d->GetIOApi(driver);
  if (io)
    fprintf(stdout, "digital I/O: %u inputs, %u outputs\n", io->table->GetInputCount(io),
            io->table->GetOutputCount(io));

  if (!capture->table->StartCapture(capture, 0, sink, settings)) {
    Fail("the driver did not start the stream");
    capture->table->StopCapture(capture, 0);
    return 3;
  }
  const DWORD begin = GetTickCount();
  int32_t lastState = -1;
  while ((double)(GetTickCount() - begin) < seconds * 1000.0) {
    Sleep(250);
    int32_t state = -1, value = 0;
    uint8_t flag = 0;
    if (capture->table->GetCaptureStatus(capture, 0, &state, &value, &flag, false) && state != lastState) {
      fprintf(stdout, "capture state %d after %lu ms\n", state, (unsigned long)(GetTickCount() - begin));
      lastState = state;
    }
  }
  if (!capture->table->StopCapture(capture, 0)) Fail("the driver did not stop the stream");
  return 0;
}

int main(int argc, char** argv) {
  if (argc < 9) {
    fprintf(stderr, "usage: c_host DLL ADDRESS HTTP-PORT USER PASSWORD MODEL OUT SECONDS [N=TEXT ...]\n");
    return 2;
  }
  InitializeCriticalSection(&gLock);
  DeviceSource device = {
      &kDeviceTable, {&kCameraTable, argv[6]}, {&kConnectionTable, argv[2], argv[4], argv[5], 0}, {0}, 0};
  const long port = strtol(argv[3], NULL, 10);
  const double seconds = strtod(argv[8], NULL);
  if (port < 1 || port > 65535 || seconds <= 0) {
    fprintf(stderr, "c_host: bad port or duration\n");
    return 2;
  }
  device.connection.port = (uint16_t)port;
  for (int i = 9; i < argc; ++i) {
    char* end = NULL;
    const unsigned long number = strtoul(argv[i], &end, 10);
    if (!end || *end != '=' || number < 1 || number > kMaxParameters) {
      fprintf(stderr, "c_host: bad parameter %s\n", argv[i]);
      return 2;
    }
    for (uint32_t n = device.parameterCount; n < number; ++n) device.parameters[n] = gNone;
    device.parameters[number - 1] = end + 1;
    if (number > device.parameterCount) device.parameterCount = (uint32_t)number;
  }

  HMODULE library = LoadLibraryA(argv[1]);
  if (!library) {
    fprintf(stderr, "c_host: cannot load %s (error %lu)\n", argv[1], (unsigned long)GetLastError());
    return 3;
  }
  CreateFn create = (CreateFn)(void (*)(void))GetProcAddress(library, "CreateIPCaptureEx5");
  DeleteFn destroy = (DeleteFn)(void (*)(void))GetProcAddress(library, "DeleteIPCaptureEx5");
  if (!create || !destroy) {
    fprintf(stderr, "c_host: %s lacks CreateIPCaptureEx5 or DeleteIPCaptureEx5\n", argv[1]);
    return 3;
  }
  FILE* file = fopen(argv[7], "wb");
  if (!file) {
    fprintf(stderr, "c_host: cannot write %s\n", argv[7]);
    return 2;
  }

  LogSink log = {&kLogSinkTable};
  FrameAllocator allocator = {&kFrameAllocatorTable, 0, 0, 0};
  FrameSink sink = {&kFrameSinkTable, file, 0, 0, 0, 0, false, false};
  StreamSettings settings = {&kSettingsTable, {&kFormatTable, {&kResolutionTable}}, {&kRateTable}};

  int status = 3;
  Driver* driver = create();
  if (!driver) {
    fprintf(stderr, "c_host: the driver could not be created\n");
  } else {
    if (driver->table->Open(driver, &log, &allocator, &device))
      status = Record(driver, &sink, &settings, seconds);
    else
      fprintf(stderr, "c_host: the driver did not open the device\n");
    driver->table->Close(driver);
    destroy(driver);
  }
  if (fclose(file) != 0) sink.writeFailed = true;
  FreeLibrary(library);

  fprintf(stdout, "recorded %lu frames (%lu H.264), %llu bytes; %lu signal losses; %ld buffers allocated\n",
          sink.frames, sink.h264Frames, sink.bytes, sink.signalLost, (long)allocator.allocations);
  if (status != 0) return status;
  if (sink.writeFailed) Fail("writing the recording failed");
  if (sink.h264Frames == 0) Fail("no H.264 frame arrived");
  if (allocator.outstanding != 0 || allocator.badReleases != 0) {
    fprintf(stderr, "c_host: frame buffers: %ld not released, %ld bad releases\n", (long)allocator.outstanding,
            (long)allocator.badReleases);
    gFailed = 1;
  }
  if (gViolations != 0) Fail("the driver called slots the contract does not list");
  return gFailed ? 1 : 0;
}
