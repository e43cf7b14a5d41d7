#include "driver/CIPVideoCapture.h"

#include <utility>

#include "platform/Guard.h"

namespace norvale {

CIPVideoCapture::CIPVideoCapture(uint32_t cameraCount, IVideoChannelCreator* creator, CChannelReaper* reaper)
    : creator_(creator), reaper_(reaper) {
  rows_.reserve(cameraCount);
  for (uint32_t i = 0; i < cameraCount; ++i) rows_.push_back(std::make_unique<Row>());
}

CIPVideoCapture::~CIPVideoCapture() {
  // Every camera's streams in one batch: closing a video server waits one stop limit, not one for
  // each camera whose thread the host holds.
  std::vector<ICameraChannel*> channels;
  for (const auto& row : rows_) {
    RecursiveLockGuard control(row->control);
    RecursiveLockGuard guard(lock_);
    channels.push_back(std::exchange(row->companion, nullptr));
    for (ICameraChannel*& channel : row->streams) channels.push_back(std::exchange(channel, nullptr));
  }
  Retire(std::move(channels), CallLimit());
}

uint32_t CIPVideoCapture::CallLimit() const { return reaper_ ? reaper_->StopLimit() : platform::kInfinite; }

uint32_t CIPVideoCapture::LeftOf(uint32_t start) const {
  const uint32_t limit = CallLimit();
  if (limit == platform::kInfinite) return limit;
  const uint32_t spent = platform::TickCount() - start;
  return spent < limit ? limit - spent : 0;
}

uint32_t CIPVideoCapture::GetCameraCount() { return static_cast<uint32_t>(rows_.size()); }

bool CIPVideoCapture::ReadSettings(ipcapture::StreamSettingsSource* source, int32_t streamKind,
                                   ChannelSettings* settings, int32_t* codec) {
  if (!source) return false;
  ipcapture::StreamFormat* format = source->GetFormat();
  ipcapture::StreamRate* rate = source->GetRate();
  if (!format || !rate) return false;
  ipcapture::StreamResolution* resolution = format->GetResolution();
  settings->frameInterval = rate->GetFrameInterval();
  settings->quality = rate->GetQuality();
  settings->width = resolution ? resolution->GetWidth() : 0;
  settings->height = resolution ? resolution->GetHeight() : 0;
  settings->streamKind = streamKind;
  *codec = format->GetCodec();
  return true;
}

bool CIPVideoCapture::StartCapture(uint32_t camera, ipcapture::FrameSink* sink,
                                   ipcapture::StreamSettingsSource* source) {
  try {
    if (camera >= rows_.size() || !creator_) return false;
    Row& row = *rows_[camera];
    if (InsideControl(row) || HandingFrame(row)) return false;
    const uint32_t start = platform::TickCount();
    TimedLockGuard control(row.control, CallLimit());
    if (!control.Owns()) return false;
    StopRow(row, start);
    ChannelSettings settings;
    int32_t codec = 0;
    if (!ReadSettings(source, StreamRecording, &settings, &codec)) return false;
    ICameraChannel* channel = creator_->CreateChannel(camera, sink, codec);
    if (!channel) return false;
    channel->SetHostValue(source->GetHostValue());
    bool started = channel->Start(&settings);
    ICameraChannel* companion = nullptr;
    ipcapture::StreamRate* rate = source->GetRate();
    if (started && rate && rate->WantsCompanion()) {
      companion = creator_->CreateCompanionChannel(camera, sink);
      if (companion) started = companion->Start(&settings);
    }
    // Stored also when the start failed, so that the next stop frees it.
    RecursiveLockGuard guard(lock_);
    row.streams[0] = channel;
    row.companion = companion;
    return started;
  }
  ZEPHRIN_RETHROW_CANCELLATION catch (...) { return false; }
}

bool CIPVideoCapture::StartStream(uint32_t camera, uint32_t stream, ipcapture::FrameSink* sink,
                                  ipcapture::StreamSettingsSource* source) {
  try {
    if (camera >= rows_.size() || stream >= kStreams || !creator_) return false;
    Row& row = *rows_[camera];
    if (InsideControl(row)) return false;
    {
      RecursiveLockGuard guard(lock_);
      if (ICameraChannel::IsHandingFrameOnThisThread(row.streams[stream])) return false;
    }
    const uint32_t start = platform::TickCount();
    TimedLockGuard control(row.control, CallLimit());
    if (!control.Owns()) return false;
    StopRowStream(row, stream, start);
    ChannelSettings settings;
    int32_t codec = 0;
    if (!ReadSettings(source, static_cast<int32_t>(stream), &settings, &codec)) return false;
    ICameraChannel* channel = creator_->CreateChannel(camera, sink, codec);
    if (!channel) return false;
    const bool started = channel->Start(&settings);
    RecursiveLockGuard guard(lock_);
    row.streams[stream] = channel;
    return started;
  }
  ZEPHRIN_RETHROW_CANCELLATION catch (...) { return false; }
}

bool CIPVideoCapture::HandingFrame(const Row& row) {
  RecursiveLockGuard guard(lock_);
  if (ICameraChannel::IsHandingFrameOnThisThread(row.companion)) return true;
  for (const ICameraChannel* channel : row.streams)
    if (ICameraChannel::IsHandingFrameOnThisThread(channel)) return true;
  return false;
}

bool CIPVideoCapture::StopCapture(uint32_t camera) {
  if (camera >= rows_.size()) return false;
  Row& row = *rows_[camera];
  if (InsideControl(row) || HandingFrame(row)) return false;
  const uint32_t start = platform::TickCount();
  TimedLockGuard control(row.control, CallLimit());
  return control.Owns() && StopRow(row, start);
}

bool CIPVideoCapture::StopRow(Row& row, uint32_t start) {
  std::array<ICameraChannel*, kStreams> streams{};
  ICameraChannel* companion = nullptr;
  {
    RecursiveLockGuard guard(lock_);
    streams = std::exchange(row.streams, {});
    companion = std::exchange(row.companion, nullptr);
  }
  std::vector<ICameraChannel*> channels{companion};
  channels.insert(channels.end(), streams.begin(), streams.end());
  bool any = false;
  for (const ICameraChannel* channel : channels) any = any || channel != nullptr;
  // Stopped and deleted outside the table lock: a slow stop must not hold up other cameras' queries.
  Retire(std::move(channels), LeftOf(start));
  return any;
}

void CIPVideoCapture::Retire(std::vector<ICameraChannel*> channels, uint32_t waitMs) {
  if (reaper_) {
    reaper_->Retire(std::move(channels), waitMs);
    return;
  }
  for (ICameraChannel* channel : channels) {
    if (!channel) continue;
    channel->Stop();
    delete channel;
  }
}

bool CIPVideoCapture::StopStream(uint32_t camera, uint32_t stream) {
  if (camera >= rows_.size() || stream >= kStreams) return false;
  Row& row = *rows_[camera];
  if (InsideControl(row)) return false;
  {
    RecursiveLockGuard guard(lock_);
    if (ICameraChannel::IsHandingFrameOnThisThread(row.streams[stream])) return false;
  }
  const uint32_t start = platform::TickCount();
  TimedLockGuard control(row.control, CallLimit());
  return control.Owns() && StopRowStream(row, stream, start);
}

bool CIPVideoCapture::StopRowStream(Row& row, uint32_t stream, uint32_t start) {
  ICameraChannel* channel = nullptr;
  {
    RecursiveLockGuard guard(lock_);
    channel = std::exchange(row.streams[stream], nullptr);
  }
  Retire({channel}, LeftOf(start));
  return channel != nullptr;
}

bool CIPVideoCapture::ChangeResolution(uint32_t camera, ipcapture::StreamResolution* resolution,
                                       int32_t frameInterval) {
  if (camera >= rows_.size()) return false;
  Row& row = *rows_[camera];
  if (InsideControl(row) || HandingFrame(row)) return false;
  TimedLockGuard control(row.control, CallLimit());
  if (!control.Owns()) return false;
  ICameraChannel* channel = nullptr;
  {
    RecursiveLockGuard guard(lock_);
    channel = row.streams[0];
  }
  if (!channel) return false;
  ChannelSettings settings;
  settings.frameInterval = frameInterval;
  settings.width = resolution ? resolution->GetWidth() : 0;
  settings.height = resolution ? resolution->GetHeight() : 0;
  settings.streamKind = StreamRecording;
  // The control lock keeps the channel alive outside the table lock, so a slow restart does not
  // hold up other cameras' status queries.
  return channel->Restart(&settings);
}

template <typename F>
bool CIPVideoCapture::WithStream0(uint32_t camera, F f) {
  if (camera >= rows_.size()) return false;
  RecursiveLockGuard guard(lock_);
  ICameraChannel* channel = rows_[camera]->streams[0];
  if (!channel) return false;
  return f(channel);
}

bool CIPVideoCapture::GetCaptureStatus(uint32_t camera, int32_t* state, int32_t* value, uint8_t* flagByte, bool flag) {
  if (value) *value = 0;
  if (flag && flagByte) *flagByte = 0;
  return WithStream0(camera, [state](ICameraChannel* channel) {
    const int32_t current = channel->GetState();
    if (state) *state = current == ChannelStopped ? ChannelSignalLost : current;
    return true;
  });
}

bool CIPVideoCapture::ChannelQuery6(uint32_t camera) {
  return WithStream0(camera, [](ICameraChannel* channel) { return channel->Query6(); });
}

bool CIPVideoCapture::ChannelQuery5(uint32_t camera) {
  return WithStream0(camera, [](ICameraChannel* channel) { return channel->Query5(); });
}

}  // namespace norvale
