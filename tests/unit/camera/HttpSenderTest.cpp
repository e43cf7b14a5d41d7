// The HTTP sender and the CGI request functions against a raw HTTP server on a loopback port.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <future>
#include <thread>

#include "camera/HUtils.h"
#include "camera/HttpSender.h"
#include "platform/Socket.h"
#include "platform/SocketLibrary.h"
#include "runtime/MD5.h"
#include "runtime/StringUtils.h"
#include "support/FakeDriver.h"
#include "unit/camera/LoopbackHttpServer.h"

using norvale::CResultDef;
using norvale::DEVICE_INFO;
using zephrin::test::FakeDriver;
using zephrin::test::HttpConnection;
using zephrin::test::HttpServerRequest;
using zephrin::test::LoopbackHttpServer;

namespace HUtils = norvale::HUtils;

namespace {

using Clock = std::chrono::steady_clock;

// On Windows the system's HTTP service (WinHTTP) reads the answer before the sender sees it, and as
// run here (under Wine) it fails a request behind an interim 100 answer the client did not ask for,
// keeps a status line only up to a NUL byte, and ends a chunked body that breaks off with its
// connection as if it were complete. Those few cases are checked where the sender reads the bytes.
#ifdef _WIN32
constexpr bool kServiceParsesAnswers = true;
#else
constexpr bool kServiceParsesAnswers = false;
#endif

DEVICE_INFO Device(uint16_t port, int timeoutMs = 3000, const std::string& user = "",
                   const std::string& password = "") {
  DEVICE_INFO device;
  device.address = "127.0.0.1";
  device.port = port;
  device.networkTimeout = timeoutMs;
  device.user = user;
  device.password = password;
  return device;
}

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Every answer is a 200 with this body.
LoopbackHttpServer::Handler Answer(int status, std::string body, std::string headers = "") {
  return [=](const HttpServerRequest&, HttpConnection& c) { return c.Reply(status, body, headers); };
}

std::string Pattern(size_t size) {
  std::string body(size, '\0');
  for (size_t i = 0; i < size; ++i) body[i] = static_cast<char>('a' + (i * 7 + i / 8192) % 26);
  return body;
}

// ---- what goes on the wire ----------------------------------------------------------------------

TEST(HttpSenderWire, RequestLineAndHeadersAreTheSendersOwn) {
  LoopbackHttpServer server(Answer(200, "root.Brand.Brand=ELMO\r\n"));
  Web::CHttpSender sender(Device(server.Port()));
  std::vector<uint8_t> body;
  const std::string path = "/cgi-bin/admin/param.cgi?action=list&group=Brand&group=Image.I0.Appearance";
  const CResultDef result = HUtils::RequestGetRD(body, sender, path, true);
  EXPECT_EQ(result.Code(), 0);
  EXPECT_EQ(result.Level(), 3);
  EXPECT_EQ(result.Message(), "");
  EXPECT_EQ(Text(body), "root.Brand.Brand=ELMO\r\n");
  ASSERT_EQ(server.Requests().size(), 1u);
  const HttpServerRequest request = server.Requests()[0];
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.target, path);
  EXPECT_EQ(request.version, "HTTP/1.1");
  EXPECT_EQ(request.Header("user-agent"), "Norvale::WinInetSender");
  EXPECT_EQ(request.Header("accept"), "*/*");
  EXPECT_EQ(request.Header("host"), "127.0.0.1:" + std::to_string(server.Port()));
  EXPECT_EQ(request.Header("authorization"), "");  // no credentials, no login
}

TEST(HttpSenderWire, PathGoesOutUnescapedAndUnaltered) {
  LoopbackHttpServer server(Answer(200, "ok"));
  Web::CHttpSender sender(Device(server.Port()));
  for (const std::string path : {"/cgi-bin/com/ptz.cgi?move=left&speed=%41", "/a/../b/./c?x=[1]|{2}~'\"", "/"}) {
    EXPECT_EQ(HUtils::RequestGetRD(sender, path).Code(), 0) << path;
    EXPECT_EQ(server.Requests().back().target, path);
  }
}

TEST(HttpSenderWire, PathsThatWouldBreakTheRequestLineAreRefused) {
  LoopbackHttpServer server(Answer(200, "ok"));
  Web::CHttpSender sender(Device(server.Port()));
  for (const std::string& path :
       std::vector<std::string>{"/a b", "/a\r\nX-Injected: 1", std::string("/a\0b", 4), "/\x7f"}) {
    const CResultDef result = HUtils::RequestGetRD(sender, path);
    EXPECT_EQ(result.Code(), 11);
  }
  EXPECT_TRUE(server.Requests().empty());
}

TEST(HttpSenderWire, RequestBodyGoesOutWithItsLength) {
  LoopbackHttpServer server(Answer(200, "stored"));
  Web::CHttpSender sender(Device(server.Port()));
  const std::string payload = "<PresetName>Gate 1</PresetName>";
  const Web::HttpRequest post{"POST", "/cgi-bin/admin/preset.cgi?set=1", {payload.begin(), payload.end()}};
  ASSERT_TRUE(sender.SendRequest(post));
  EXPECT_EQ(sender.GetStatusCode(), 200u);
  std::vector<uint8_t> body;
  EXPECT_EQ(sender.ReadResponse(body), 6u);
  sender.CloseRequest();
  EXPECT_EQ(HUtils::RequestGetRD(sender, "/x").Code(), 0);  // the next request carries no body
  const std::vector<HttpServerRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].target, post.path);
  EXPECT_EQ(requests[0].Header("content-length"), std::to_string(payload.size()));
  EXPECT_EQ(requests[0].body, payload);
  EXPECT_EQ(requests[1].method, "GET");
  EXPECT_EQ(requests[1].Header("content-length"), "");
  EXPECT_EQ(server.Connections(), 1);
}

TEST(HttpSenderWire, OneConnectionServesEveryRequest) {
  LoopbackHttpServer server(Answer(200, "state=1\r\n"));
  Web::CHttpSender sender(Device(server.Port()));
  std::vector<uint8_t> body;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(HUtils::RequestGetRD(body, sender, "/cgi-bin/io/input.cgi?check=1", true).Code(), 0);
    EXPECT_EQ(HUtils::RequestGetRD(sender, "/cgi-bin/io/output.cgi?action=1:/").Code(), 0);  // body left unread
    std::string text;
    EXPECT_TRUE(HUtils::RequestGetString(sender, text, "/cgi-bin/admin/param.cgi?action=list"));
  }
  EXPECT_EQ(server.Requests().size(), 9u);
  EXPECT_EQ(server.Connections(), 1);
}

TEST(HttpSenderWire, ClosedConnectionIsReopenedForTheNextRequest) {
  LoopbackHttpServer server([](const HttpServerRequest&, HttpConnection& c) {
    c.Reply(200, "x", "Connection: close\r\n");
    return false;
  });
  Web::CHttpSender sender(Device(server.Port()));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(HUtils::RequestGetRD(sender, "/x").Code(), 0);
  EXPECT_EQ(server.Connections(), 3);
}

// ---- status classification ----------------------------------------------------------------------

TEST(RequestGetRDStatus, SuccessfulStatuses) {
  for (int status : {200, 201, 202, 299}) {
    LoopbackHttpServer server(Answer(status, "body"));
    Web::CHttpSender sender(Device(server.Port()));
    std::vector<uint8_t> body;
    const CResultDef result = HUtils::RequestGetRD(body, sender, "/x", true);
    EXPECT_EQ(result.Code(), 0) << status;
    EXPECT_EQ(Text(body), "body");
    EXPECT_EQ(sender.GetStatusCode(), static_cast<uint32_t>(status));
  }
}

TEST(RequestGetRDStatus, NoContentSucceedsOnlyWhenNoBodyIsWanted) {
  LoopbackHttpServer server(
      [](const HttpServerRequest&, HttpConnection& c) { return c.Send("HTTP/1.1 204 No Content\r\n\r\n"); });
  Web::CHttpSender sender(Device(server.Port()));
  EXPECT_EQ(HUtils::RequestGetRD(sender, "/x").Code(), 0);
  std::vector<uint8_t> body;
  const CResultDef result = HUtils::RequestGetRD(body, sender, "/cgi-bin/io/input.cgi?check=1", true);
  EXPECT_EQ(result.Code(), 12);
  EXPECT_EQ(result.Level(), 2);
  EXPECT_EQ(result.Message(),
            "norvale::HUtils::RequestGetRD: Incorrect response for request "
            "\"/cgi-bin/io/input.cgi?check=1\" from device 127.0.0.1:" +
                std::to_string(server.Port()));
  std::string text = "stale";
  EXPECT_FALSE(HUtils::RequestGetString(sender, text, "/x"));
  EXPECT_EQ(text, "");
}

TEST(RequestGetRDStatus, EmptyOkAnswer) {
  LoopbackHttpServer server(Answer(200, ""));
  Web::CHttpSender sender(Device(server.Port()));
  EXPECT_EQ(HUtils::RequestGetRD(sender, "/x").Code(), 0);
  std::vector<uint8_t> body;
  EXPECT_EQ(HUtils::RequestGetRD(body, sender, "/x", true).Code(), 12);
  std::string text;
  EXPECT_FALSE(HUtils::RequestGetString(sender, text, "/x"));
}

TEST(RequestGetRDStatus, RedirectIsNotFollowed) {
  LoopbackHttpServer server(Answer(302, "moved", "Location: /elsewhere\r\n"));
  Web::CHttpSender sender(Device(server.Port()));
  std::vector<uint8_t> body;
  const CResultDef result = HUtils::RequestGetRD(body, sender, "/cgi-bin/admin/param.cgi?action=list", true);
  EXPECT_EQ(result.Code(), 8);
  EXPECT_EQ(result.Level(), 1);
  EXPECT_EQ(result.Message(), "norvale::HUtils::RequestGetRD: device 127.0.0.1:" + std::to_string(server.Port()) +
                                  " is unable to process \"/cgi-bin/admin/param.cgi?action=list\" request. HTTP "
                                  "status code is 302");
  EXPECT_TRUE(body.empty());
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST(RequestGetRDStatus, OtherErrorStatuses) {
  for (int status : {100, 300, 400, 403, 405, 500, 503, 600}) {
    if (status == 100 && kServiceParsesAnswers) continue;
    LoopbackHttpServer server([status](const HttpServerRequest&, HttpConnection& c) {
      if (status == 100) return c.Send("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 500 Oops\r\nContent-Length: 0\r\n\r\n");
      return c.Reply(status, "error");
    });
    Web::CHttpSender sender(Device(server.Port()));
    const CResultDef result = HUtils::RequestGetRD(sender, "/x");
    EXPECT_EQ(result.Code(), 8) << status;
    EXPECT_EQ(result.Level(), 1);
    const uint32_t seen = status == 100 ? 500u : static_cast<uint32_t>(status);
    EXPECT_NE(result.Message().find("HTTP status code is " + std::to_string(seen)), std::string::npos) << status;
    std::string text;
    EXPECT_FALSE(HUtils::RequestGetString(sender, text, "/x"));
  }
}

TEST(RequestGetRDStatus, NotFound) {
  LoopbackHttpServer server(Answer(404, "<html>Not Found</html>"));
  Web::CHttpSender sender(Device(server.Port()));
  std::vector<uint8_t> body;
  const CResultDef result = HUtils::RequestGetRD(body, sender, "/cgi-bin/com/ptzconfig.cgi?", true);
  EXPECT_EQ(result.Code(), 9);
  EXPECT_EQ(result.Level(), 1);
  EXPECT_EQ(result.Message(),
            "norvale::HUtils::RequestGetRD: The \"/cgi-bin/com/ptzconfig.cgi?\" URL was not found "
            "on device 127.0.0.1:" +
                std::to_string(server.Port()));
  std::string text;
  EXPECT_FALSE(HUtils::RequestGetString(sender, text, "/x"));
}

TEST(RequestGetRDStatus, UnauthorisedWithoutCredentials) {
  LoopbackHttpServer server(Answer(401, "denied", "WWW-Authenticate: Basic realm=\"cam\"\r\n"));
  Web::CHttpSender sender(Device(server.Port()));
  const CResultDef result = HUtils::RequestGetRD(sender, "/cgi-bin/io/output.cgi?action=1:/");
  EXPECT_EQ(result.Code(), 10);
  EXPECT_EQ(result.Level(), 1);
  EXPECT_EQ(result.Message(), "norvale::HUtils::RequestGetRD: device 127.0.0.1:" + std::to_string(server.Port()) +
                                  " is unable to process \"/cgi-bin/io/output.cgi?action=1:/\" request: credentials "
                                  "are invalid");
  EXPECT_EQ(sender.GetStatusCode(), 401u);
}

TEST(RequestGetRDStatus, ErrorsReachTheHostLogButUnsentRequestsDoNot) {
  FakeDriver driver;
  LoopbackHttpServer server(Answer(404, ""));
  Web::CHttpSender sender(Device(server.Port()));
  HUtils::RequestGetRD(sender, "/missing").Report(&driver);
  Web::CHttpSender nowhere(Device(zephrin::test::ClosedLoopbackPort()));
  HUtils::RequestGetRD(nowhere, "/x").Report(&driver);
  ASSERT_EQ(driver.Lines().size(), 1u);
  EXPECT_EQ(driver.Lines()[0].level, 1);
  EXPECT_TRUE(driver.Contains("\"/missing\" URL was not found"));
}

// ---- requests that get no answer ----------------------------------------------------------------

TEST(RequestGetRDNotSent, EmptyPath) {
  LoopbackHttpServer server(Answer(200, "ok"));
  Web::CHttpSender sender(Device(server.Port()));
  const CResultDef result = HUtils::RequestGetRD(sender, "");
  EXPECT_EQ(result.Code(), 11);
  EXPECT_EQ(result.Level(), 4);
  EXPECT_EQ(result.Message(), "norvale::HUtils::RequestGetRD: Cannot send request \"\" to device 127.0.0.1:" +
                                  std::to_string(server.Port()));
  EXPECT_FALSE(sender.SendRequest(Web::HttpRequest{"", "/x", {}}));
  EXPECT_TRUE(server.Requests().empty());
}

TEST(RequestGetRDNotSent, RefusedConnection) {
  Web::CHttpSender sender(Device(zephrin::test::ClosedLoopbackPort()));
  const CResultDef result = HUtils::RequestGetRD(sender, "/x");
  EXPECT_EQ(result.Code(), 11);
  EXPECT_EQ(result.Level(), 4);
  EXPECT_EQ(sender.GetStatusCode(), 0u);
  std::string text;
  EXPECT_FALSE(HUtils::RequestGetString(sender, text, "/x"));
}

TEST(RequestGetRDNotSent, UnknownHost) {
  DEVICE_INFO device = Device(80, 2000);
  device.address = "no-such-camera.invalid";
  Web::CHttpSender sender(device);
  EXPECT_EQ(HUtils::RequestGetRD(sender, "/x").Code(), 11);
}

TEST(RequestGetRDNotSent, UnreachableCameraGivesUpAfterTheConnectTimeout) {
  // A listener whose backlog is full drops further connection attempts without an answer.
  namespace platform = norvale::platform;
  ASSERT_TRUE(platform::StartSocketLibrary());
  const uint32_t loopback = platform::IPv4Address(127, 0, 0, 1);
  const platform::SocketHandle listener = platform::CreateTcpSocket();
  ASSERT_TRUE(platform::Bind(listener, loopback, 0));
  ASSERT_TRUE(platform::Listen(listener, 0));
  const uint16_t port = platform::LocalPort(listener);
  const platform::SocketHandle filler = platform::CreateTcpSocket();
  const platform::ConnectStart start = platform::StartConnect(filler, loopback, port);
  ASSERT_TRUE(start == platform::ConnectStart::Connected ||
              (start == platform::ConnectStart::InProgress &&
               platform::WaitConnected(filler, 2000) == platform::SocketWait::Ready));

  Web::CHttpSender sender(Device(port, 700));
  const auto begin = Clock::now();
  const CResultDef result = HUtils::RequestGetRD(sender, "/x");
  const double elapsed = SecondsSince(begin);
  EXPECT_EQ(result.Code(), 11);
  EXPECT_EQ(result.Level(), 4);
  EXPECT_GE(elapsed, 0.5);  // it did wait for the connection
  EXPECT_LT(elapsed, 5.0);  // and gave up
  platform::CloseSocket(filler);
  platform::CloseSocket(listener);
  platform::StopSocketLibrary();
}

TEST(RequestGetRDNotSent, SilentCameraGivesUpAfterTheReceiveTimeout) {
  LoopbackHttpServer server([](const HttpServerRequest&, HttpConnection& c) {
    c.WaitForStop(20000);
    return false;
  });
  Web::CHttpSender sender(Device(server.Port(), 700));
  const auto start = Clock::now();
  const CResultDef result = HUtils::RequestGetRD(sender, "/x");
  const double elapsed = SecondsSince(start);
  EXPECT_EQ(result.Code(), 11);
  EXPECT_GE(elapsed, 0.5);
  EXPECT_LT(elapsed, 5.0);
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST(RequestGetRDNotSent, UnsetTimeoutMeansTheDefaultNotNoWait) {
  LoopbackHttpServer server([](const HttpServerRequest&, HttpConnection& c) {
    c.WaitForStop(300);
    return c.Reply(200, "late");
  });
  for (int timeout : {0, -1}) {
    Web::CHttpSender sender(Device(server.Port(), timeout));
    std::string text;
    EXPECT_TRUE(HUtils::RequestGetString(sender, text, "/x")) << timeout;
    EXPECT_EQ(text, "late");
  }
}

TEST(RequestGetRDNotSent, ConnectionClosedOrGarbageInsteadOfAnAnswer) {
  LoopbackHttpServer closing([](const HttpServerRequest&, HttpConnection&) { return false; });
  Web::CHttpSender a(Device(closing.Port()));
  EXPECT_EQ(HUtils::RequestGetRD(a, "/x").Code(), 11);

  LoopbackHttpServer garbage([](const HttpServerRequest&, HttpConnection& c) {
    c.Send("SSH-2.0-OpenSSH_9.2\r\n\r\n");
    return false;
  });
  Web::CHttpSender b(Device(garbage.Port()));
  EXPECT_EQ(HUtils::RequestGetRD(b, "/x").Code(), 11);
}

TEST(RequestGetRDNotSent, AnswerWithoutAReadableFinalStatusIsNotSentEvenBehindAnInterimOne) {
  // The camera's final status line holds a NUL byte: behind an interim 100 answer the request fails
  // as it does without one. An answer that ends on an interim status (101 with data behind it) has
  // no final status either.
  const std::string unreadable = std::string("HTTP/1.0 200 \0x\r\nContent-Length: 2\r\n\r\nOK", 40);
  const std::string answers[] = {unreadable, "HTTP/1.1 100 Continue\r\n\r\n" + unreadable,
                                 "HTTP/1.1 101 Switching Protocols\r\n\r\nOK"};
  for (const std::string& answer : answers) {
    if (kServiceParsesAnswers && answer.find('\0') != std::string::npos) continue;
    LoopbackHttpServer server([&](const HttpServerRequest&, HttpConnection& c) {
      // In the small writes it came in, so that the client meets each piece on its own.
      size_t at = 0;
      for (size_t piece : {1, 7, 64}) {
        c.Send(answer.substr(at, piece));
        at += std::min(piece, answer.size() - at);
      }
      c.Send(answer.substr(at));
      return false;
    });
    Web::CHttpSender sender(Device(server.Port()));
    std::vector<uint8_t> body;
    const CResultDef result = HUtils::RequestGetRD(body, sender, "/x", true);
    EXPECT_EQ(result.Code(), 11) << answer.substr(0, 12) << ": " << result.Message();
    EXPECT_EQ(sender.GetStatusCode(), 0u) << answer.substr(0, 12);
    std::string text;
    EXPECT_FALSE(HUtils::RequestGetString(sender, text, "/x")) << answer.substr(0, 12);
  }
}

// ---- reading the body ---------------------------------------------------------------------------

TEST(HttpSenderBody, ChunkedReadingGivesTheWholeBodyInPieces) {
  const std::string payload = Pattern(20000);
  LoopbackHttpServer server(Answer(200, payload));
  Web::CHttpSender sender(Device(server.Port()));
  ASSERT_TRUE(sender.SendRequest(Web::HttpRequest{"GET", "/big", {}}));
  EXPECT_EQ(sender.GetStatusCode(), 200u);
  std::vector<uint8_t> body = {'o', 'l', 'd'};
  EXPECT_EQ(sender.ReadChunk(body, 0, false), 0u);
  EXPECT_EQ(sender.ReadChunk(body, 10, true), 10u);
  EXPECT_EQ(Text(body), payload.substr(0, 10));
  EXPECT_EQ(sender.ReadChunk(body, 90, false), 90u);
  std::string collected = Text(body);
  for (uint32_t n = sender.GetAvailableSize(); n != 0; n = sender.GetAvailableSize()) {
    std::vector<uint8_t> piece;
    ASSERT_EQ(sender.ReadChunk(piece, n, true), n);
    collected += Text(piece);
  }
  EXPECT_EQ(collected, payload);
  std::vector<uint8_t> more;
  EXPECT_EQ(sender.ReadChunk(more, 100, false), 0u);  // the body has ended
  sender.CloseRequest();
  EXPECT_EQ(sender.GetAvailableSize(), 0u);
  EXPECT_EQ(sender.ReadChunk(more, 100, false), 0u);
}

TEST(HttpSenderBody, ReadChunkWaitsForASlowCamerasData) {
  LoopbackHttpServer server([](const HttpServerRequest&, HttpConnection& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n01234");
    c.WaitForStop(200);
    c.Send("56789");
    return true;
  });
  Web::CHttpSender sender(Device(server.Port()));
  ASSERT_TRUE(sender.SendRequest(Web::HttpRequest{"GET", "/x", {}}));
  std::vector<uint8_t> body;
  EXPECT_EQ(sender.ReadChunk(body, 100, true), 10u);
  EXPECT_EQ(Text(body), "0123456789");
}

TEST(HttpSenderBody, ChunkedTransferEncodingIsDecoded) {
  LoopbackHttpServer server([](const HttpServerRequest&, HttpConnection& c) {
    return c.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nroot.\r\nB\r\nBrand=ELMO\n\r\n0\r\n\r\n");
  });
  Web::CHttpSender sender(Device(server.Port()));
  std::string text;
  EXPECT_TRUE(HUtils::RequestGetString(sender, text, "/x"));
  EXPECT_EQ(text, "root.Brand=ELMO\n");
}

TEST(HttpSenderBody, HugeBodyStopsAtTheBound) {
  const std::string payload = Pattern(3 * 1024 * 1024);
  LoopbackHttpServer server(Answer(200, payload));
  Web::CHttpSender sender(Device(server.Port()));
  ASSERT_TRUE(sender.SendRequest(Web::HttpRequest{"GET", "/huge", {}}));
  std::vector<uint8_t> body;
  const uint32_t total = sender.ReadResponse(body);
  EXPECT_GE(total, Web::CBaseHttpSender::kMaxResponseSize);
  EXPECT_LT(total, Web::CBaseHttpSender::kMaxResponseSize + Web::CBaseHttpSender::kChunkSize);
  ASSERT_EQ(body.size(), total);
  EXPECT_EQ(Text(body), payload.substr(0, total));
  sender.CloseRequest();

  // The same through the request function; the sender remains usable afterwards.
  std::vector<uint8_t> viaRequest;
  EXPECT_EQ(HUtils::RequestGetRD(viaRequest, sender, "/huge", true).Code(), 0);
  EXPECT_GE(viaRequest.size(), Web::CBaseHttpSender::kMaxResponseSize);
  EXPECT_LT(viaRequest.size(), Web::CBaseHttpSender::kMaxResponseSize + Web::CBaseHttpSender::kChunkSize);
  EXPECT_EQ(Text(viaRequest), payload.substr(0, viaRequest.size()));
  EXPECT_EQ(HUtils::RequestGetRD(sender, "/huge").Code(), 0);
}

TEST(HttpSenderBody, HugeChunkedBodyWithoutLengthStopsAtTheBound) {
  LoopbackHttpServer server([](const HttpServerRequest&, HttpConnection& c) {
    if (!c.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")) return false;
    const std::string piece = Pattern(4000);
    for (int i = 0; i < 1000 && !c.WaitForStop(0); ++i)  // about 4 MB, more than anyone should read
      if (!c.Send("FA0\r\n" + piece + "\r\n")) return false;
    c.Send("0\r\n\r\n");
    return true;
  });
  Web::CHttpSender sender(Device(server.Port()));
  std::vector<uint8_t> body;
  EXPECT_EQ(HUtils::RequestGetRD(body, sender, "/stream", true).Code(), 0);
  EXPECT_GE(body.size(), Web::CBaseHttpSender::kMaxResponseSize);
  EXPECT_LT(body.size(), Web::CBaseHttpSender::kMaxResponseSize + Web::CBaseHttpSender::kChunkSize);
}

TEST(HttpSenderBody, StallingBodyEndsAfterTheReceiveTimeout) {
  LoopbackHttpServer server([](const HttpServerRequest&, HttpConnection& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\npartial");
    c.WaitForStop(20000);
    return false;
  });
  Web::CHttpSender sender(Device(server.Port(), 700));
  std::vector<uint8_t> body;
  const auto start = Clock::now();
  const CResultDef result = HUtils::RequestGetRD(body, sender, "/x", true);
  EXPECT_LT(SecondsSince(start), 5.0);
  // Seven of 100000 announced bytes are not the answer.
  EXPECT_EQ(result.Code(), 12);
  EXPECT_TRUE(sender.IsBodyIncomplete());
}

TEST(HttpSenderBody, CutBodyIsAFailureNotAShortAnswer) {
  const std::string head = "root.Brand.Brand=Dynacolor\r\nroot.Brand.ProdSh";
  LoopbackHttpServer server([&](const HttpServerRequest& r, HttpConnection& c) {
    if (r.target == "/chunked")
      c.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" +
             norvale::FormatString("%x\r\n", static_cast<unsigned>(head.size())) + head + "\r\n");
    else
      c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + head);
    return false;  // the connection breaks here
  });
  Web::CHttpSender sender(Device(server.Port()));
  for (const std::string path : {"/length", "/chunked"}) {
    if (kServiceParsesAnswers && path == "/chunked") continue;
    std::vector<uint8_t> body;
    const CResultDef result = HUtils::RequestGetRD(body, sender, path, true);
    EXPECT_EQ(result.Code(), 12) << path;
    EXPECT_EQ(result.Level(), norvale::LogWarning) << path;
    std::string text = "untouched";
    EXPECT_FALSE(HUtils::RequestGetString(sender, text, path)) << path;
    EXPECT_EQ(text, "") << path;
    // A command whose answer is not read still succeeds on the status.
    EXPECT_EQ(HUtils::RequestGetRD(sender, path).Code(), 0) << path;
  }
  // A whole answer on the same sender is not marked.
  LoopbackHttpServer whole(Answer(200, head));
  Web::CHttpSender other(Device(whole.Port()));
  std::vector<uint8_t> body;
  EXPECT_EQ(HUtils::RequestGetRD(body, other, "/x", true).Code(), 0);
  EXPECT_FALSE(other.IsBodyIncomplete());
  EXPECT_EQ(Text(body), head);
}

// ---- a camera that keeps a request alive without ever finishing it ------------------------------

namespace {
// Sends the opening, then one piece every 100 ms (well inside the idle limit) until the server stops.
LoopbackHttpServer::Handler Trickle(std::string opening, std::string piece) {
  return [=](const HttpServerRequest&, HttpConnection& c) {
    if (!c.Send(opening)) return false;
    for (int i = 0; i < 600 && !c.WaitForStop(100); ++i)
      if (!c.Send(piece)) return false;
    return false;
  };
}

int CodeWithin(Web::CBaseHttpSender& sender, bool readBody, int seconds) {
  auto pending = std::async(std::launch::async, [&] {
    std::vector<uint8_t> body;
    return HUtils::RequestGetRD(body, sender, "/cgi-bin/admin/param.cgi?action=list", readBody).Code();
  });
  if (pending.wait_for(std::chrono::seconds(seconds)) != std::future_status::ready) {
    sender.CloseRequest();  // let the test end; the request had no end of its own
    pending.wait();
    return -1;
  }
  return pending.get();
}
}  // namespace

TEST(HttpSenderDeadline, TricklingCameraCannotHoldARequest) {
  struct Case {
    const char* what;
    std::string opening, piece;
    bool readBody;
    int code;
  };
  const Case cases[] = {
      {"body byte by byte", "HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\n", "x", true, 12},
      {"chunked body", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", "1\r\nx\r\n", true, 12},
      {"header lines", "HTTP/1.1 200 OK\r\n", "X-Filler: y\r\n", false, 11},
      {"interim answers", "", "HTTP/1.1 100 Continue\r\n\r\n", false, 11},
  };
  for (const Case& c : cases) {
    LoopbackHttpServer server(Trickle(c.opening, c.piece));
    Web::CHttpSender sender(Device(server.Port(), 300));
    EXPECT_EQ(CodeWithin(sender, c.readBody, 20), c.code) << c.what;
  }
}

TEST(HttpSenderBody, SecondSendClosesTheFirstRequest) {
  LoopbackHttpServer server([](const HttpServerRequest& r, HttpConnection& c) {
    return c.Reply(r.target == "/first" ? 200 : 404, r.target == "/first" ? Pattern(50000) : "second");
  });
  Web::CHttpSender sender(Device(server.Port()));
  ASSERT_TRUE(sender.SendRequest(Web::HttpRequest{"GET", "/first", {}}));
  std::vector<uint8_t> body;
  EXPECT_EQ(sender.ReadChunk(body, 10, true), 10u);
  ASSERT_TRUE(sender.SendRequest(Web::HttpRequest{"GET", "/second", {}}));
  EXPECT_EQ(sender.GetStatusCode(), 404u);
  EXPECT_EQ(sender.ReadResponse(body), 6u);
  EXPECT_EQ(Text(body), "second");
  sender.CloseRequest();
}

TEST(HttpSenderBody, CloseFromAnotherThreadAbandonsAWaitingRequest) {
  LoopbackHttpServer server([](const HttpServerRequest&, HttpConnection& c) {
    c.WaitForStop(30000);
    return false;
  });
  Web::CHttpSender sender(Device(server.Port(), 20000));
  const auto start = Clock::now();
  auto pending = std::async(std::launch::async, [&] { return HUtils::RequestGetRD(sender, "/slow").Code(); });
  while (server.Requests().empty() && SecondsSince(start) < 10)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  sender.CloseRequest();
  ASSERT_EQ(pending.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(pending.get(), 11);
  EXPECT_LT(SecondsSince(start), 15.0);
}

TEST(HttpSenderBody, AbandonBeforeTheRequestStartsStillEndsIt) {
  // The stop comes from another thread just before the owner's thread sends: the request must not go
  // out to a camera that never answers (it would hold its caller for the whole 60 s deadline), and the
  // sender serves again once its owner reopens it.
  LoopbackHttpServer server([](const HttpServerRequest& r, HttpConnection& c) {
    if (r.target == "/ok") return c.Reply(200, "fine");
    c.WaitForStop(90000);
    return false;
  });
  Web::CHttpSender sender(Device(server.Port(), 20000));
  std::thread([&] { sender.Abandon(); }).join();
  auto pending = std::async(std::launch::async, [&] { return HUtils::RequestGetRD(sender, "/hung").Code(); });
  ASSERT_EQ(pending.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(pending.get(), 11);
  EXPECT_TRUE(server.Requests().empty());
  sender.Reopen();
  std::string text;
  EXPECT_TRUE(HUtils::RequestGetString(sender, text, "/ok"));
  EXPECT_EQ(text, "fine");
}

TEST(HttpSenderBody, AbandonedRequestsLeaveTheSenderUsable) {
  // A request given up while waiting for the answer, one given up in the middle of its body, and one
  // closed from another thread while it reads: each leaves a connection behind that may still deliver
  // bytes, and the next request on the same sender gets its own answer whole.
  LoopbackHttpServer server([](const HttpServerRequest& r, HttpConnection& c) {
    if (r.target == "/ok") return c.Reply(200, "fine");
    if (r.target == "/body") c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\npartial");
    c.WaitForStop(30000);
    return false;
  });
  Web::CHttpSender quick(Device(server.Port(), 400));
  std::vector<uint8_t> body;
  EXPECT_EQ(HUtils::RequestGetRD(quick, "/silent").Code(), 11);
  EXPECT_EQ(HUtils::RequestGetRD(body, quick, "/body", true).Code(), 12);
  std::string text;
  EXPECT_TRUE(HUtils::RequestGetString(quick, text, "/ok"));
  EXPECT_EQ(text, "fine");

  Web::CHttpSender patient(Device(server.Port(), 20000));
  ASSERT_TRUE(patient.SendRequest(Web::HttpRequest{"GET", "/body", {}}));
  auto reading = std::async(std::launch::async, [&] {
    std::vector<uint8_t> part;
    return patient.ReadChunk(part, 100000, true);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // let the read block (or not: both must end)
  const auto closing = std::chrono::steady_clock::now();
  patient.CloseRequest();
  // The read is cancelled, not waited out (its time-out is 20 s).
  EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::seconds(5));
  ASSERT_EQ(reading.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_LE(reading.get(), 7u);
  EXPECT_TRUE(HUtils::RequestGetString(patient, text, "/ok"));
  EXPECT_EQ(text, "fine");
}

// ---- authentication -----------------------------------------------------------------------------

TEST(HttpSenderAuth, BasicChallengeIsAnsweredWithTheDevicesCredentials) {
  std::string expected;
  ASSERT_TRUE(norvale::BasicCredentials("admin", "s3cret", &expected));
  LoopbackHttpServer server([&](const HttpServerRequest& r, HttpConnection& c) {
    if (r.Header("authorization") == "Basic " + expected) return c.Reply(200, "welcome");
    return c.Reply(401, "login", "WWW-Authenticate: Basic realm=\"camera\"\r\n");
  });
  Web::CHttpSender good(Device(server.Port(), 3000, "admin", "s3cret"));
  std::vector<uint8_t> body;
  EXPECT_EQ(HUtils::RequestGetRD(body, good, "/x", true).Code(), 0);
  EXPECT_EQ(Text(body), "welcome");
  Web::CHttpSender bad(Device(server.Port(), 3000, "admin", "wrong"));
  EXPECT_EQ(HUtils::RequestGetRD(body, bad, "/x", true).Code(), 10);
  EXPECT_EQ(bad.GetStatusCode(), 401u);
}

// A camera that accepts only Digest and checks every field of the answer (RFC 7616 quoting).
struct DigestOptions {
  std::string qop = "auth";       // empty: RFC 2069 style
  std::string algorithm = "MD5";  // or "MD5-sess"
  std::string extraChallenge;     // another challenge in front of the Digest one, same header
  int rotateEvery = 0;            // a new nonce after that many accepted answers (old: stale)
};

class DigestCamera {
 public:
  DigestCamera(std::string user, std::string password, DigestOptions options = {})
      : user_(std::move(user)),
        password_(std::move(password)),
        options_(std::move(options)),
        server_([this](const HttpServerRequest& r, HttpConnection& c) { return Handle(r, c); }) {}
  uint16_t Port() const { return server_.Port(); }
  LoopbackHttpServer& Server() { return server_; }
  int Challenges() const { return challenges_.load(); }

  // The parameters of an Authorization value, quoted strings unescaped.
  static std::map<std::string, std::string> Params(const std::string& header) {
    std::map<std::string, std::string> params;
    size_t i = header.find(' ');
    while (i != std::string::npos && i < header.size()) {
      while (i < header.size() && (header[i] == ' ' || header[i] == ',')) ++i;
      const size_t eq = header.find('=', i);
      if (eq == std::string::npos) break;
      const std::string name = header.substr(i, eq - i);
      std::string value;
      i = eq + 1;
      if (i < header.size() && header[i] == '"') {
        for (++i; i < header.size() && header[i] != '"'; ++i) {
          if (header[i] == '\\' && i + 1 < header.size()) ++i;
          value += header[i];
        }
        ++i;
      } else {
        const size_t end = header.find(',', i);
        value = header.substr(i, end == std::string::npos ? std::string::npos : end - i);
        i = end;
      }
      params[name] = value;
    }
    return params;
  }

 private:
  bool Handle(const HttpServerRequest& r, HttpConnection& c) {
    const std::string auth = r.Header("authorization");
    bool stale = false;
    if (auth.rfind("Digest ", 0) == 0) {
      auto p = Params(auth);
      std::string ha1 = norvale::MD5::Hex(user_ + ":camera:" + password_);
      if (options_.algorithm == "MD5-sess") ha1 = norvale::MD5::Hex(ha1 + ":" + p["nonce"] + ":" + p["cnonce"]);
      const std::string ha2 = norvale::MD5::Hex(r.method + ":" + r.target);
      const std::string expected =
          options_.qop.empty()
              ? norvale::MD5::Hex(ha1 + ":" + p["nonce"] + ":" + ha2)
              : norvale::MD5::Hex(ha1 + ":" + p["nonce"] + ":" + p["nc"] + ":" + p["cnonce"] + ":auth:" + ha2);
      const bool fieldsOk = p["username"] == user_ && p["realm"] == "camera" && p["uri"] == r.target &&
                            p["algorithm"] == options_.algorithm && p["opaque"] == "0paque" &&
                            (options_.qop.empty() ? !p.count("qop") : p["qop"] == "auth" && p["nc"].size() == 8);
      if (fieldsOk && p["response"] == expected) {
        if (p["nonce"] == Nonce()) {
          if (options_.rotateEvery && ++accepted_ % options_.rotateEvery == 0) ++generation_;
          return c.Reply(200, "digest ok");
        }
        stale = true;  // right password, old nonce
      }
    }
    ++challenges_;
    std::string challenge = "WWW-Authenticate: " + options_.extraChallenge + "Digest realm=\"camera\", nonce=\"" +
                            Nonce() + "\", opaque=\"0paque\", algorithm=" + options_.algorithm;
    if (!options_.qop.empty()) challenge += ", qop=\"" + options_.qop + "\"";
    if (stale) challenge += ", stale=true";
    return c.Reply(401, "<html>401</html>", challenge + "\r\n");
  }

  std::string Nonce() const { return "6f1b3c2a9d8e7f" + std::to_string(generation_.load()); }

  std::string user_, password_;
  DigestOptions options_;
  std::atomic<int> challenges_{0};
  std::atomic<int> accepted_{0};
  std::atomic<int> generation_{0};
  LoopbackHttpServer server_;
};

TEST(HttpSenderAuth, DigestChallengeIsAnsweredEndToEnd) {
  DigestCamera camera("root", "pass word");
  Web::CHttpSender sender(Device(camera.Port(), 3000, "root", "pass word"));
  std::string text;
  const std::string path = "/cgi-bin/admin/param.cgi?action=list&group=Brand";
  ASSERT_TRUE(HUtils::RequestGetString(sender, text, path));
  EXPECT_EQ(text, "digest ok");
  std::vector<uint8_t> body;
  EXPECT_EQ(HUtils::RequestGetRD(body, sender, "/cgi-bin/com/ptz.cgi?info=1", true).Code(), 0);
  EXPECT_EQ(Text(body), "digest ok");
  EXPECT_EQ(HUtils::RequestGetRD(sender, "/cgi-bin/io/output.cgi?action=1:\\").Code(), 0);
  EXPECT_EQ(HUtils::RequestGetRD(sender, "/cgi-bin/com/ptz.cgi?continuouspantiltmove=0,0").Code(), 0);
  EXPECT_EQ(HUtils::RequestGetRD(sender, "/a/../b/./c?x=%41&y=[1]").Code(), 0);
  EXPECT_EQ(camera.Server().Connections(), 1);  // the challenge rounds keep the connection
  EXPECT_EQ(camera.Challenges(), 1);            // later requests answer from the start
}

TEST(HttpSenderAuth, DigestVariants) {
  const DigestOptions variants[] = {
      {"", "MD5", "", 0},                              // no qop
      {"auth", "MD5-sess", "", 0},                     // per-session key
      {"auth-int,auth", "MD5", "", 0},                 // only auth is answered
      {"auth", "MD5", "Basic realm=\"camera\", ", 0},  // Digest preferred over Basic
  };
  for (const DigestOptions& options : variants) {
    DigestCamera camera("root", "pw", options);
    Web::CHttpSender sender(Device(camera.Port(), 3000, "root", "pw"));
    for (int i = 0; i < 2; ++i)
      EXPECT_EQ(HUtils::RequestGetRD(sender, "/cgi-bin/io/output.cgi?action=1:\\").Code(), 0)
          << options.qop << " " << options.algorithm << " " << options.extraChallenge;
  }
}

TEST(HttpSenderAuth, ExpiredNonceIsRenewedWithoutFailing) {
  DigestOptions options;
  options.rotateEvery = 2;
  DigestCamera camera("root", "pw", options);
  Web::CHttpSender sender(Device(camera.Port(), 3000, "root", "pw"));
  for (int i = 0; i < 7; ++i) EXPECT_EQ(HUtils::RequestGetRD(sender, "/cgi-bin/io/input.cgi?check=1").Code(), 0) << i;
  EXPECT_EQ(camera.Challenges(), 4);  // the first one and one per new nonce
}

TEST(HttpSenderAuth, ChallengesThatCannotBeAnsweredEndAsUnauthorised) {
  LoopbackHttpServer server([](const HttpServerRequest&, HttpConnection& c) {
    return c.Reply(401, "",
                   "WWW-Authenticate: Digest realm=\"x\", nonce=\"n\", algorithm=SHA-256\r\n"
                   "WWW-Authenticate: Negotiate\r\n"
                   "WWW-Authenticate: Digest realm=\"x\", nonce=\"n\", qop=\"auth-int\"\r\n"
                   "WWW-Authenticate: Digest realm=\"x\"\r\n");
  });
  Web::CHttpSender sender(Device(server.Port(), 3000, "root", "pw"));
  EXPECT_EQ(HUtils::RequestGetRD(sender, "/x").Code(), 10);
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST(HttpSenderAuth, RefusedLoginIsTriedAFewTimesAtMost) {
  DigestOptions options;
  options.rotateEvery = 1;  // a fresh nonce for every challenge
  DigestCamera camera("root", "right", options);
  Web::CHttpSender sender(Device(camera.Port(), 3000, "root", "wrong"));
  EXPECT_EQ(HUtils::RequestGetRD(sender, "/x").Code(), 10);
  EXPECT_LE(camera.Server().Requests().size(), 3u);
}

TEST(HttpSenderAuth, WrongDigestPasswordEndsAsUnauthorised) {
  DigestCamera camera("root", "right");
  Web::CHttpSender sender(Device(camera.Port(), 3000, "root", "wrong"));
  std::vector<uint8_t> body;
  const CResultDef result = HUtils::RequestGetRD(body, sender, "/x", true);
  EXPECT_EQ(result.Code(), 10);
  EXPECT_TRUE(body.empty());
  std::string text;
  EXPECT_FALSE(HUtils::RequestGetString(sender, text, "/x"));
  EXPECT_EQ(sender.GetStatusCode(), 401u);
}

TEST(HttpSenderAuth, SenderKeepsTheDeviceItWasBuiltWith) {
  LoopbackHttpServer server(Answer(200, "ok"));
  DEVICE_INFO device = Device(server.Port());
  Web::CHttpSender sender(device);
  device.port = zephrin::test::ClosedLoopbackPort();
  device.address = "192.0.2.1";
  EXPECT_EQ(sender.GetDeviceInfo().port, server.Port());
  EXPECT_EQ(HUtils::RequestGetRD(sender, "/x").Code(), 0);
}

TEST(HttpSenderFactory, CreatesAWorkingSender) {
  LoopbackHttpServer server(Answer(200, "ok"));
  std::unique_ptr<Web::CBaseHttpSender> sender = Web::CreateHttpSender(Device(server.Port()));
  std::string text;
  EXPECT_TRUE(HUtils::RequestGetString(*sender, text, "/x"));
  EXPECT_EQ(text, "ok");
}

}  // namespace
