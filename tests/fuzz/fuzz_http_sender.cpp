// The camera's web server as it answers a CGI request: any status line, interim 100 answers,
// authentication challenges, chunked, delimited and cut bodies, in any pieces. The real sender reads
// it over a loopback connection; the outcome is always one of the request codes, a success always
// carries the body that was sent (never more, never other bytes) and stays within the size limit.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "camera/HUtils.h"
#include "camera/HttpSender.h"
#include "fuzz/LoopbackPlayer.h"

namespace {

// A reason phrase as HTTP allows it: visible characters and blanks.
std::string Reason(const std::string& text) {
  std::string reason;
  for (char c : text)
    if (c == ' ' || c == '\t' || static_cast<unsigned char>(c) > 0x20) reason += c;
  return reason;
}

using zephrin::fuzz::PlayedAnswer;

zephrin::fuzz::LoopbackPlayer& Player() {
  static auto* player = new zephrin::fuzz::LoopbackPlayer;  // lives as long as the process
  return *player;
}

struct Built {
  PlayedAnswer answer;
  bool framed = false;    // the bytes after the header block are `body` and nothing else
  bool complete = false;  // a whole 2xx answer whose body is exactly `body`
  std::string body;
};

// One answer made of fuzzed parts: interim answers, a status, headers, a framed body.
Built BuildAnswer(FuzzedDataProvider& provider) {
  Built built;
  std::string& out = built.answer.bytes;
  const int interim = provider.ConsumeIntegralInRange<int>(0, 3);
  for (int i = 0; i < interim; ++i) out += "HTTP/1.1 100 Continue\r\n\r\n";
  static const int kStatuses[] = {200, 200, 200, 204, 206, 301, 302, 401, 403, 404, 500, 100, 199, 299, 999};
  const int status = provider.ConsumeBool() ? kStatuses[provider.ConsumeIntegralInRange<size_t>(0, 14)]
                                            : provider.ConsumeIntegralInRange<int>(0, 1200);
  const bool http10 = provider.ConsumeBool();
  out += "HTTP/1." + std::string(http10 ? "0" : "1") + " " + std::to_string(status) + " " +
         Reason(provider.ConsumeRandomLengthString(16)) + "\r\n";
  const int headers = provider.ConsumeIntegralInRange<int>(0, 4);
  bool clean = true;
  for (int i = 0; i < headers; ++i) {
    static const char* const kHeaders[] = {"WWW-Authenticate: Digest realm=\"cam\", nonce=\"abc\", qop=\"auth\"",
                                           "WWW-Authenticate: Basic realm=\"cam\"",
                                           "Connection: close",
                                           "Connection: keep-alive",
                                           "Content-Type: text/plain",
                                           "X-Odd:"};
    if (provider.ConsumeBool()) {
      out += kHeaders[provider.ConsumeIntegralInRange<size_t>(0, 5)];
    } else {
      out += provider.ConsumeRandomLengthString(40);
      clean = false;
    }
    out += "\r\n";
  }
  const std::string body = provider.ConsumeRandomLengthString(3000);
  const int framing = provider.ConsumeIntegralInRange<int>(0, 4);
  switch (framing) {
    case 0:  // delimited
      out += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
      break;
    case 1: {  // chunked, in fuzzed chunk sizes
      out += "Transfer-Encoding: chunked\r\n\r\n";
      size_t at = 0;
      while (at < body.size()) {
        const size_t n = std::min(body.size() - at, provider.ConsumeIntegralInRange<size_t>(1, 700));
        char size[32];
        snprintf(size, sizeof size, "%zx\r\n", n);
        out += size + body.substr(at, n) + "\r\n";
        at += n;
      }
      out += "0\r\n\r\n";
      break;
    }
    case 2:  // announced longer than sent: cut off
      out += "Content-Length: " + std::to_string(body.size() + 1 + provider.ConsumeIntegral<uint16_t>()) + "\r\n\r\n" +
             body;
      break;
    case 3:  // ended by the close of the connection
      out += "\r\n" + body;
      break;
    default:  // whatever bytes follow
      out += provider.ConsumeRandomLengthString(200);
      clean = false;
      break;
  }
  built.framed = clean && framing != 4 && !(http10 && framing == 1);  // chunks are an HTTP/1.1 framing
  // 204 and 205 answers have no body whatever follows their header block.
  built.complete =
      built.framed && framing != 2 && status >= 200 && status < 300 && status != 204 && status != 205 && !body.empty();
  built.body = body;
  size_t pieces = provider.ConsumeIntegralInRange<size_t>(0, 6);
  while (pieces-- > 0) built.answer.pieces.push_back(provider.ConsumeIntegralInRange<size_t>(1, 64));
  built.answer.close = true;
  return built;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  const bool raw = provider.ConsumeBool();
  std::vector<Built> answers;
  if (raw) {
    // Any bytes at all, for the first exchange; a second answer for a retry after a challenge.
    Built first;
    first.answer.bytes = provider.ConsumeRandomLengthString(4096);
    first.answer.pieces = {1, 7, 64};
    answers.push_back(first);
    answers.push_back(BuildAnswer(provider));
  } else {
    answers.push_back(BuildAnswer(provider));
    answers.push_back(BuildAnswer(provider));
  }
  std::vector<PlayedAnswer> script;
  for (const Built& built : answers) script.push_back(built.answer);
  auto& player = Player();
  player.Load(script);

  norvale::DEVICE_INFO device;
  device.address = "127.0.0.1";
  device.port = player.Port();
  device.networkTimeout = 5000;  // never reached on a loopback; long enough for a loaded machine
  device.user = "admin";
  device.password = "secret";
  Web::CHttpSender sender(device);
  std::vector<uint8_t> body;
  const norvale::CResultDef result =
      norvale::HUtils::RequestGetRD(body, sender, "/cgi-bin/admin/param.cgi?action=list", true);
  const int32_t code = result.Code();
  if (code != 0 && (code < 8 || code > 12)) std::abort();
  if (code == 0 && body.empty()) std::abort();
  // An interim answer is never the outcome: its status is never the one reported.
  if (sender.GetStatusCode() / 100 == 1) std::abort();
  if (body.size() > Web::CBaseHttpSender::kMaxResponseSize + Web::CBaseHttpSender::kChunkSize) std::abort();

  // Which answer the sender ended with: the first, or the second after a retry.
  const size_t exchanges = player.Requests().size();
  // Never more requests than the login retries allow: the challenge answered once, and a Digest
  // answer repeated once with a renewed nonce (a camera that leaves bytes behind a 401 body on the
  // kept-alive connection can make its next answer look like a renewed challenge).
  if (exchanges > 1 + answers.size()) std::abort();
  if (exchanges >= 1 && exchanges <= answers.size() && (!raw || exchanges == 2)) {
    const Built& last = answers[exchanges - 1];
    const std::string got(body.begin(), body.end());
    // A success hands back the body that was sent or, at most, a leading part of it.
    if (code == 0 && last.framed && last.body.compare(0, got.size(), got) != 0) std::abort();
    if (last.complete && (code != 0 || got != last.body)) std::abort();
  }
  return 0;
}
