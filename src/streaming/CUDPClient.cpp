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

CUDPClient::CUDPClient(IDriver* driver) : CBaseThread(driver), waker_(platform::CreateWaker()) {}

CUDPClient::~CUDPClient() {
  Close();
  FinalStop(StopLimit());
  if (lingering_ != platform::kInvalidSocket) platform::CloseSocket(lingering_);
  platform::DestroyWaker(waker_);
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
    if (user && socket_ == platform::kInvalidSocket && waker_) {
      const platform::SocketHandle s = platform::CreateUdpSocket();
      bool ok = s != platform::kInvalidSocket;
      if (ok && group) ok = platform::SetReuseAddress(s);
      ok = ok && platform::SetReceiveBufferSize(s, kSocketReceiveBuffer) &&
           platform::SetReceiveTimeout(s, kSocketReceiveTimeout) && platform::SetSendTimeout(s, kSocketSendTimeout) &&
           platform::BindAny(s, port);
      if (ok && group) ok = platform::JoinMulticastGroup(s, group);
      if (ok) {
        socket_ = s;
        port_ = platform::LocalPort(s);
        user_ = user;
        group_ = group ? group : "";
        platform::ResetWaker(waker_);
        opened = StartThread(FormatString("UDP client thread, port %u", static_cast<unsigned>(port_)));
      } else {
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
  StopEvent().Set();
  platform::Wake(waker_);
  platform::SocketHandle s = platform::kInvalidSocket;
  IRTPClientUser* user = nullptr;
  {
    RecursiveLockGuard guard(lock_);
    if (socket_ != platform::kInvalidSocket) {
      if (!group_.empty()) platform::LeaveMulticastGroup(socket_, group_.c_str());
      platform::ShutdownSocket(socket_);
      s = socket_;
      user = user_;
      socket_ = platform::kInvalidSocket;
      port_ = 0;
      group_.clear();
    }
  }
  if (!StopThread(StopLimit())) {
    // The thread still runs and may still read the socket: it is closed only after the thread ends.
    if (s != platform::kInvalidSocket) lingering_ = s;
    return false;
  }
  if (s != platform::kInvalidSocket) {
    std::vector<uint8_t> scratch(kDrainSize);
    for (int i = 0; i < kDrainCount && platform::ReceiveFromNow(s, scratch.data(), scratch.size()) > 0; ++i) {
    }
    platform::CloseSocket(s);
    if (user) {
      try {
        user->OnClientClosed(this);
      }
      ZEPHRIN_RETHROW_CANCELLATION catch (...) {}
    }
  }
  return true;
}

void CUDPClient::SetReceiveSize(uint32_t bytes) { receiveSize_ = bytes; }

void CUDPClient::SetSelectTimeout(uint32_t ms) { selectTimeout_ = ms; }

uint16_t CUDPClient::LocalPort() {
  RecursiveLockGuard guard(lock_);
  return port_;
}

bool CUDPClient::SendTo(const platform::SocketAddress& to, const uint8_t* data, size_t size) {
  RecursiveLockGuard guard(lock_);
  if (socket_ == platform::kInvalidSocket || !data) return false;
  return platform::SendTo(socket_, data, size, to) == static_cast<int>(size);
}

void CUDPClient::ThreadBody() {
  platform::SocketHandle s;
  IRTPClientUser* user;
  {
    RecursiveLockGuard guard(lock_);
    s = socket_;
    user = user_;
  }
  if (s == platform::kInvalidSocket || !user) return;
  // Every slot holds the largest datagram there is, so none is cut, whatever receive size the
  // client started with (a new client after every reconnect starts small again); the receive size
  // follows the datagrams seen. The slots are left uninitialised, so only the pages the datagrams
  // reach are ever backed by memory.
  std::unique_ptr<uint8_t[]> storage(new uint8_t[static_cast<size_t>(kBatchSize) * kMaxReceiveSize]);
  platform::Datagram batch[kBatchSize];
  // The thread sleeps in the read itself, for at most the select time-out: one system call per burst
  // of datagrams. Close wakes it (and shuts the socket down).
  uint32_t timeout = 0;
  while (!StopRequested()) {
    if (const uint32_t select = std::max<uint32_t>(selectTimeout_, 1); select != timeout) {
      platform::SetReceiveTimeout(s, select);
      timeout = select;
    }
    for (int i = 0; i < kBatchSize; ++i) {
      batch[i].buffer = storage.get() + static_cast<size_t>(i) * kMaxReceiveSize;
      batch[i].capacity = kMaxReceiveSize;
    }
    bool woken = false;
    int n = 0;
    const platform::SocketWait wait = platform::ReceiveBatchWaiting(s, waker_, batch, kBatchSize, &n, &woken);
    if (StopRequested()) break;
    if (woken) platform::ResetWaker(waker_);  // a wake-up left over from before this run
    try {
      switch (wait) {
        case platform::SocketWait::Ready: {
          int kept = 0;
          uint32_t expected = receiveSize_.load();
          for (int i = 0; i < n; ++i) {
            const uint32_t size = static_cast<uint32_t>(batch[i].size);
            while (expected < size && expected < kMaxReceiveSize)
              expected = std::min(expected + kReceiveSizeStep, kMaxReceiveSize);
            if (!batch[i].truncated && batch[i].size > 0) {
              if (kept != i) batch[kept] = batch[i];
              ++kept;
            }
          }
          if (n > 0) receiveSize_ = expected;
          if (kept > 0 && !StopRequested()) user->OnClientPackets(this, batch, kept);
          break;
        }
        case platform::SocketWait::Timeout:
          user->OnClientTimeout(this);
          break;
        case platform::SocketWait::Fatal:
          user->OnClientClosed(this);
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
