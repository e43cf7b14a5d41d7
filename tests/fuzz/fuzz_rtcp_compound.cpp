// RTCP compound packets: the walk only ever hands out whole packets inside the datagram, and the
// handler's packet slot takes any datagram (sender reports, BYE, garbage) without harm.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "streaming/CRTCPHandler.h"
#include "streaming/RTCPPacket.h"

namespace {

class Listener : public norvale::IRTCPByeListener {
 public:
  void OnRTCPBye() override { ++count; }
  int count = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size copy, so that any read past the end is caught.
  const std::vector<uint8_t> datagram(data, data + size);
  size_t covered = 0;
  norvale::rtcp::WalkCompound(datagram.data(), datagram.size(), [&](uint8_t, const uint8_t* packet, size_t n) {
    if (packet != datagram.data() + covered || n % 4 != 0 || n < 4) __builtin_trap();
    covered += n;
    if (covered > datagram.size()) __builtin_trap();
  });

  // The handler, never started, listens for the address 0; a BYE is passed on at most once per report.
  static norvale::CRTCPHandler handler;
  static Listener listener;
  handler.SetByeListener(&listener);
  const int before = listener.count;
  norvale::platform::SocketAddress from;
  handler.OnClientPacket(nullptr, from, datagram.data(), datagram.size());
  size_t byes = 0;
  norvale::rtcp::WalkCompound(datagram.data(), datagram.size(),
                              [&](uint8_t type, const uint8_t*, size_t) { byes += type == norvale::rtcp::kBye; });
  if (listener.count - before > static_cast<int>(byes)) __builtin_trap();
  return 0;
}
