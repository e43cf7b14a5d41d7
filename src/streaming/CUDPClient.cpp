#include "streaming/CUDPClient.h"

#include <algorithm>
#include <vector>

#include "platform/Guard.h"
#include "platform/Platform.h"
#include "runtime/StringUtils.h"

namespace norvale {

namespace {
constexpr uint32_t kMaxReceiveSize = 65535;
constexpr uint32_t kReceiveSizeStep = 1024;
constexpr int kDrainCount = 100;
constexpr size_t kDrainSize = 1500;
// The socket's receive buffer must hold a whole key frame that a camera sends in one burst (a few
// hundred kilobytes at high bit rates); 64 KB lost packets of every large frame. The system caps
// the request at its own limit.
constexpr int kSocketReceiveBuffer = 2 * 1024 * 1024;
}  // namespace

// The slots one read fills, straight from the system: every slot holds the largest datagram there
// is, so none is cut, and only the pages the datagrams reach are ever backed by memory. Kept out of
// the C heap, so that a client per reconnect leaves nothing behind in it.
struct CUDPClient::Batch {
  Batch() : storage(static_cast<uint8_t*>(platform::MapMemory(kBytes))) {}
  ~Batch() { platform::UnmapMemory(storage, kBytes); }
  Batch(const Batch&) = delete;
  Batch& operator=(const Batch&) = delete;
  static constexpr size_t kBytes = static_cast<size_t>(kBatchSize) * kMaxReceiveSize;
  uint8_t* const storage;
};

// One open socket and the thread that reads it. The thread holds a reference while it runs, so a
// thread that outlives Close (and the client) never reaches freed memory; the last owner closes the
// socket.
class CUDPClient::Reader : public CBaseThread {
 public:
  Reader(IDriver* driver, IRTPClient* client, IRTPClientUser* user, platform::SocketHandle socket,
         std::shared_ptr<Batch> batch)
      : CBaseThread(driver), client(client), user(user), socket(socket), batch(std::move(batch)) {}
  ~Reader() override {
    FinalStop(0);  // by now only its own thread can still run: this lets it go
    if (socket != platform::kInvalidSocket) platform::CloseSocket(socket);
    platform::DestroyWaker(waker);
  }

  bool Start(uint16_t port) {
    {
      RecursiveLockGuard guard(keepAliveLock);
      keepAlive = std::static_pointer_cast<Reader>(self.lock());
    }
    if (StartThread(FormatString("UDP client thread, port %u", static_cast<unsigned>(port)))) return true;
    Release();
    return false;
  }
  // Drops the reference a thread that ended (or never began) did not let go of.
  void Release() {
    RecursiveLockGuard guard(keepAliveLock);
    keepAlive.reset();
  }

  IRTPClient* const client;  // for the user only, never dereferenced here
  IRTPClientUser* const user;
  platform::SocketHandle socket;  // closed by Close once the thread ended, else by the last owner
  const std::shared_ptr<Batch> batch;
  platform::Waker* const waker = platform::CreateWaker();
  std::string group;
  uint16_t port = 0;
  std::atomic<uint32_t> receiveSize{8192};
  std::atomic<uint32_t> selectTimeout{2000};
  std::weak_ptr<Reader> self;

 protected:
  void ThreadBody() override {
    std::shared_ptr<Reader> last;
    {
      RecursiveLockGuard guard(keepAliveLock);
      last = std::move(keepAlive);
    }
    Read();
    // A termination asked for while the thread was out of reach (in the user) takes effect here and
    // not in the destructor that closes the socket, where it could not unwind.
    platform::TestCancel();
    // `last` may be the last reference: the reader is then freed here, by its own thread.
  }

 private:
  void Read();

  RecursiveLock keepAliveLock;
  std::shared_ptr<Reader> keepAlive;  // handed to the thread; guarded by keepAliveLock
};

CUDPClient::CUDPClient(IDriver* driver) : driver_(driver) {}

CUDPClient::~CUDPClient() {
  // Bounded: a thread that did not end is let go with what it uses.
  Close();
}

bool CUDPClient::OpenMulticast(IRTPClientUser* user, const char* group, uint16_t port) {
  if (!group || !*group) {
    Close();
    return false;
  }
  return OpenSocket(user, group, port);
}

bool CUDPClient::Open(IRTPClientUser* user, uint16_t port) { return OpenSocket(user, nullptr, port); }

bool CUDPClient::OpenSocket(IRTPClientUser* user, const char* group, uint16_t port) {
  bool opened = false;
  {
    RecursiveLockGuard guard(lock_);
    if (!batch_) batch_ = std::make_shared<Batch>();
    if (user && !reader_ && batch_->storage) {
      const platform::SocketHandle s = platform::CreateUdpSocket();
      bool ok = s != platform::kInvalidSocket;
      if (ok && group) ok = platform::SetReuseAddress(s);
      ok = ok && platform::SetReceiveBufferSize(s, kSocketReceiveBuffer) &&
           platform::SetReceiveTimeout(s, kSocketReceiveTimeout) && platform::SetSendTimeout(s, kSocketSendTimeout) &&
           platform::BindAny(s, port);
      if (ok && group) ok = platform::JoinMulticastGroup(s, group);
      if (ok) {
        auto reader = std::make_shared<Reader>(driver_, this, user, s, batch_);
        reader->self = reader;
        reader->port = platform::LocalPort(s);
        reader->group = group ? group : "";
        reader->receiveSize = receiveSize_.load();
        reader->selectTimeout = selectTimeout_.load();
        reader_ = reader;
        opened = reader->waker && reader->Start(reader->port);
      } else if (s != platform::kInvalidSocket) {
        platform::CloseSocket(s);
      }
    }
  }
  if (!opened) Close();
  return opened;
}

uint32_t CUDPClient::StopLimit() const {
  const uint32_t socketTimeout = std::max(kSocketSendTimeout, kSocketReceiveTimeout);
  const uint32_t selectWhole = selectTimeout_ / 1000 * 1000;
  return std::max<uint32_t>(5000, std::max(socketTimeout, selectWhole) + 1000);
}

bool CUDPClient::Close() {
  std::shared_ptr<Reader> reader;
  {
    RecursiveLockGuard guard(lock_);
    reader = std::move(reader_);
    if (!reader) return true;
    receiveSize_ = reader->receiveSize.load();
  }
  reader->StopEvent().Set();
  platform::Wake(reader->waker);
  if (!reader->group.empty()) platform::LeaveMulticastGroup(reader->socket, reader->group.c_str());
  platform::ShutdownSocket(reader->socket);
  if (!reader->StopThread(StopLimit())) {
    // Still inside the user: the thread keeps the socket and the batch and closes the socket when it
    // returns. The next open reads into a batch of its own.
    RecursiveLockGuard guard(lock_);
    if (batch_ == reader->batch) batch_.reset();
    return false;
  }
  reader->Release();
  std::vector<uint8_t> scratch(kDrainSize);
  for (int i = 0; i < kDrainCount && platform::ReceiveFromNow(reader->socket, scratch.data(), scratch.size()) > 0;
       ++i) {
  }
  platform::CloseSocket(reader->socket);
  reader->socket = platform::kInvalidSocket;
  try {
    reader->user->OnClientClosed(this);
  }
  ZEPHRIN_RETHROW_CANCELLATION catch (...) {}
  return true;
}

void CUDPClient::SetReceiveSize(uint32_t bytes) {
  RecursiveLockGuard guard(lock_);
  receiveSize_ = bytes;
  if (reader_) reader_->receiveSize = bytes;
}

void CUDPClient::SetSelectTimeout(uint32_t ms) {
  RecursiveLockGuard guard(lock_);
  selectTimeout_ = ms;
  if (reader_) reader_->selectTimeout = ms;
}

uint32_t CUDPClient::ReceiveSize() const {
  RecursiveLockGuard guard(lock_);
  return reader_ ? reader_->receiveSize.load() : receiveSize_.load();
}

uint16_t CUDPClient::LocalPort() {
  RecursiveLockGuard guard(lock_);
  return reader_ ? reader_->port : 0;
}

bool CUDPClient::SendTo(const platform::SocketAddress& to, const uint8_t* data, size_t size) {
  RecursiveLockGuard guard(lock_);
  if (!reader_ || !data) return false;
  return platform::SendTo(reader_->socket, data, size, to) == static_cast<int>(size);
}

void CUDPClient::Reader::Read() {
  const platform::SocketHandle s = socket;
  platform::Datagram slots[kBatchSize];
  // The thread sleeps in the read itself, for at most the select time-out: one system call per burst
  // of datagrams. Close wakes it (and shuts the socket down).
  uint32_t timeout = 0;
  while (!StopRequested()) {
    if (const uint32_t select = std::max<uint32_t>(selectTimeout, 1); select != timeout) {
      platform::SetReceiveTimeout(s, select);
      timeout = select;
    }
    for (int i = 0; i < kBatchSize; ++i) {
      slots[i].buffer = batch->storage + static_cast<size_t>(i) * kMaxReceiveSize;
      slots[i].capacity = kMaxReceiveSize;
    }
    bool woken = false;
    int n = 0;
    const platform::SocketWait wait = platform::ReceiveBatchWaiting(s, waker, slots, kBatchSize, &n, &woken);
    if (StopRequested()) break;
    if (woken) platform::ResetWaker(waker);  // a wake-up left over from before this run
    try {
      switch (wait) {
        case platform::SocketWait::Ready: {
          int kept = 0;
          uint32_t expected = receiveSize.load();
          for (int i = 0; i < n; ++i) {
            const uint32_t size = static_cast<uint32_t>(slots[i].size);
            while (expected < size && expected < kMaxReceiveSize)
              expected = std::min(expected + kReceiveSizeStep, kMaxReceiveSize);
            if (!slots[i].truncated && slots[i].size > 0) {
              if (kept != i) slots[kept] = slots[i];
              ++kept;
            }
          }
          if (n > 0) receiveSize = expected;
          if (kept > 0 && !StopRequested()) user->OnClientPackets(client, slots, kept);
          break;
        }
        case platform::SocketWait::Timeout:
          user->OnClientTimeout(client);
          break;
        case platform::SocketWait::Fatal:
          if (!StopRequested()) user->OnClientClosed(client);
          return;
        case platform::SocketWait::Invalid:
          return;
        case platform::SocketWait::Retry:
          break;
      }
    }
    ZEPHRIN_RETHROW_CANCELLATION catch (...) {
      // A user's failure does not end the reading.
    }
  }
}

}  // namespace norvale
