#include "discovery/CCapabilityQueryModule.h"

#include <atomic>
#include <utility>

#include "discovery/CGuardedCapabilitySink.h"
#include "platform/Guard.h"
#include "runtime/CBaseThread.h"
#include "runtime/StringUtils.h"

namespace norvale {

namespace {
constexpr const char* kInvalidAddress = "Failed to start capability fetching thread. Device address is invalid!";
constexpr const char* kInternalError = "Failed to start capability fetching thread. Internal error occurs";
constexpr const char* kNoProperties = "Failed to get camera properties";
constexpr const char* kNotSaved = "Failed to save capability query results";

// The host's numbered capabilities (SetCapability) this driver reports.
enum CapabilityId : uint32_t {
  kCapVideoSources = 0,
  kCapPtz = 1,
  kCapInputs = 2,
  kCapOutputs = 3,
  kCapAudioInputs = 4,
  kCapFlag0 = 5,  // first of the three capability flags
  kCapMpeg4 = 6,
  kCapJpeg = 7,
  kCapH264 = 8,
  kCapFlag1 = 11,
  kCapFlag2 = 12,
  kCapGenericValue = 13,
  kCapGenericKind1 = 14,  // the generic value is of kind 1
  kCapGenericKind2 = 15,  // the generic value is of kind 2
  kCapGenericClear = 17,  // reported as 0 with every generic value
  kCapExtraStreams = 27,  // encoder streams beyond the main one
};

// Property entries beyond the camera properties 1 to 9 (those are the host parameter keys).
enum PropertyId : int32_t {
  kPropAudioInput = 101,
  kPropAudioOutput = 102,
  kPropLiveCodecs = 120,
  kPropLiveResolutions = 121,
  kPropLiveFrameRates = 122,
  kPropRemoteCodecs = 124,
  kPropRemoteResolutions = 125,
  kPropRemoteFrameRates = 126,
};
}  // namespace

// What the query thread uses. The module and the running thread share it, so that a thread held in the
// host's sink or callback past the module's end frees it when it finally returns.
struct CCapabilityQueryModule::Query {
  ipcapture::CapabilityCallback* callback = nullptr;
  TSmartPtr<CBaseCameraProperties> properties;  // set by Start before the thread starts
  // Every call into the host passes its gate, which the module's end closes.
  CGuardedCapabilitySink sink;
  std::atomic<bool> abandoned{false};
  std::atomic<bool> outcomeClaimed{false};
  std::unique_ptr<QueryThread> thread;  // last, so that it goes first

  // The one outcome the host hears of a started query (succeeded, failed or abandoned) goes to
  // whoever claims it first: the query thread or the module's end that gives up on it.
  bool ClaimOutcome() { return !outcomeClaimed.exchange(true); }
};

// The query thread. A stop that runs out of time settles the outcome before the thread is cut off:
// the host hears of the query exactly once, abandoned, unless the thread has already taken its own
// outcome (it is then inside the host's callback or past it).
class CCapabilityQueryModule::QueryThread : public CBaseThread {
 public:
  explicit QueryThread(Query& query) : query_(query) {}
  bool abandon = false;         // set by the stopping thread
  std::shared_ptr<Query> keep;  // the thread's share of its query, handed over by Start

 protected:
  void ThreadBody() override {
    // The thread lets go of its share however it ends, returning or unwinding. The last owner may be
    // this thread: the query and this object go with it, after which nothing of them is touched.
    struct LetGo {
      std::shared_ptr<Query>& share;
      ~LetGo() { const std::shared_ptr<Query> last = std::move(share); }
    } letGo{keep};
    Run(*keep);
  }
  void OnStopOverdue(Overdue stage, uint32_t) override {
    // A thread killed where it could not unwind never let go of its share: the stopping thread, whose
    // module still holds the query, lets go of it instead.
    if (stage == Overdue::Killed) keep.reset();
    if (stage != Overdue::Terminating || !query_.ClaimOutcome()) return;
    abandon = true;
    query_.abandoned = true;
  }

 private:
  Query& query_;
};

CCapabilityQueryModule::CCapabilityQueryModule(ipcapture::CapabilityCallback* callback, bool ntsc)
    : ntsc_(ntsc), query_(std::make_shared<Query>()) {
  query_->callback = callback;
  query_->thread = std::make_unique<QueryThread>(*query_);
  device_.networkTimeout = 5000;
  device_.streamTimeout = 5000;
}

CCapabilityQueryModule::~CCapabilityQueryModule() { Shutdown(); }

int32_t CCapabilityQueryModule::Start(const char* address, uint16_t port, const char* user, const char* password,
                                      ipcapture::CapabilitySink* sink) {
  const std::shared_ptr<Query> query = query_;
  {
    RecursiveLockGuard guard(lock_);
    if (started_) return 0;  // one query per module
    if (!address || !user || !password) return 0;
    device_.address = address;
    device_.port = port;
    device_.user = user;
    device_.password = password;
    if (device_.networkTimeout == 0) return 0;
    try {
      query->properties = TSmartPtr<CBaseCameraProperties>(CreateProperties());
    }
    ZEPHRIN_RETHROW_CANCELLATION catch (...) { query->properties.Release(); }
    if (!query->properties) return 0;
    query->sink.SetHost(sink);
    query->thread->keep = query;
    started_ = true;
  }
  // Outside the module's lock, and nothing of the module is touched once the thread runs: the query
  // may end, and the host delete the module from inside its callback, before this call returns.
  if (query->thread->StartThread("Capability query")) return 1;
  RecursiveLockGuard guard(lock_);
  started_ = false;
  query->thread->keep.reset();
  query->properties.Release();
  return 0;
}

void CCapabilityQueryModule::Terminate() {
  TSmartPtr<CBaseCameraProperties> properties;
  {
    RecursiveLockGuard guard(lock_);
    properties = query_->properties;
  }
  if (properties) properties->Stop();
}

void CCapabilityQueryModule::Shutdown() {
  Terminate();
  // The host hears of an abandoned query after the module's lock is released: its callback may block
  // or call back into the module.
  bool tellAbandoned = false;
  {
    RecursiveLockGuard guard(lock_);
    if (shutDown_) return;  // a derived class's destructor has done it
    shutDown_ = true;
    Query& query = *query_;
    QueryThread& thread = *query.thread;
    if (thread.HasThread()) {
      // On the query thread itself the host ends the query from inside a call the query makes into
      // it; elsewhere a thread that neither ended nor could be terminated is held where termination
      // cannot reach it. Either way the thread makes no further call into the host, and a query that
      // has not told its outcome is abandoned.
      const bool ended = !thread.IsCurrentThread() && thread.StopThread(StopLimit(&device_));
      if (thread.abandon) {
        thread.abandon = false;
        tellAbandoned = true;
      }
      if (!ended) {
        query.sink.Close(0);
        query.abandoned = true;
        if (query.ClaimOutcome()) tellAbandoned = true;
      }
    }
  }
  if (tellAbandoned && query_->callback) query_->callback->QueryAbandoned();
}

bool CCapabilityQueryModule::IsValidAddress(const std::string& address) {
  static const std::string kForbidden = "@#$%^&*(){}[]/\\+=|:;,~'\"!?";
  return address.find_first_of(kForbidden) == std::string::npos;
}

void CCapabilityQueryModule::Run(Query& query) {
  ipcapture::CapabilityCallback* const callback = query.callback;
  const auto tell = [&](auto&& outcome) {
    // The host may destroy the module from inside its callback: the query outlives it.
    if (callback && query.ClaimOutcome()) query.sink.Pass(outcome);
  };
  CBaseCameraProperties& properties = *query.properties;
  if (!IsValidAddress(properties.device.address)) {
    tell([&] { callback->QueryFailed(0, kInvalidAddress); });
    return;
  }
  int32_t reason = 3;
  std::string text;
  bool succeeded = false;
  if (!query.sink.HasHost()) {
    text = kInternalError;
  } else if (properties.ReadProperties(reason)) {
    succeeded = !query.abandoned && WriteCapabilities(properties, &query.sink);
    if (!succeeded) {
      reason = 3;
      text = kNotSaved;
    }
  } else {
    text = kNoProperties;
    const std::string detail = properties.GetLastErrorText();
    if (reason == 1)
      text += detail.empty() ? std::string(", login failed (invalid credentials)") : ": " + detail;
    else if (reason == 2)
      text += ", device is offline or is located in unaccessible subnet";
    else if (!detail.empty())
      text += ": " + detail;
  }
  if (succeeded)
    tell([&] { callback->QuerySucceeded(); });
  else
    tell([&] { callback->QueryFailed(reason, text.c_str()); });
}

bool CCapabilityQueryModule::WriteCapabilities(CBaseCameraProperties& p, ipcapture::CapabilitySink* sink) {
  if (!sink) return false;
  const CStreamCapabilities& main = p.streams[0];

  // Model name.
  if (p.model.empty()) return false;
  const std::string modelName = p.brand.empty() ? p.model : p.brand + " " + p.model;
  sink->SetModelName(modelName.c_str());

  // Connection items 1 to 4.
  const std::string connection[4] = {p.device.address, FormatString("%hu", p.device.port), p.device.user,
                                     p.device.password};
  for (uint32_t i = 0; i < 4; ++i) {
    ipcapture::CapabilityConnectionItem* item = sink->GetConnectionItem(i + 1);
    if (!item) return false;
    item->SetValue(connection[i].c_str());
  }

  // Codecs of the main stream and the number of video sources.
  if (main.codecs.empty() || p.videoSources == 0) return false;
  if (main.Has(PropertyCodec::H264)) sink->SetCapability(kCapH264, 1);
  if (main.Has(PropertyCodec::Mpeg4)) sink->SetCapability(kCapMpeg4, 1);
  if (main.Has(PropertyCodec::Jpeg)) sink->SetCapability(kCapJpeg, 1);
  sink->SetCapability(kCapVideoSources, p.videoSources);

  // Resolutions of the main stream.
  if (main.resolutions.empty()) return false;
  ipcapture::CapabilityResolutionList* resolutions = sink->GetResolutionList();
  if (!resolutions) return false;
  const uint32_t highest = main.HighestRate();
  const uint32_t fallbackRate = highest != 0 ? highest : (p.videoStandard != 0 ? 30 : 25);
  for (const auto& entry : main.resolutions) {
    const std::string text =
        FormatString("%ux%u", static_cast<unsigned>(entry.width), static_cast<unsigned>(entry.height));
    resolutions->Add(text.c_str(), entry.width, entry.height,
                     PeriodFromRate(entry.maxRate != 0 ? entry.maxRate : fallbackRate));
  }

  // Frame rates of the main stream.
  if (!p.ReportFrameRates(sink->GetFrameRateList(1))) return false;

  // Numbered capabilities.
  if (p.ptzSupported) sink->SetCapability(kCapPtz, 1);
  if (p.capabilityFlags[0]) sink->SetCapability(kCapFlag0, 1);
  sink->SetCapability(kCapFlag1, p.capabilityFlags[1] ? 1 : 0);
  sink->SetCapability(kCapFlag2, p.capabilityFlags[2] ? 1 : 0);
  if (p.inputCount != 0) sink->SetCapability(kCapInputs, p.inputCount);
  if (p.outputCount != 0) sink->SetCapability(kCapOutputs, p.outputCount);
  if (p.genericCapabilityValue != 0) {
    if (p.genericCapabilityKind == 1) {
      sink->SetCapability(kCapGenericValue, p.genericCapabilityValue);
      sink->SetCapability(kCapGenericKind1, 1);
      sink->SetCapability(kCapGenericClear, 0);
    } else if (p.genericCapabilityKind == 2) {
      sink->SetCapability(kCapGenericValue, p.genericCapabilityValue);
      sink->SetCapability(kCapGenericKind2, 1);
      sink->SetCapability(kCapGenericClear, 0);
    }
  }

  // Live and remote streams.
  if (p.streamCount > 1 && p.hostCore61) {
    sink->SetCapability(kCapExtraStreams, p.streamCount - 1);
    const CStreamCapabilities& live = p.streams[1];
    using Entry = CBaseCameraProperties;
    if (!Entry::SetPropertyEntry(sink, kPropLiveCodecs, "Live Stream: Supported Codecs", live.CodecsText(), true) ||
        !Entry::SetPropertyEntry(sink, kPropLiveResolutions, "Live Stream: Supported Resolutions",
                                 live.ResolutionsText(), true) ||
        !Entry::SetPropertyEntry(sink, kPropLiveFrameRates, "Live Stream: Supported Framerates", live.FrameRatesText(),
                                 true))
      return false;
    if (p.streamCount == 3) {
      const CStreamCapabilities& remote = p.streams[2];
      if (!Entry::SetPropertyEntry(sink, kPropRemoteCodecs, "Remote Stream: Supported Codecs", remote.CodecsText(),
                                   true) ||
          !Entry::SetPropertyEntry(sink, kPropRemoteResolutions, "Remote Stream: Supported Resolutions",
                                   remote.ResolutionsText(), true) ||
          !Entry::SetPropertyEntry(sink, kPropRemoteFrameRates, "Remote Stream: Supported Framerates",
                                   remote.FrameRatesText(), true))
        return false;
    }
  }

  // Audio (the camera family reports none).
  if (p.audioInput.channels != 0) {
    sink->SetCapability(kCapAudioInputs, p.audioInput.channels);
    if (!CBaseCameraProperties::SetPropertyEntry(
            sink, kPropAudioInput, "Audio Input Parameters",
            FormatString("Count=%u; IsStereo=%u", p.audioInput.channels, p.audioInput.stereo ? 1u : 0u), true))
      return false;
  }
  if (p.audioOutput.channels != 0) {
    if (!CBaseCameraProperties::SetPropertyEntry(
            sink, kPropAudioOutput, "Audio Output Parameters",
            FormatString("Count=%u; IsStereo=%u", p.audioOutput.channels, p.audioOutput.stereo ? 1u : 0u), true))
      return false;
  }

  return p.ReportProperties(sink);
}

}  // namespace norvale
