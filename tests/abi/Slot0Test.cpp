// Slot 0 of the host boundary: an object is destroyed through it as a whole, whichever class of its
// hierarchy implements it, and in a Windows build by an Itanium-ABI compiler it is the one
// scalar-deleting entry a host built with Microsoft's compiler calls by number.
#include <gtest/gtest.h>

#include <new>

#include "host/HostInterfaces.h"

namespace {

using norvale::ipcapture::DeleteObject;
using norvale::ipcapture::FrameBuffer;
using norvale::ipcapture::FrameSink;
using norvale::ipcapture::IIPCapabilityQuery;

int gDestroyed = 0;

struct Counted {
  ~Counted() { ++gDestroyed; }
};

class Query : public IIPCapabilityQuery {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(Query);
  virtual ~Query() = default;
  int32_t Start(const char*, uint16_t, const char*, const char*, norvale::ipcapture::CapabilitySink*) override {
    return 0;
  }
  void Terminate() override {}

 private:
  Counted base_;
};

// Derived from an implementing class, as the driver's own classes are.
class ElmoQuery : public Query {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(ElmoQuery);

 private:
  Counted derived_;
};

class Sink : public FrameSink {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(Sink);
  ~Sink() { ++gDestroyed; }
  bool OnFrame(FrameBuffer*) override {
    ++frames;
    return true;
  }
  void Reserved2() override {}
  void OnSignalLost() override {}
  int frames = 0;
};

TEST(Slot0, DeletingThroughTheInterfaceDestroysTheWholeObject) {
  gDestroyed = 0;
  norvale::ipcapture::IDeletable* query = new ElmoQuery;
  DeleteObject(query);
  EXPECT_EQ(gDestroyed, 2) << "both the derived and the base class's members are destroyed";
  DeleteObject(static_cast<IIPCapabilityQuery*>(nullptr));
  EXPECT_EQ(gDestroyed, 2);
}

TEST(Slot0, AHostCallsTheEntriesByNumber) {
#ifdef ZEPHRIN_SCALAR_DELETING_SLOT0
  using Destructor = void* (*)(void* self, unsigned int flags);
  using OnFrame = bool (*)(void* self, FrameBuffer* frame);
  gDestroyed = 0;
  // In a caller's storage: slot 0 without bit 0 destroys, and must not free.
  alignas(Sink) unsigned char storage[sizeof(Sink)];
  Sink* sink = new (storage) Sink;
  void** table = *reinterpret_cast<void***>(sink);
  EXPECT_TRUE(reinterpret_cast<OnFrame>(table[1])(sink, nullptr)) << "slot 1 is OnFrame";
  EXPECT_EQ(sink->frames, 1);
  EXPECT_EQ(reinterpret_cast<Destructor>(table[0])(sink, 0), sink);
  EXPECT_EQ(gDestroyed, 1);
  // On the heap: with bit 0 it destroys and frees.
  sink = new Sink;
  table = *reinterpret_cast<void***>(sink);
  reinterpret_cast<Destructor>(table[0])(sink, 1);
  EXPECT_EQ(gDestroyed, 2);
#else
  GTEST_SKIP() << "slot 0 is this compiler's virtual destructor here; the scalar-deleting entry is Windows-only";
#endif
}

}  // namespace
