#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/Platform.h"
#include "streaming/CRTPReceiver.h"
#include "streaming/CUDPClient.h"
#include "support/FakeDriver.h"
#include "support/HostLock.h"
#include "unit/streaming/RtpBytes.h"
#include "unit/streaming/UdpTestSocket.h"

using norvale::CRTPPacket;
using norvale::CRTPReceiver;
using norvale::CUDPClient;
using norvale::IRTPClient;
using norvale::platform::SocketAddress;
using zephrin::test::BuildRtp;
using zephrin::test::RtpSpec;
using zephrin::test::UdpTestSocket;
using zephrin::test::WaitUntil;

namespace {

class ClientRecorder : public norvale::IRTPClientUser {
 public:
  void OnClientPacket(IRTPClient*, const SocketAddress& from, const uint8_t* data, size_t size) override {
    std::unique_lock<std::mutex> lock(m);
    datagrams.emplace_back(data, data + size);
    senders.push_back(from);
    threads.push_back(norvale::platform::CurrentThreadId());
    lock.unlock();
    if (!host) return;
    ++inside;  // waits for a host mutex, where termination cannot reach it
    host->Pass();
    --inside;
  }
  void OnClientTimeout(IRTPClient*) override { ++timeouts; }
  void OnClientClosed(IRTPClient*) override { ++closed; }
  size_t Count() {
    std::lock_guard<std::mutex> lock(m);
    return datagrams.size();
  }
  std::mutex m;
  std::vector<std::vector<uint8_t>> datagrams;
  std::vector<SocketAddress> senders;
  std::vector<uint32_t> threads;
  std::atomic<int> timeouts{0};
  std::atomic<int> closed{0};
  zephrin::test::HostLock* host = nullptr;
  std::atomic<int> inside{0};
};

TEST(UDPClient, DeliversDatagramsWithTheSenderAddressOnItsOwnThread) {
  ClientRecorder user;
  CUDPClient client;
  ASSERT_TRUE(client.Open(&user, 0));
  const uint16_t port = client.LocalPort();
  ASSERT_NE(port, 0);
  UdpTestSocket sender;
  ASSERT_TRUE(sender.SendTo(port, {1, 2, 3}));
  ASSERT_TRUE(sender.SendTo(port, std::vector<uint8_t>(1400, 7)));
  ASSERT_TRUE(WaitUntil([&] { return user.Count() == 2; }));
  EXPECT_EQ(user.datagrams[0], (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(user.datagrams[1].size(), 1400u);
  EXPECT_EQ(user.senders[0].address, zephrin::test::LoopbackAddress());
  EXPECT_EQ(user.senders[0].HostPort(), sender.Port());
  EXPECT_NE(user.threads[0], norvale::platform::CurrentThreadId());

  // The client answers from its own port.
  const std::vector<uint8_t> reply{9, 9};
  ASSERT_TRUE(client.SendTo(user.senders[0], reply.data(), reply.size()));
  EXPECT_EQ(sender.Receive(2000), reply);

  EXPECT_TRUE(client.Close());
  EXPECT_EQ(user.closed, 1);
  EXPECT_EQ(client.LocalPort(), 0);
  EXPECT_FALSE(client.SendTo(user.senders[0], reply.data(), reply.size()));
}

TEST(UDPClient, DatagramLargerThanTheReceiveSizeArrivesWholeAndTheSizeGrows) {
  ClientRecorder user;
  CUDPClient client;
  ASSERT_TRUE(client.Open(&user, 0));
  client.SetReceiveSize(100);
  UdpTestSocket sender;
  ASSERT_TRUE(sender.SendTo(client.LocalPort(), std::vector<uint8_t>(150, 1)));
  ASSERT_TRUE(WaitUntil([&] { return user.Count() == 1; }));
  EXPECT_EQ(user.datagrams[0], std::vector<uint8_t>(150, 1));
  EXPECT_EQ(client.ReceiveSize(), 1124u);
  // A client opened again (as after every reconnect) with a small size loses nothing either.
  client.Close();
  ASSERT_TRUE(client.Open(&user, 0));
  client.SetReceiveSize(1536);
  ASSERT_TRUE(sender.SendTo(client.LocalPort(), std::vector<uint8_t>(9000, 2)));
  ASSERT_TRUE(WaitUntil([&] { return user.Count() == 2; }));
  EXPECT_EQ(user.datagrams[1], std::vector<uint8_t>(9000, 2));
  EXPECT_EQ(client.ReceiveSize(), 1536u + 8 * 1024u);
}

TEST(UDPClient, QuietPortReportsSelectTimeouts) {
  ClientRecorder user;
  CUDPClient client;
  client.SetSelectTimeout(150);
  ASSERT_TRUE(client.Open(&user, 0));
  EXPECT_TRUE(WaitUntil([&] { return user.timeouts >= 2; }));
  client.Close();
  const int seen = user.timeouts;
  norvale::platform::SleepMs(400);
  EXPECT_EQ(user.timeouts, seen);  // a closed client reports nothing more
}

// The receiving thread sleeps in the read itself: a stop has to reach it there, and what wakes it
// is never taken for a datagram.
TEST(UDPClient, WakeEndsASleepingReadAndIsNeverReceivedAsADatagram) {
  namespace platform = norvale::platform;
  const platform::SocketHandle s = platform::CreateUdpSocket();
  ASSERT_NE(s, platform::kInvalidSocket);
  ASSERT_TRUE(platform::BindAny(s, 0));
  ASSERT_TRUE(platform::SetReceiveTimeout(s, 5000));
  platform::Waker* waker = platform::CreateWaker();
  ASSERT_NE(waker, nullptr);
  std::vector<uint8_t> storage(4 * 2048);
  platform::Datagram slots[4];
  auto read = [&](int* received, bool* woken) {
    for (int i = 0; i < 4; ++i) {
      slots[i] = platform::Datagram();
      slots[i].buffer = storage.data() + i * 2048;
      slots[i].capacity = 2048;
    }
    return platform::ReceiveBatchWaiting(s, waker, slots, 4, received, woken);
  };

  int received = -1;
  bool woken = false;
  platform::SocketWait wait = platform::SocketWait::Invalid;
  std::thread reader([&] { wait = read(&received, &woken); });
  norvale::platform::SleepMs(100);  // lets the reader fall asleep; a wake before that ends it just the same
  platform::Wake(waker);
  reader.join();
  EXPECT_EQ(wait, platform::SocketWait::Ready);  // not the receive time-out
  EXPECT_TRUE(woken);
  EXPECT_EQ(received, 0);

  // Woken stays woken until reset; after that the next read gets the sender's datagrams only.
  EXPECT_EQ(read(&received, &woken), platform::SocketWait::Ready);
  EXPECT_TRUE(woken);
  platform::ResetWaker(waker);
  UdpTestSocket sender;
  ASSERT_TRUE(sender.SendTo(platform::LocalPort(s), {1, 2, 3}));
  ASSERT_TRUE(sender.SendTo(platform::LocalPort(s), {4}));
  int total = 0;
  std::vector<uint8_t> seen;
  while (total < 2) {
    ASSERT_EQ(read(&received, &woken), platform::SocketWait::Ready);
    EXPECT_FALSE(woken);
    for (int i = 0; i < received; ++i) {
      EXPECT_EQ(slots[i].from.HostPort(), sender.Port());
      seen.insert(seen.end(), slots[i].buffer, slots[i].buffer + slots[i].size);
    }
    total += received;
  }
  EXPECT_EQ(total, 2);
  EXPECT_EQ(seen, (std::vector<uint8_t>{1, 2, 3, 4}));
  platform::DestroyWaker(waker);
  platform::CloseSocket(s);
}

TEST(UDPClient, OpenFailsWithoutUserOrWhenAlreadyOpenOrPortTaken) {
  ClientRecorder user;
  CUDPClient client;
  EXPECT_FALSE(client.Open(nullptr, 0));
  ASSERT_TRUE(client.Open(&user, 0));
  const uint16_t port = client.LocalPort();

  ClientRecorder otherUser;
  CUDPClient other;
  EXPECT_FALSE(other.Open(&otherUser, port));  // port in use
  EXPECT_EQ(other.LocalPort(), 0);

  // A second open fails and leaves the client closed.
  EXPECT_FALSE(client.Open(&user, 0));
  EXPECT_EQ(client.LocalPort(), 0);
  EXPECT_EQ(user.closed, 1);
  // The port is free again and the client can be reopened.
  ASSERT_TRUE(other.Open(&otherUser, port));
  ASSERT_TRUE(client.Open(&user, 0));
}

TEST(UDPClient, ClosedPortCanBeOpenedAgain) {
  ClientRecorder user;
  CUDPClient client;
  ASSERT_TRUE(client.Open(&user, 0));
  const uint16_t port = client.LocalPort();
  client.Close();
  ASSERT_TRUE(client.Open(&user, port));
  UdpTestSocket sender;
  ASSERT_TRUE(sender.SendTo(port, {5}));
  ASSERT_TRUE(WaitUntil([&] { return user.Count() == 1; }));
}

#ifndef _WIN32
// As the receiver writing its "queue is full" line into a host log sink that blocks.
TEST(UDPClient, ClientWhoseThreadIsHeldInTheHostIsFreedWithoutWaitingAndItsPortComesBack) {
  zephrin::test::FakeDriver driver;
  zephrin::test::HostLock host;
  ClientRecorder user;
  user.host = &host;
  auto client = std::make_unique<CUDPClient>(&driver);
  ASSERT_TRUE(client->Open(&user, 0));
  const uint16_t port = client->LocalPort();
  host.lock();
  UdpTestSocket sender;
  ASSERT_TRUE(sender.SendTo(port, {1}));
  ASSERT_TRUE(WaitUntil([&] { return user.inside == 1; }));
  EXPECT_FALSE(client->Close());  // bounded, and reported
  // No second wait: a destructor waiting here could be terminated by its caller's stop limit.
  std::atomic<bool> freed{false};
  std::thread owner([&] {
    client.reset();
    freed = true;
  });
  const bool freedWhileHeld = WaitUntil([&] { return freed.load(); }, 3000);
  host.unlock();
  owner.join();
  EXPECT_TRUE(freedWhileHeld);
  // The thread comes back, calls nobody and closes the socket it kept.
  ASSERT_TRUE(WaitUntil([&] { return user.inside == 0; }));
  ClientRecorder next;
  CUDPClient again;
  EXPECT_TRUE(WaitUntil([&] { return again.Open(&next, port); }));
  EXPECT_EQ(user.closed, 0);
}
#endif

// ---- receiver ------------------------------------------------------------------------------------

class ReceiverRecorder : public norvale::IRTPReceiverUser {
 public:
  void OnRTPPacket(const SocketAddress& from, const CRTPPacket& packet) override {
    {
      std::unique_lock<std::mutex> lock(m);
      sequences.push_back(packet.sequenceNumber);
      senders.push_back(from);
      threads.push_back(norvale::platform::CurrentThreadId());
      cv.notify_all();
      cv.wait(lock, [this] { return !hold; });
    }
    if (throwAlways) throw std::runtime_error("user failure");
  }
  void OnRTPTimeout() override {}
  void OnRTPClosed() override { ++closed; }
  size_t Count() {
    std::lock_guard<std::mutex> lock(m);
    return sequences.size();
  }
  void Release() {
    std::lock_guard<std::mutex> lock(m);
    hold = false;
    cv.notify_all();
  }
  std::mutex m;
  std::condition_variable cv;
  bool hold = false;
  bool throwAlways = false;
  std::vector<uint16_t> sequences;
  std::vector<SocketAddress> senders;
  std::vector<uint32_t> threads;
  std::atomic<int> closed{0};
};

std::vector<uint8_t> Rtp(uint16_t sequence) {
  RtpSpec spec;
  spec.sequence = sequence;
  return BuildRtp(spec);
}

TEST(RTPReceiver, DeliversParsedPacketsInOrderAndDropsGarbage) {
  zephrin::test::FakeDriver driver;
  ReceiverRecorder user;
  user.throwAlways = true;  // a throwing user does not stop delivery
  CRTPReceiver receiver(&driver);
  receiver.SetUser(&user);
  ASSERT_TRUE(receiver.Start(0));
  const uint16_t port = receiver.LocalPort();
  ASSERT_NE(port, 0);
  UdpTestSocket sender;
  for (uint16_t seq = 100; seq < 110; ++seq) {
    ASSERT_TRUE(sender.SendTo(port, Rtp(seq)));
    if (seq == 104) {
      ASSERT_TRUE(sender.SendTo(port, std::vector<uint8_t>(12, 0x80)));  // too short
      ASSERT_TRUE(sender.SendTo(port, {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '!'}));
    }
  }
  ASSERT_TRUE(WaitUntil([&] { return user.Count() == 10; }));
  std::vector<uint16_t> expected;
  for (uint16_t seq = 100; seq < 110; ++seq) expected.push_back(seq);
  EXPECT_EQ(user.sequences, expected);
  EXPECT_EQ(user.senders[0].HostPort(), sender.Port());
  EXPECT_NE(user.threads[0], norvale::platform::CurrentThreadId());
  receiver.Stop();
  EXPECT_EQ(receiver.LocalPort(), 0);
  EXPECT_EQ(user.closed, 1);
}

TEST(RTPReceiver, PacketsReachTheUserInSequenceOrderOnceEach) {
  UdpTestSocket sender;
  zephrin::test::FakeDriver driver;
  ReceiverRecorder user;
  CRTPReceiver receiver(&driver);
  receiver.SetUser(&user);
  ASSERT_TRUE(receiver.Start(0));
  // 4 never comes: its gap is given up although nothing follows 5.
  for (uint16_t seq : {1, 3, 2, 2, 5}) ASSERT_TRUE(sender.SendTo(receiver.LocalPort(), Rtp(seq)));
  ASSERT_TRUE(WaitUntil([&] { return user.Count() == 4; }));
  EXPECT_EQ(user.sequences, (std::vector<uint16_t>{1, 2, 3, 5}));
  receiver.Stop();
  EXPECT_EQ(receiver.DuplicatePackets(), 1u);  // kept past the start it belonged to
}

TEST(RTPReceiver, StalledUserCostsTheOldestPacketsWithOneLogLinePerRun) {
  zephrin::test::FakeDriver driver;
  ReceiverRecorder user;
  user.hold = true;
  CRTPReceiver receiver(&driver);
  receiver.SetUser(&user);
  receiver.SetQueueLimit(10);
  ASSERT_TRUE(receiver.Start(0));
  UdpTestSocket sender;
  ASSERT_TRUE(sender.SendTo(receiver.LocalPort(), Rtp(1)));
  ASSERT_TRUE(WaitUntil([&] { return user.Count() == 1; }));  // the user now holds packet 1
  for (uint16_t seq = 2; seq <= 50; ++seq) {
    ASSERT_TRUE(sender.SendTo(receiver.LocalPort(), Rtp(seq)));
  }
  ASSERT_TRUE(WaitUntil([&] { return receiver.DroppedPackets() == 39; }));
  EXPECT_EQ(receiver.QueuedPackets(), 10u);
  user.Release();
  ASSERT_TRUE(WaitUntil([&] { return user.Count() == 11; }));
  std::vector<uint16_t> expected{1};
  for (uint16_t seq = 41; seq <= 50; ++seq) expected.push_back(seq);
  EXPECT_EQ(user.sequences, expected);
  EXPECT_EQ(driver.Count("RTP packet queue"), 1u);

  // A second stall starts a second run with its own line.
  {
    std::lock_guard<std::mutex> lock(user.m);
    user.hold = true;
  }
  for (uint16_t seq = 51; seq <= 70; ++seq) {
    ASSERT_TRUE(sender.SendTo(receiver.LocalPort(), Rtp(seq)));
    if (seq == 51) {
      ASSERT_TRUE(WaitUntil([&] { return user.Count() == 12; }));
    }
  }
  ASSERT_TRUE(WaitUntil([&] { return receiver.DroppedPackets() == 39 + 9; }));
  EXPECT_EQ(driver.Count("RTP packet queue"), 2u);
  user.Release();
  receiver.Stop();
}

TEST(RTPReceiver, StartFailsOnAPortInUseAndCanStartAgain) {
  zephrin::test::FakeDriver driver;
  ReceiverRecorder user;
  CRTPReceiver first(&driver), second(&driver);
  first.SetUser(&user);
  second.SetUser(&user);
  ASSERT_TRUE(first.Start(0));
  EXPECT_FALSE(second.Start(first.LocalPort()));
  EXPECT_EQ(second.LocalPort(), 0);
  const uint16_t port = first.LocalPort();
  first.Stop();
  ASSERT_TRUE(second.Start(port));
  UdpTestSocket sender;
  ASSERT_TRUE(sender.SendTo(port, Rtp(7)));
  ASSERT_TRUE(WaitUntil([&] { return user.Count() == 1; }));
}

// A user blocked on a lock of the host's own (not a point where a thread can be terminated), as a
// frame sink waiting for the host's mutex.
class HostLockedUser : public norvale::IRTPReceiverUser {
 public:
  void OnRTPPacket(const SocketAddress&, const CRTPPacket&) override {
    const int now = ++inside;
    int most = mostInside.load();
    while (now > most && !mostInside.compare_exchange_weak(most, now)) {
    }
    ++calls;
    hostLock.Pass();
    --inside;
  }
  void OnRTPTimeout() override {}
  void OnRTPClosed() override {}
  zephrin::test::HostLock hostLock;
  std::atomic<int> inside{0}, mostInside{0}, calls{0};
};

#ifdef _WIN32
TEST(RTPReceiver, DeliveryThreadBlockedInTheHostIsKilledAndTheReceiverRunsAgain) {
  // Windows ends a thread that termination cannot reach; the receiver is usable at once.
  zephrin::test::FakeDriver driver;
  HostLockedUser user;
  CRTPReceiver receiver(&driver);
  receiver.SetUser(&user);
  ASSERT_TRUE(receiver.Start(0));
  user.hostLock.lock();
  UdpTestSocket sender;
  ASSERT_TRUE(sender.SendTo(receiver.LocalPort(), Rtp(1)));
  ASSERT_TRUE(WaitUntil([&] { return user.inside == 1; }));
  EXPECT_TRUE(receiver.Stop());
  EXPECT_EQ(driver.Count("killed without cleaning up"), 1u);
  user.hostLock.unlock();
  ASSERT_TRUE(receiver.Start(0));
  for (uint16_t seq = 2; seq < 10; ++seq) ASSERT_TRUE(sender.SendTo(receiver.LocalPort(), Rtp(seq)));
  ASSERT_TRUE(WaitUntil([&] { return user.calls == 9; }));
  EXPECT_TRUE(receiver.Stop());
}
#else
// pthreads cannot end a thread blocked in a host's mutex: it outlives its termination.
TEST(RTPReceiver, DeliveryThreadThatCannotBeStoppedOutlivesTheReceiverSafely) {
  zephrin::test::FakeDriver driver;
  HostLockedUser user;
  auto receiver = std::make_unique<CRTPReceiver>(&driver);
  receiver->SetUser(&user);
  ASSERT_TRUE(receiver->Start(0));
  user.hostLock.lock();
  UdpTestSocket sender;
  ASSERT_TRUE(sender.SendTo(receiver->LocalPort(), Rtp(1)));
  ASSERT_TRUE(WaitUntil([&] { return user.inside == 1; }));
  EXPECT_FALSE(receiver->Stop());  // reported, not hidden
  EXPECT_EQ(driver.Count("could not be terminated"), 1u);
  receiver.reset();        // what the thread uses stays alive until it ends
  user.hostLock.unlock();  // the thread comes back and ends on its own
  ASSERT_TRUE(WaitUntil([&] { return user.inside == 0; }));
  norvale::platform::SleepMs(100);
  EXPECT_EQ(user.calls, 1);
}

TEST(RTPReceiver, RestartWaitsUntilTheOldDeliveryThreadHasEnded) {
  zephrin::test::FakeDriver driver;
  HostLockedUser user;
  CRTPReceiver receiver(&driver);
  receiver.SetUser(&user);
  ASSERT_TRUE(receiver.Start(0));
  user.hostLock.lock();
  UdpTestSocket sender;
  ASSERT_TRUE(sender.SendTo(receiver.LocalPort(), Rtp(1)));
  ASSERT_TRUE(WaitUntil([&] { return user.inside == 1; }));
  EXPECT_FALSE(receiver.Stop());
  EXPECT_FALSE(receiver.Start(0));  // a second thread would enter the user beside the first
  EXPECT_FALSE(receiver.Start(0));
  EXPECT_EQ(receiver.LocalPort(), 0);
  EXPECT_EQ(driver.Count("has not ended yet"), 1u);  // once, not on every port a channel tries
  user.hostLock.unlock();
  ASSERT_TRUE(WaitUntil([&] { return user.inside == 0; }));
  ASSERT_TRUE(WaitUntil([&] { return receiver.Start(0); }));
  for (uint16_t seq = 2; seq < 50; ++seq) ASSERT_TRUE(sender.SendTo(receiver.LocalPort(), Rtp(seq)));
  ASSERT_TRUE(WaitUntil([&] { return user.calls == 49; }));
  EXPECT_EQ(user.mostInside, 1);
  EXPECT_TRUE(receiver.Stop());

  // An owner about to free the user waits for such a thread to come out of it.
  ASSERT_TRUE(receiver.Start(0));
  user.hostLock.lock();
  ASSERT_TRUE(sender.SendTo(receiver.LocalPort(), Rtp(60)));
  ASSERT_TRUE(WaitUntil([&] { return user.inside == 1; }));
  EXPECT_FALSE(receiver.Stop());
  std::thread host([&] {
    norvale::platform::SleepMs(200);
    user.hostLock.unlock();
  });
  receiver.WaitForDeliveryEnd();
  EXPECT_EQ(user.inside, 0);
  host.join();
}

#endif

TEST(RTPReceiver, PacketsFromOtherSendersNeverEnterTheQueue) {
  zephrin::test::FakeDriver driver;
  ReceiverRecorder user;
  user.hold = true;
  CRTPReceiver receiver(&driver);
  receiver.SetUser(&user);
  receiver.AcceptOnlyFrom(norvale::platform::IPv4Address(127, 0, 0, 2));  // the device is 127.0.0.2
  receiver.SetQueueLimit(4);
  ASSERT_TRUE(receiver.Start(0));
  UdpTestSocket stranger;  // sends from 127.0.0.1
  for (uint16_t seq = 1; seq <= 20; ++seq) ASSERT_TRUE(stranger.SendTo(receiver.LocalPort(), Rtp(seq)));
  norvale::platform::SleepMs(200);
  EXPECT_EQ(receiver.QueuedPackets(), 0u);
  EXPECT_EQ(receiver.DroppedPackets(), 0u);
  EXPECT_EQ(user.Count(), 0u);
  // Counted, and the stranger named once.
  EXPECT_EQ(receiver.ForeignPackets(), 20u);
  EXPECT_EQ(driver.Count("come from 127.0.0.1"), 1u);
  // The address the camera names for its stream is taken beside the device's.
  receiver.AcceptAlsoFrom(zephrin::test::LoopbackAddress());
  ASSERT_TRUE(stranger.SendTo(receiver.LocalPort(), Rtp(21)));
  ASSERT_TRUE(WaitUntil([&] { return user.Count() == 1; }));
  EXPECT_EQ(user.sequences[0], 21);
  user.Release();
  receiver.Stop();
}

}  // namespace
