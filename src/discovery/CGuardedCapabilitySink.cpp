#include "discovery/CGuardedCapabilitySink.h"

namespace norvale {

// The stand-ins: each forwards to the host's object it was last pointed at, through the gate.
class CGuardedCapabilitySink::ConnectionItem final : public ipcapture::CapabilityConnectionItem {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(ConnectionItem);
  explicit ConnectionItem(CGuardedCapabilitySink& gate) : gate_(gate) {}
  void SetValue(const char* text) override {
    gate_.Pass([&] { host->SetValue(text); });
  }
  ipcapture::CapabilityConnectionItem* host = nullptr;

 private:
  CGuardedCapabilitySink& gate_;
};

class CGuardedCapabilitySink::PropertyItem final : public ipcapture::CapabilityPropertyItem {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(PropertyItem);
  explicit PropertyItem(CGuardedCapabilitySink& gate) : gate_(gate) {}
  void SetValue(const char* text) override {
    gate_.Pass([&] { host->SetValue(text); });
  }
  void Reserved2() override {}
  void Reserved3() override {}
  void SetValueIsText(int32_t isText) override {
    gate_.Pass([&] { host->SetValueIsText(isText); });
  }
  void SetName(const char* name) override {
    gate_.Pass([&] { host->SetName(name); });
  }
  void SetFlags(int32_t flags) override {
    gate_.Pass([&] { host->SetFlags(flags); });
  }
  ipcapture::CapabilityPropertyItem* host = nullptr;

 private:
  CGuardedCapabilitySink& gate_;
};

class CGuardedCapabilitySink::ResolutionList final : public ipcapture::CapabilityResolutionList {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(ResolutionList);
  explicit ResolutionList(CGuardedCapabilitySink& gate) : gate_(gate) {}
  void Add(const char* text, uint32_t width, uint32_t height, uint32_t frameInterval) override {
    gate_.Pass([&] { host->Add(text, width, height, frameInterval); });
  }
  ipcapture::CapabilityResolutionList* host = nullptr;

 private:
  CGuardedCapabilitySink& gate_;
};

class CGuardedCapabilitySink::FrameRateList final : public ipcapture::CapabilityFrameRateList {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(FrameRateList);
  explicit FrameRateList(CGuardedCapabilitySink& gate) : gate_(gate) {}
  void SetDefault(uint32_t frameInterval) override {
    gate_.Pass([&] { host->SetDefault(frameInterval); });
  }
  void Add(uint32_t frameInterval) override {
    gate_.Pass([&] { host->Add(frameInterval); });
  }
  ipcapture::CapabilityFrameRateList* host = nullptr;

 private:
  CGuardedCapabilitySink& gate_;
};

namespace {
// Asks the host for one of its items or lists through the gate, and points the stand-in at it; null
// when the gate is closed or the host has none.
template <class Standin, class Get>
auto* Handout(CGuardedCapabilitySink& gate, Standin* standin, Get&& get) {
  decltype(standin->host) item = nullptr;
  if (!gate.Pass([&] { item = get(); }) || !item) return static_cast<decltype(item)>(nullptr);
  standin->host = item;
  return static_cast<decltype(item)>(standin);
}
}  // namespace

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
  return Handout(*this, connection_.get(), [&] { return host_->GetConnectionItem(index); });
}

ipcapture::CapabilityPropertyItem* CGuardedCapabilitySink::GetPropertyItem(int32_t id) {
  return Handout(*this, property_.get(), [&] { return host_->GetPropertyItem(id); });
}

ipcapture::CapabilityResolutionList* CGuardedCapabilitySink::GetResolutionList() {
  return Handout(*this, resolutions_.get(), [&] { return host_->GetResolutionList(); });
}

ipcapture::CapabilityFrameRateList* CGuardedCapabilitySink::GetFrameRateList(int32_t kind) {
  return Handout(*this, frameRates_.get(), [&] { return host_->GetFrameRateList(kind); });
}

}  // namespace norvale
