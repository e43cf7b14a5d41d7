// The socket seam on loopback: datagrams cut to the buffer, batch reads, the waker, refused and
// accepted connections.
#include <gtest/gtest.h>

#include <vector>

#include "platform/Platform.h"
#include "platform/Socket.h"

namespace norvale::platform {
namespace {

const uint32_t kLoopback = IPv4Address(127, 0, 0, 1);

struct Socket {
  explicit Socket(SocketHandle handle) : s(handle) {}
  ~Socket() { CloseSocket(s); }
  SocketHandle s;
};

struct UdpPair {
  Socket receiver{CreateUdpSocket()};
  Socket sender{CreateUdpSocket()};
  UdpPair() {
    EXPECT_TRUE(Bind(receiver.s, kLoopback, 0));
    EXPECT_TRUE(Bind(sender.s, kLoopback, 0));
  }
  void Send(size_t size, uint8_t fill) {
    const std::vector<uint8_t> data(size, fill);
    ASSERT_EQ(static_cast<int>(size),
              SendTo(sender.s, data.data(), data.size(), SocketAddress::IPv4(kLoopback, LocalPort(receiver.s))));
  }
};

TEST(PlatformSocket, DatagramLargerThanTheBufferIsCutAndSaysSo) {
  UdpPair udp;
  udp.Send(100, 0xAB);
  ASSERT_EQ(SocketWait::Ready, WaitReadable(udp.receiver.s, 5000));
  uint8_t buffer[10] = {};
  SocketAddress from;
  bool truncated = false;
  EXPECT_EQ(10, ReceiveFrom(udp.receiver.s, buffer, sizeof buffer, &from, &truncated));
  EXPECT_TRUE(truncated);
  EXPECT_EQ(0xAB, buffer[9]);
  EXPECT_EQ(kLoopback, from.address);
  EXPECT_EQ(LocalPort(udp.sender.s), from.HostPort());
  EXPECT_EQ(-1, ReceiveFromNow(udp.receiver.s, buffer, sizeof buffer)) << "the rest of the datagram is gone";

  udp.Send(4, 0xCD);
  ASSERT_EQ(SocketWait::Ready, WaitReadable(udp.receiver.s, 5000));
  EXPECT_EQ(4, ReceiveFrom(udp.receiver.s, buffer, sizeof buffer, nullptr, &truncated));
  EXPECT_FALSE(truncated);
}

TEST(PlatformSocket, BatchReadTakesWhatIsWaitingAndNeverBlocks) {
  UdpPair udp;
  uint8_t storage[3][30];
  Datagram batch[3];
  for (int i = 0; i < 3; ++i) {
    batch[i].buffer = storage[i];
    batch[i].capacity = sizeof storage[i];
  }
  EXPECT_EQ(0, ReceiveBatch(udp.receiver.s, batch, 3)) << "nothing waiting";
  udp.Send(5, 1);
  udp.Send(50, 2);
  udp.Send(20, 3);
  std::vector<Datagram> got;
  std::vector<uint8_t> firstBytes;
  const uint32_t start = TickCount();
  while (got.size() < 3 && TickCount() - start < 5000) {
    if (WaitReadable(udp.receiver.s, 100) != SocketWait::Ready) continue;
    const int n = ReceiveBatch(udp.receiver.s, batch, 3);
    ASSERT_GE(n, 0);
    for (int i = 0; i < n; ++i) {
      got.push_back(batch[i]);
      firstBytes.push_back(storage[i][0]);
    }
  }
  ASSERT_EQ(3u, got.size());
  EXPECT_EQ((std::vector<uint8_t>{1, 2, 3}), firstBytes) << "in the order sent";
  EXPECT_EQ(5u, got[0].size);
  EXPECT_FALSE(got[0].truncated);
  EXPECT_EQ(30u, got[1].size);
  EXPECT_TRUE(got[1].truncated);
  EXPECT_EQ(20u, got[2].size);
  EXPECT_EQ(LocalPort(udp.sender.s), got[2].from.HostPort());
  EXPECT_EQ(0, ReceiveBatch(udp.receiver.s, batch, 3));
}

TEST(PlatformSocket, WakerEndsAWaitAndStaysWokenUntilReset) {
  UdpPair udp;
  Waker* waker = CreateWaker();
  ASSERT_NE(nullptr, waker);
  bool woken = true;
  EXPECT_EQ(SocketWait::Timeout, WaitReadable(udp.receiver.s, waker, 10, &woken));
  EXPECT_FALSE(woken);
  Wake(waker);
  Wake(waker);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(SocketWait::Ready, WaitReadable(udp.receiver.s, waker, 5000, &woken));
    EXPECT_TRUE(woken);
  }
  ResetWaker(waker);
  EXPECT_EQ(SocketWait::Timeout, WaitReadable(udp.receiver.s, waker, 10, &woken));
  EXPECT_FALSE(woken) << "one reset clears every wake-up before it";
  udp.Send(1, 9);
  EXPECT_EQ(SocketWait::Ready, WaitReadable(udp.receiver.s, waker, 5000, &woken));
  EXPECT_FALSE(woken) << "data is not a wake-up";
  DestroyWaker(waker);
}

TEST(PlatformSocket, RefusedConnectionIsInvalid) {
  uint16_t port;
  {
    Socket closed(CreateTcpSocket());
    ASSERT_TRUE(Bind(closed.s, kLoopback, 0));
    port = LocalPort(closed.s);
  }
  Socket client(CreateTcpSocket());
  ASSERT_TRUE(SetBlocking(client.s, false));
  const ConnectStart start = StartConnect(client.s, kLoopback, port);
  ASSERT_NE(ConnectStart::Connected, start);
  if (start == ConnectStart::InProgress) {
    EXPECT_EQ(SocketWait::Invalid, WaitConnected(client.s, 10000));
  }
}

TEST(PlatformSocket, AcceptedConnectionCarriesDataBothWaysAndSeesTheClose) {
  Socket listener(CreateTcpSocket());
  ASSERT_TRUE(Bind(listener.s, kLoopback, 0));
  ASSERT_TRUE(Listen(listener.s, 1));
  Socket client(CreateTcpSocket());
  ASSERT_TRUE(SetBlocking(client.s, false));
  const ConnectStart start = StartConnect(client.s, kLoopback, LocalPort(listener.s));
  ASSERT_NE(ConnectStart::Failed, start);
  ASSERT_EQ(SocketWait::Ready, WaitReadable(listener.s, 5000));
  Socket server(Accept(listener.s));
  ASSERT_NE(kInvalidSocket, server.s);
  if (start == ConnectStart::InProgress) {
    ASSERT_EQ(SocketWait::Ready, WaitConnected(client.s, 5000));
  }
  ASSERT_TRUE(SetBlocking(client.s, true));
  EXPECT_EQ(kLoopback, PeerAddress(client.s));

  ASSERT_EQ(5, Send(client.s, "hello", 5));
  char buffer[16] = {};
  ASSERT_EQ(SocketWait::Ready, WaitReadable(server.s, 5000));
  ASSERT_EQ(5, Receive(server.s, buffer, sizeof buffer));
  EXPECT_EQ(std::string("hello"), std::string(buffer, 5));
  ASSERT_EQ(2, Send(server.s, "ok", 2));
  ASSERT_TRUE(SetReceiveTimeout(client.s, 5000));
  EXPECT_EQ(2, Receive(client.s, buffer, sizeof buffer)) << "a blocking read waits for the data";

  ShutdownSocket(server.s);
  EXPECT_EQ(0, Receive(client.s, buffer, sizeof buffer)) << "the peer's close reads as 0";
}

}  // namespace
}  // namespace norvale::platform
