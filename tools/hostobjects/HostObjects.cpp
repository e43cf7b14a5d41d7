#include "hostobjects/HostObjects.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace zephrin::hostobjects {

namespace {
template <typename Predicate>
bool WaitUntil(std::mutex& mutex, std::condition_variable& changed, uint32_t ms, Predicate done) {
  std::unique_lock<std::mutex> lock(mutex);
  return changed.wait_for(lock, std::chrono::milliseconds(ms), done);
}
}  // namespace

// ---- log sink ----------------------------------------------------------------------------------
void RecordingLogSink::Write(const CDebugInfoIf* record) {
  if (!record) return;
  const char* text = record->GetText();
  LogRecord copy{record->GetLevel(), text ? text : "", text == nullptr};
  std::lock_guard<std::mutex> lock(mutex_);
  if (echo_) std::fprintf(stderr, "[%u] %s\n", copy.level, copy.text.c_str());
  records_.push_back(std::move(copy));
  changed_.notify_all();
}

std::vector<LogRecord> RecordingLogSink::Records() {
  std::lock_guard<std::mutex> lock(mutex_);
  return records_;
}

size_t RecordingLogSink::Size() {
  std::lock_guard<std::mutex> lock(mutex_);
  return records_.size();
}

size_t RecordingLogSink::Count(const std::string& fragment) {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t n = 0;
  for (const auto& r : records_)
    if (r.text.find(fragment) != std::string::npos) ++n;
  return n;
}

int RecordingLogSink::LevelOf(const std::string& fragment) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& r : records_)
    if (r.text.find(fragment) != std::string::npos) return r.level;
  return -1;
}

void RecordingLogSink::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  records_.clear();
}

bool RecordingLogSink::WaitFor(const std::string& fragment, uint32_t ms) {
  return WaitUntil(mutex_, changed_, ms, [&] {
    for (const auto& r : records_)
      if (r.text.find(fragment) != std::string::npos) return true;
    return false;
  });
}

void RecordingLogSink::SetEcho(bool echo) {
  std::lock_guard<std::mutex> lock(mutex_);
  echo_ = echo;
}

// ---- frame buffers and allocator ----------------------------------------------------------------
TestFrameAllocator::~TestFrameAllocator() {
  for (auto* buffer : outstanding_) norvale::ipcapture::DeleteObject(static_cast<TestFrameBuffer*>(buffer));
}

norvale::ipcapture::FrameBuffer* TestFrameAllocator::Allocate(uint32_t fourCC, uint32_t capacity, const char* stream) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (refuse_) {
    ++refusals_;
    return nullptr;
  }
  auto* buffer = new TestFrameBuffer(fourCC, capacity, stream ? stream : "");
  outstanding_.insert(buffer);
  ++allocations_;
  if (log_.size() < kMaxLog) log_.push_back({fourCC, capacity, stream ? stream : ""});
  return buffer;
}

void TestFrameAllocator::Release(norvale::ipcapture::FrameBuffer* buffer) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = outstanding_.find(buffer);
  if (it == outstanding_.end()) {
    ++badReleases_;
    return;
  }
  outstanding_.erase(it);
  ++releases_;
  norvale::ipcapture::DeleteObject(static_cast<TestFrameBuffer*>(buffer));
}

void TestFrameAllocator::SetRefuse(bool refuse) {
  std::lock_guard<std::mutex> lock(mutex_);
  refuse_ = refuse;
}

size_t TestFrameAllocator::Allocations() {
  std::lock_guard<std::mutex> lock(mutex_);
  return allocations_;
}

size_t TestFrameAllocator::Releases() {
  std::lock_guard<std::mutex> lock(mutex_);
  return releases_;
}

size_t TestFrameAllocator::Outstanding() {
  std::lock_guard<std::mutex> lock(mutex_);
  return outstanding_.size();
}

bool TestFrameAllocator::Holds(const norvale::ipcapture::FrameBuffer* buffer) {
  std::lock_guard<std::mutex> lock(mutex_);
  return outstanding_.count(const_cast<norvale::ipcapture::FrameBuffer*>(buffer)) > 0;
}

size_t TestFrameAllocator::BadReleases() {
  std::lock_guard<std::mutex> lock(mutex_);
  return badReleases_;
}

size_t TestFrameAllocator::Refusals() {
  std::lock_guard<std::mutex> lock(mutex_);
  return refusals_;
}

bool TestFrameAllocator::Balanced() {
  std::lock_guard<std::mutex> lock(mutex_);
  return outstanding_.empty() && badReleases_ == 0;
}

std::vector<AllocationRecord> TestFrameAllocator::AllocationLog() {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

// ---- frame sink ---------------------------------------------------------------------------------
bool RecordingFrameSink::OnFrame(norvale::ipcapture::FrameBuffer* frame) {
  if (!frame) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++nullFrames_;
    changed_.notify_all();
    return false;
  }
  // A host reads its own buffers through its own means, never through the slots it hands the driver.
  FrameRecord record{};
  const uint8_t* data = nullptr;
  if (auto* memory = dynamic_cast<MemoryFrameBuffer*>(frame)) {
    record.code = memory->code;
    record.length = memory->data.empty() ? 0 : std::min(memory->length, memory->capacity);
    record.width = memory->width;
    record.height = memory->height;
    record.sizeClass = memory->sizeClass;
    record.time = memory->time;
    record.timeSet = memory->timeSet;
    if (auto* ours = dynamic_cast<TestFrameBuffer*>(frame)) record.stream = ours->Stream();
    data = memory->data.empty() ? nullptr : memory->data.data();
  }
  Mode mode;
  std::function<void(const FrameRecord&)> observer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    mode = mode_;
    observer = observer_;
    if ((keepData_ || observer) && data) record.data.assign(data, data + record.length);
  }
  if (observer) observer(record);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++frameCount_;
    if (!keepData_) record.data.clear();
    if (frames_.size() < kMaxRecords) frames_.push_back(std::move(record));
    changed_.notify_all();
  }
  if (mode == Mode::Throw) throw std::runtime_error("frame sink failure");
  return mode == Mode::Accept;
}

void RecordingFrameSink::OnSignalLost() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++signalLost_;
  changed_.notify_all();
}

void RecordingFrameSink::SetMode(Mode mode) {
  std::lock_guard<std::mutex> lock(mutex_);
  mode_ = mode;
}

void RecordingFrameSink::SetKeepData(bool keep) {
  std::lock_guard<std::mutex> lock(mutex_);
  keepData_ = keep;
}

void RecordingFrameSink::SetObserver(std::function<void(const FrameRecord&)> observer) {
  std::lock_guard<std::mutex> lock(mutex_);
  observer_ = std::move(observer);
}

std::vector<FrameRecord> RecordingFrameSink::Frames() {
  std::lock_guard<std::mutex> lock(mutex_);
  return frames_;
}

size_t RecordingFrameSink::FrameCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return frameCount_;
}

size_t RecordingFrameSink::NullFrames() {
  std::lock_guard<std::mutex> lock(mutex_);
  return nullFrames_;
}

size_t RecordingFrameSink::SignalLostCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return signalLost_;
}

bool RecordingFrameSink::WaitForFrames(size_t count, uint32_t ms) {
  return WaitUntil(mutex_, changed_, ms, [&] { return frameCount_ >= count; });
}

bool RecordingFrameSink::WaitForSignalLost(size_t count, uint32_t ms) {
  return WaitUntil(mutex_, changed_, ms, [&] { return signalLost_ >= count; });
}

// ---- device source --------------------------------------------------------------------------------
const char* TestDeviceSource::GetParameter(uint32_t number) {
  ++parameterRequests_;
  if (endlessParams) {
    static const char kEndless[] = "1";
    return kEndless;
  }
  if (number == 0 || number > params.size()) return nullptr;
  return params[number - 1].c_str();
}

void TestDeviceSource::SetParam(uint32_t number, const std::string& text) {
  if (number == 0) return;
  if (params.size() < number) params.resize(number, "(none)");
  params[number - 1] = text;
}

}  // namespace zephrin::hostobjects
