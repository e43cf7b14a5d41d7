// The RTSP client's reading of a DESCRIBE reply on a real connection: interleaved frames still in
// flight ahead of the reply, '$' inside the reply's text, Content-Length values from exact to absurd,
// any split of the bytes into reads. The reply the client parses is exactly the one that was sent
// after the frames; an announced length beyond the response limit fails the request unparsed; the
// session thread always ends and the user hears of it once.
#include <fuzzer/FuzzedDataProvider.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "fuzz/LoopbackPlayer.h"
#include "streaming/CBaseRTSPClient.h"

namespace {

using zephrin::fuzz::PlayedAnswer;

zephrin::fuzz::LoopbackPlayer& Player() {
  static auto* player = new zephrin::fuzz::LoopbackPlayer;  // lives as long as the process
  return *player;
}

class User : public norvale::IRTSPClientUser {
 public:
  bool OnDescribe(const norvale::SDPDescription& description) override {
    ++described;
    // The parser as the reply left it: what follows the reply (TEARDOWN's answer) may change it.
    status = client->Parser().Status();
    base = client->Parser().ContentBase();
    session = client->Parser().SessionId();
    const norvale::SDPMedia* video = description.Media(norvale::SDPMediaSlot::Video);
    control = video ? video->control : std::string("<none>");
    return false;  // the reply is all this target looks at: tear down at once
  }
  void OnInterleavedPacket(const norvale::CRTPPacket&) override {}
  void OnClientStopped() override { ++stopped; }
  std::atomic<int> described{0};
  std::atomic<int> stopped{0};
  const norvale::CBaseRTSPClient* client = nullptr;
  uint32_t status = 0;
  std::string base, session, control;
};

std::string Token(FuzzedDataProvider& provider, size_t most) {
  std::string text = provider.ConsumeRandomLengthString(most);
  std::string token;
  for (char c : text)
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '$' || c == '=' || c == '_') token += c;
  return token.empty() ? std::string("$") : token;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  const bool raw = provider.ConsumeBool();
  PlayedAnswer answer;
  std::string& out = answer.bytes;
  // Interleaved frames ahead of the reply, whole, with payloads that may look like a reply.
  const int frames = provider.ConsumeIntegralInRange<int>(0, 4);
  for (int i = 0; i < frames; ++i) {
    const std::string payload = provider.ConsumeRandomLengthString(1500);
    out += '$';
    out += static_cast<char>(provider.ConsumeIntegralInRange<int>(0, 3));
    out += static_cast<char>(payload.size() >> 8);
    out += static_cast<char>(payload.size() & 0xFF);
    out += payload;
  }
  enum Length { Exact, Huge, Absent, NotDigits } length = Exact;
  std::string base, control, session;
  if (raw) {
    out += provider.ConsumeRandomLengthString(4096);
  } else {
    length = static_cast<Length>(provider.ConsumeIntegralInRange<int>(0, 3));
    base = "rtsp://127.0.0.1:554/" + Token(provider, 16) + "/";
    control = "track" + Token(provider, 8);
    session = Token(provider, 12);
    const std::string sdp = "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=$" + Token(provider, 10) +
                            "\r\nt=0 0\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=control:" + control +
                            "\r\n";
    out += "RTSP/1.0 200 OK\r\nCSeq: 1\r\nContent-Base: " + base + "\r\nSession: " + session +
           "\r\nContent-Type: application/sdp\r\n";
    switch (length) {
      case Exact:
        out += "Content-Length: " + std::to_string(sdp.size()) + "\r\n";
        break;
      case Huge:
        out += "Content-Length: " + std::to_string(provider.ConsumeIntegralInRange<uint64_t>(1u << 20, UINT64_MAX)) +
               "\r\n";
        break;
      case Absent:
        break;
      case NotDigits:
        out += "Content-Length: 1$2\r\n";
        break;
    }
    out += "\r\n" + sdp + provider.ConsumeRandomLengthString(64);
  }
  size_t pieces = provider.ConsumeIntegralInRange<size_t>(0, 8);
  while (pieces-- > 0) answer.pieces.push_back(provider.ConsumeIntegralInRange<size_t>(1, 600));
  answer.close = true;
  auto& player = Player();
  player.Load({answer});

  User user;
  norvale::RTSPConnectionSettings settings;
  settings.host = "127.0.0.1";
  settings.serverPort = player.Port();
  settings.connectTimeout = 5000;  // never reached on a loopback; long enough for a loaded machine
  settings.receiveTimeout = 5000;
  settings.path = "stream";
  norvale::CBaseRTSPClient client;
  user.client = &client;
  if (!client.Start(settings, &user, norvale::RTPoverUDP)) std::abort();
  while (user.stopped == 0) {
    // The reply ends with the connection; the thread then ends by itself.
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  client.Stop();
  if (user.stopped != 1 || user.described > 1) std::abort();
  if (raw) return 0;

  const norvale::CRTSPResponseParser& parser = client.Parser();
  switch (length) {
    case Exact:
      // The reply behind the frames, '$' and all.
      if (user.described != 1 || user.status != 200) std::abort();
      if (user.base != base || user.session != session || user.control != control) std::abort();
      break;
    case Huge:
      // Refused before any of it is parsed.
      if (user.described != 0 || parser.Status() != 0 || !parser.ContentBase().empty()) std::abort();
      break;
    case Absent:
    case NotDigits:
      // The header block is read to its end and parsed; the body it does not announce stays in the
      // connection and is what the next request reads (its status says so), never part of this reply.
      if (parser.ContentBase() != base || parser.SessionId() != session) std::abort();
      break;
  }
  return 0;
}
