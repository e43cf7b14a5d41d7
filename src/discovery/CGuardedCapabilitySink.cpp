#include "discovery/CGuardedCapabilitySink.h"

namespace norvale {

namespace {
// A stand-in for one of the host's objects: its calls go, through the gate, to the host's object it
// was last pointed at.
template <class HostObject>
class Standin : public HostObject {
 public:
  explicit Standin(CGuardedCapabilitySink& gate) : gate_(gate) {}

  // Asks the host for its object through the gate and points this stand-in at it; null when the gate
  // is closed or the host has none.
  template <class Get>
  HostObject* HandOut(Get&& get) {
    HostObject* object = nullptr;
    if (!gate_.Pass([&] { object = get(); }) || !object) return nullptr;
    host_ = object;
    return this;
  }

 protected:
  template <class Call>
  void Forward(Call&& call) {
    gate_.Pass([&] { call(*host_); });
  }

 private:
  CGuardedCapabilitySink& gate_;
  HostObject* host_ = nullptr;
};
}  // namespace

class CGuardedCapabilitySink::ConnectionItem final : public Standin<ipcapture::CapabilityConnectionItem> {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(ConnectionItem);
  using Standin::Standin;
  void SetValue(const char* text) override {
    Forward([&](auto& item) { item.SetValue(text); });
  }
};

class CGuardedCapabilitySink::PropertyItem final : public Standin<ipcapture::CapabilityPropertyItem> {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(PropertyItem);
  using Standin::Standin;
  void SetValue(const char* text) override {
    Forward([&](auto& item) { item.SetValue(text); });
  }
  void Reserved2() override {}
  void Reserved3() override {}
  void SetValueIsText(int32_t isText) override {
    Forward([&](auto& item) { item.SetValueIsText(isText); });
  }
  void SetName(const char* name) override {
    Forward([&](auto& item) { item.SetName(name); });
  }
  void SetFlags(int32_t flags) override {
    Forward([&](auto& item) { item.SetFlags(flags); });
  }
};

class CGuardedCapabilitySink::ResolutionList final : public Standin<ipcapture::CapabilityResolutionList> {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(ResolutionList);
  using Standin::Standin;
  void Add(const char* text, uint32_t width, uint32_t height, uint32_t frameInterval) override {
    Forward([&](auto& list) { list.Add(text, width, height, frameInterval); });
  }
};

class CGuardedCapabilitySink::FrameRateList final : public Standin<ipcapture::CapabilityFrameRateList> {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(FrameRateList);
  using Standin::Standin;
  void SetDefault(uint32_t frameInterval) override {
    Forward([&](auto& list) { list.SetDefault(frameInterval); });
  }
  void Add(uint32_t frameInterval) override {
    Forward([&](auto& list) { list.Add(frameInterval); });
  }
};

CGuardedCapabilitySink::CGuardedCapabilitySink()
    : connection_(std::make_unique<ConnectionItem>(*this)),
      property_(std::make_unique<PropertyItem>(*this)),
      resolutions_(std::make_unique<ResolutionList>(*this)),
      frameRates_(std::make_unique<FrameRateList>(*this)) {}

CGuardedCapabilitySink::~CGuardedCapabilitySink() = default;

bool CGuardedCapabilitySink::Close(uint32_t ms) {
  TimedLockGuard guard(gate_, ms);
  closed_ = true;
  return guard.Owns();
}

void CGuardedCapabilitySink::SetCapability(uint32_t id, uint32_t value) {
  Pass([&] { host_->SetCapability(id, value); });
}

void CGuardedCapabilitySink::SetModelName(const char* text) {
  Pass([&] { host_->SetModelName(text); });
}

ipcapture::CapabilityConnectionItem* CGuardedCapabilitySink::GetConnectionItem(uint32_t index) {
  return connection_->HandOut([&] { return host_->GetConnectionItem(index); });
}

ipcapture::CapabilityPropertyItem* CGuardedCapabilitySink::GetPropertyItem(int32_t id) {
  return property_->HandOut([&] { return host_->GetPropertyItem(id); });
}

ipcapture::CapabilityResolutionList* CGuardedCapabilitySink::GetResolutionList() {
  return resolutions_->HandOut([&] { return host_->GetResolutionList(); });
}

ipcapture::CapabilityFrameRateList* CGuardedCapabilitySink::GetFrameRateList(int32_t kind) {
  return frameRates_->HandOut([&] { return host_->GetFrameRateList(kind); });
}

}  // namespace norvale
