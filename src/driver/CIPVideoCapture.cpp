#include "driver/CIPVideoCapture.h"

#include <algorithm>
#include <utility>

#include "platform/Guard.h"

namespace norvale {

CIPVideoCapture::CIPVideoCapture(uint32_t cameraCount, IVideoChannelCreator* creator, CChannelReaper* reaper)
    : creator_(creator),
      ownReaper_(reaper ? nullptr : std::make_unique<CChannelReaper>(nullptr)),
      reaper_(reaper ? reaper : ownReaper_.get()) {
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
  reaper_->Retire(std::move(channels), CallLimit());
}

uint32_t CIPVideoCapture::CallLimit() const { return reaper_->StopLimit(); }

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

template <typename F>
bool CIPVideoCapture::WithCamera(uint32_t camera, int stream, F f) {
  try {
    if (camera >= rows_.size() || stream >= static_cast<int>(kStreams) || !creator_) return false;
    Row& row = *rows_[camera];
    if (InsideControl(row) || HandingFrame(row, stream)) return false;
    const Call call(*this, row);
    return call.Owns() && f(row, call);
  }
  ZEPHRIN_RETHROW_CANCELLATION catch (...) { return false; }
}

bool CIPVideoCapture::StartCapture(uint32_t camera, ipcapture::FrameSink* sink,
                                   ipcapture::StreamSettingsSource* source) {
  return WithCamera(camera, kWholeCamera, [&](Row& row, const Call& call) {
    StopRow(row, call);
    Recipe recipe;
    if (!ReadSettings(source, StreamRecording, &recipe.settings, &recipe.codec)) return false;
    recipe.sink = sink;
    recipe.hasHostValue = true;
    recipe.hostValue = source->GetHostValue();
    std::unique_ptr<ICameraChannel> channel(creator_->CreateChannel(camera, sink, recipe.codec));
    if (!channel) return false;
    bool started = StartIn(row, 0, std::move(channel), recipe, call);
    ipcapture::StreamRate* rate = source->GetRate();
    if (started && rate && rate->WantsCompanion()) {
      std::unique_ptr<ICameraChannel> made(creator_->CreateCompanionChannel(camera, sink));
      ICameraChannel* companion = nullptr;
      {
        // Stored before it starts, as the streams are (see StartIn).
        RecursiveLockGuard guard(lock_);
        companion = row.companion = made.release();
      }
      if (companion) started = companion->Start(&recipe.settings);
    }
    return started;
  });
}

bool CIPVideoCapture::StartStream(uint32_t camera, uint32_t stream, ipcapture::FrameSink* sink,
                                  ipcapture::StreamSettingsSource* source) {
  return WithCamera(camera, static_cast<int>(std::min(stream, kStreams)), [&](Row& row, const Call& call) {
    StopRowStream(row, stream, call);
    Recipe recipe;
    if (!ReadSettings(source, static_cast<int32_t>(stream), &recipe.settings, &recipe.codec)) return false;
    recipe.sink = sink;
    std::unique_ptr<ICameraChannel> channel(creator_->CreateChannel(camera, sink, recipe.codec));
    if (!channel) return false;
    return StartIn(row, stream, std::move(channel), recipe, call);
  });
}

bool CIPVideoCapture::StartIn(Row& row, uint32_t stream, std::unique_ptr<ICameraChannel> made, const Recipe& recipe,
                              const Call& call) {
  if (recipe.hasHostValue) made->SetHostValue(recipe.hostValue);
  // The new channel takes its place before it starts and before the one it replaces is waited for:
  // a caller that is a stream's own thread (in a log line) may be terminated in a wait when its stop
  // overruns, and the channel it made must then be the table's, to be freed by the next stop (or,
  // terminated while waiting for the table, freed as it unwinds).
  ICameraChannel* channel = made.get();
  ICameraChannel* replaced = nullptr;
  {
    RecursiveLockGuard guard(lock_);
    replaced = std::exchange(row.streams[stream], made.release());
    if (stream == 0) row.recipe = recipe;
  }
  reaper_->Retire({replaced}, call.Left());
  return channel->Start(&recipe.settings);
}

bool CIPVideoCapture::HandingFrame(const Row& row, int stream) {
  RecursiveLockGuard guard(lock_);
  if (stream != kWholeCamera) return ICameraChannel::IsHandingFrameOnThisThread(row.streams[stream]);
  if (ICameraChannel::IsHandingFrameOnThisThread(row.companion)) return true;
  for (const ICameraChannel* channel : row.streams)
    if (ICameraChannel::IsHandingFrameOnThisThread(channel)) return true;
  return false;
}

bool CIPVideoCapture::StopCapture(uint32_t camera) {
  return WithCamera(camera, kWholeCamera, [this](Row& row, const Call& call) { return StopRow(row, call); });
}

bool CIPVideoCapture::StopRow(Row& row, const Call& call) {
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
  reaper_->Retire(std::move(channels), call.Left());
  return any;
}

bool CIPVideoCapture::StopStream(uint32_t camera, uint32_t stream) {
  return WithCamera(camera, static_cast<int>(std::min(stream, kStreams)),
                    [&](Row& row, const Call& call) { return StopRowStream(row, stream, call); });
}

bool CIPVideoCapture::StopRowStream(Row& row, uint32_t stream, const Call& call) {
  ICameraChannel* channel = nullptr;
  {
    RecursiveLockGuard guard(lock_);
    channel = std::exchange(row.streams[stream], nullptr);
  }
  reaper_->Retire({channel}, call.Left());
  return channel != nullptr;
}

bool CIPVideoCapture::ChangeResolution(uint32_t camera, ipcapture::StreamResolution* resolution,
                                       int32_t frameInterval) {
  return WithCamera(camera, kWholeCamera, [&](Row& row, const Call& call) {
    Recipe recipe;
    ICameraChannel* channel = nullptr;
    {
      RecursiveLockGuard guard(lock_);
      channel = row.streams[0];
      recipe = row.recipe;
    }
    if (!channel) return false;
    // The stream is started afresh with the new request and the running quality: the running one
    // is replaced and stopped like any other (its thread may be held in the host), so the change
    // returns within the call's limit.
    recipe.settings.frameInterval = frameInterval;
    recipe.settings.width = resolution ? resolution->GetWidth() : 0;
    recipe.settings.height = resolution ? resolution->GetHeight() : 0;
    recipe.settings.streamKind = StreamRecording;
    std::unique_ptr<ICameraChannel> fresh(creator_->CreateChannel(camera, recipe.sink, recipe.codec));
    if (!fresh) return false;
    return StartIn(row, 0, std::move(fresh), recipe, call);
  });
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
