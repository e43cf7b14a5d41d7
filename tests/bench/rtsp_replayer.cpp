// A light RTSP/RTP sender for the multi-camera benchmark: plays N cameras from one process, each on
// its own loopback address (RTSP on port 554, the CGI parameter interface on port 80), all of them
// replaying one packet trace built once from an H.264 Annex B clip (one RTP packet list per picture,
// FU-A fragments of at most 1400 bytes, marker on the last packet of a picture), paced at the clip's
// frame rate with each picture's packets sent in one burst, as the cameras do.
//
// One thread and one epoll set serve every camera. RTP goes over UDP only. Every stream path
// ("h264", "h264_2", "h264_3") serves the same trace; each PLAYed session counts the pictures it sent.
//
// Commands on stdin, one per line:
//   status  prints what was sent so far
//   pause   stops sending on every session, then prints what was sent (the counts stay final)
//   pause P stops sending on the sessions of stream path P only, then prints what was sent
//   quit    (or end of input) ends the program
// A status is the lines "sent <address> <path> <pictures> <packets>" for every camera and path that
// sent something, then "cpu <user s> <system s> wall <s since ready> sessions <n> late <n>" and "end".
//
//   rtsp_replayer --clip FILE --cameras N [--first 127.0.1.1] [--fps 25] [--params FILE]
//                 [--rtsp-port 554] [--http-port 80]
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "BenchProcess.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMaxPayload = 1400;
constexpr uint16_t kServerRtpPort = 6970;

// ---- the packet trace ---------------------------------------------------------------------------
struct TracePacket {
  uint8_t prefix[2];  // FU indicator and header of a fragment
  uint8_t prefixLength;
  bool marker;
  const uint8_t* data;
  uint32_t length;
};

struct Trace {
  std::vector<uint8_t> clip;
  std::vector<std::vector<TracePacket>> pictures;
  std::string sps;  // raw NAL units
  std::string pps;
};

std::string Base64(const std::string& in) {
  static const char kTable[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < in.size(); i += 3) {
    const uint32_t v = (uint8_t(in[i]) << 16) | (uint8_t(in[i + 1]) << 8) | uint8_t(in[i + 2]);
    out += kTable[v >> 18];
    out += kTable[(v >> 12) & 63];
    out += kTable[(v >> 6) & 63];
    out += kTable[v & 63];
  }
  if (i + 1 == in.size()) {
    const uint32_t v = uint8_t(in[i]) << 16;
    out += kTable[v >> 18];
    out += kTable[(v >> 12) & 63];
    out += "==";
  } else if (i + 2 == in.size()) {
    const uint32_t v = (uint8_t(in[i]) << 16) | (uint8_t(in[i + 1]) << 8);
    out += kTable[v >> 18];
    out += kTable[(v >> 12) & 63];
    out += kTable[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

// Splits the Annex B clip into NAL units, groups them into pictures (a new picture at every access
// unit delimiter; without delimiters every slice NAL unit ends one) and packetizes each picture.
bool BuildTrace(const std::string& path, Trace* trace) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  trace->clip.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  const std::vector<uint8_t>& c = trace->clip;
  std::vector<std::pair<size_t, size_t>> nals;  // offset, length
  size_t i = 0, start = std::string::npos;
  while (i + 3 <= c.size()) {
    if (c[i] == 0 && c[i + 1] == 0 && c[i + 2] == 1) {
      if (start != std::string::npos) {
        size_t end = i;
        while (end > start && c[end - 1] == 0) --end;
        nals.push_back({start, end - start});
      }
      i += 3;
      start = i;
    } else {
      ++i;
    }
  }
  if (start != std::string::npos && start < c.size()) nals.push_back({start, c.size() - start});
  bool delimited = false;
  for (const auto& [offset, length] : nals)
    if (length > 0 && (c[offset] & 0x1F) == 9) delimited = true;

  std::vector<TracePacket> picture;
  auto finishPicture = [&] {
    if (picture.empty()) return;
    picture.back().marker = true;
    trace->pictures.push_back(std::move(picture));
    picture.clear();
  };
  for (const auto& [offset, length] : nals) {
    if (length == 0) continue;
    const uint8_t* nal = &c[offset];
    const uint8_t type = nal[0] & 0x1F;
    if (type == 9) {
      finishPicture();
      continue;
    }
    if (type == 7 && trace->sps.empty()) trace->sps.assign(reinterpret_cast<const char*>(nal), length);
    if (type == 8 && trace->pps.empty()) trace->pps.assign(reinterpret_cast<const char*>(nal), length);
    if (length <= kMaxPayload) {
      picture.push_back({{0, 0}, 0, false, nal, static_cast<uint32_t>(length)});
    } else {
      size_t done = 1;
      while (done < length) {
        const size_t chunk = std::min(kMaxPayload - 2, length - done);
        TracePacket p{};
        p.prefix[0] = static_cast<uint8_t>((nal[0] & 0xE0) | 28);
        p.prefix[1] = static_cast<uint8_t>(type | (done == 1 ? 0x80 : 0) | (done + chunk == length ? 0x40 : 0));
        p.prefixLength = 2;
        p.data = nal + done;
        p.length = static_cast<uint32_t>(chunk);
        picture.push_back(p);
        done += chunk;
      }
    }
    if (!delimited && (type == 1 || type == 5)) finishPicture();
  }
  finishPicture();
  return !trace->pictures.empty() && !trace->sps.empty() && !trace->pps.empty();
}

// ---- cameras, connections, sessions -----------------------------------------------------------------
struct Counts {
  uint64_t pictures = 0;
  uint64_t packets = 0;
};

struct Camera {
  std::string address;
  in_addr addr{};
  int rtspListen = -1;
  int httpListen = -1;
  int rtpSocket = -1;
  int rtcpSocket = -1;
  std::map<std::string, Counts> sent;  // by stream path
};

struct Session {
  Camera* camera = nullptr;
  std::string path;
  std::string id;
  sockaddr_in client{};
  uint32_t ssrc = 0;
  uint16_t seq = 0;
  uint32_t rtpTime = 0;
  size_t picture = 0;
  bool playing = false;
  Clock::time_point next;
  int connection = -1;
};

enum class Kind { RtspListen, HttpListen, Rtsp, Http, Udp, Stdin };

struct Connection {
  Kind kind;
  int fd;
  Camera* camera;
  std::string in;
  bool closeAfter = false;
};

struct Options {
  std::string clip;
  std::string params;
  std::string first = "127.0.1.1";
  int cameras = 1;
  int fps = 25;
  uint16_t rtspPort = 554;
  uint16_t httpPort = 80;
};

int Listen(const in_addr& addr, uint16_t port, int type) {
  const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr = addr;
  sa.sin_port = htons(port);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || (type == SOCK_STREAM && ::listen(fd, 64) != 0)) {
    ::close(fd);
    return -1;
  }
  if (type == SOCK_DGRAM) {
    const int size = 4 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  return fd;
}

std::string HeaderValue(const std::string& request, const std::string& name) {
  std::istringstream lines(request);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > name.size() && strncasecmp(line.c_str(), name.c_str(), name.size()) == 0 &&
        line[name.size()] == ':') {
      size_t v = name.size() + 1;
      while (v < line.size() && line[v] == ' ') ++v;
      return line.substr(v);
    }
  }
  return "";
}

class Replayer {
 public:
  Replayer(Options options, Trace trace, std::string params)
      : options_(std::move(options)), trace_(std::move(trace)), params_(std::move(params)) {}

  bool Start() {
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    cameras_.resize(static_cast<size_t>(options_.cameras));
    for (int i = 0; i < options_.cameras; ++i) {
      Camera& camera = cameras_[static_cast<size_t>(i)];
      camera.address = zephrin::bench::AddressOf(options_.first, i);
      inet_pton(AF_INET, camera.address.c_str(), &camera.addr);
      camera.rtspListen = Listen(camera.addr, options_.rtspPort, SOCK_STREAM);
      camera.httpListen = Listen(camera.addr, options_.httpPort, SOCK_STREAM);
      camera.rtpSocket = Listen(camera.addr, kServerRtpPort, SOCK_DGRAM);
      camera.rtcpSocket = Listen(camera.addr, kServerRtpPort + 1, SOCK_DGRAM);
      if (camera.rtspListen < 0 || camera.httpListen < 0 || camera.rtpSocket < 0 || camera.rtcpSocket < 0) {
        std::fprintf(stderr, "rtsp_replayer: cannot listen on %s (ports %u, %u, %u-%u): %s\n", camera.address.c_str(),
                     options_.rtspPort, options_.httpPort, kServerRtpPort, kServerRtpPort + 1, std::strerror(errno));
        return false;
      }
      Watch(Kind::RtspListen, camera.rtspListen, &camera);
      Watch(Kind::HttpListen, camera.httpListen, &camera);
      Watch(Kind::Udp, camera.rtpSocket, &camera);
      Watch(Kind::Udp, camera.rtcpSocket, &camera);
    }
    ::fcntl(0, F_SETFL, ::fcntl(0, F_GETFL) | O_NONBLOCK);
    Watch(Kind::Stdin, 0, nullptr);
    ready_ = Clock::now();
    std::printf("ready %d cameras from %s, %zu pictures in the trace, rtsp port %u, http port %u\n", options_.cameras,
                cameras_.front().address.c_str(), trace_.pictures.size(), options_.rtspPort, options_.httpPort);
    std::fflush(stdout);
    return true;
  }

  void Run() {
    std::vector<epoll_event> events(256);
    while (!quit_) {
      int timeout = -1;
      const auto now = Clock::now();
      if (!paused_) {
        for (auto& [id, s] : sessions_) {
          if (!s.playing || pausedPaths_.count(s.path)) continue;
          // Rounded up: a picture goes out at most a millisecond late instead of the loop spinning.
          const auto wait = std::chrono::ceil<std::chrono::milliseconds>(s.next - now).count();
          const int ms = wait <= 0 ? 0 : static_cast<int>(wait);
          if (timeout < 0 || ms < timeout) timeout = ms;
        }
      }
      const int n = ::epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), timeout);
      for (int i = 0; i < n; ++i) Handle(static_cast<Connection*>(events[static_cast<size_t>(i)].data.ptr));
      if (!paused_) SendDue();
    }
  }

 private:
  void Watch(Kind kind, int fd, Camera* camera) {
    auto connection = std::make_unique<Connection>(Connection{kind, fd, camera, {}, false});
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.ptr = connection.get();
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev);
    connections_[fd] = std::move(connection);
  }

  void Drop(Connection* c) {
    for (auto it = sessions_.begin(); it != sessions_.end();) {
      if (it->second.connection == c->fd)
        it = sessions_.erase(it);
      else
        ++it;
    }
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, c->fd, nullptr);
    const int fd = c->fd;
    ::close(fd);
    connections_.erase(fd);
  }

  void Handle(Connection* c) {
    switch (c->kind) {
      case Kind::RtspListen:
      case Kind::HttpListen: {
        for (;;) {
          const int fd = ::accept4(c->fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
          if (fd < 0) break;
          const int one = 1;
          ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
          Watch(c->kind == Kind::RtspListen ? Kind::Rtsp : Kind::Http, fd, c->camera);
        }
        return;
      }
      case Kind::Udp: {
        char buffer[2048];
        while (::recv(c->fd, buffer, sizeof buffer, 0) >= 0) {
        }
        return;
      }
      case Kind::Stdin: {
        char buffer[256];
        const ssize_t got = ::read(0, buffer, sizeof buffer);
        if (got == 0) {
          quit_ = true;
          return;
        }
        if (got < 0) return;
        c->in.append(buffer, static_cast<size_t>(got));
        size_t end;
        while ((end = c->in.find('\n')) != std::string::npos) {
          const std::string line = c->in.substr(0, end);
          c->in.erase(0, end + 1);
          if (line == "quit") quit_ = true;
          if (line == "pause") paused_ = true;
          if (line.rfind("pause ", 0) == 0) pausedPaths_.insert(line.substr(6));
          if (line == "status" || line.rfind("pause", 0) == 0) PrintStatus();
        }
        return;
      }
      case Kind::Rtsp:
      case Kind::Http: {
        char buffer[4096];
        for (;;) {
          const ssize_t got = ::recv(c->fd, buffer, sizeof buffer, 0);
          if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            Drop(c);
            return;
          }
          if (got < 0) break;
          c->in.append(buffer, static_cast<size_t>(got));
        }
        for (;;) {
          const size_t end = c->in.find("\r\n\r\n");
          if (end == std::string::npos) break;
          const size_t length = std::strtoul(HeaderValue(c->in.substr(0, end), "Content-Length").c_str(), nullptr, 10);
          if (c->in.size() < end + 4 + length) break;
          const std::string request = c->in.substr(0, end + 2);
          c->in.erase(0, end + 4 + length);
          const std::string answer = c->kind == Kind::Rtsp ? AnswerRtsp(c, request) : AnswerHttp(c, request);
          SendAll(c->fd, answer);
        }
        if (c->closeAfter) Drop(c);
        return;
      }
    }
  }

  static void SendAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;  // answers are small
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }

  std::string AnswerHttp(Connection* c, const std::string& request) {
    const std::string line = request.substr(0, request.find("\r\n"));
    std::istringstream words(line);
    std::string method, target;
    words >> method >> target;
    if (strcasecmp(HeaderValue(request, "Connection").c_str(), "close") == 0) c->closeAfter = true;
    int status = 200;
    std::string body;
    if (method != "GET") {
      status = 405;
      body = "Method Not Allowed\r\n";
    } else if (target.rfind("/cgi-bin/admin/param.cgi?action=list", 0) == 0) {
      body = params_;
    } else if (target.rfind("/cgi-bin/admin/param.cgi?action=update", 0) == 0) {
      body = "OK\r\n";
    } else {
      status = 404;
      body = "Not Found\r\n";
    }
    return "HTTP/1.1 " + std::to_string(status) +
           (status == 200   ? " OK"
            : status == 404 ? " Not Found"
                            : " Error") +
           "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
           (c->closeAfter ? "Connection: close\r\n" : "") + "\r\n" + body;
  }

  static std::string PathOf(const std::string& uri) {
    // rtsp://host:554/h264/stream=0 -> h264
    size_t p = uri.find("://");
    p = p == std::string::npos ? 0 : uri.find('/', p + 3);
    if (p == std::string::npos) return "";
    std::string rest = uri.substr(p + 1);
    const size_t slash = rest.find('/');
    return slash == std::string::npos ? rest : rest.substr(0, slash);
  }

  std::string AnswerRtsp(Connection* c, const std::string& request) {
    const std::string line = request.substr(0, request.find("\r\n"));
    std::istringstream words(line);
    std::string method, uri;
    words >> method >> uri;
    const std::string cseq = HeaderValue(request, "CSeq");
    std::string head = "CSeq: " + cseq + "\r\nServer: zephrin-bench-replayer\r\n";
    auto reply = [&](const std::string& status, const std::string& headers, const std::string& body = "") {
      return "RTSP/1.0 " + status + "\r\n" + head + headers +
             (body.empty() ? "" : "Content-Length: " + std::to_string(body.size()) + "\r\n") + "\r\n" + body;
    };
    const std::string path = PathOf(uri);
    const bool known = path == "h264" || path == "h264_2" || path == "h264_3";
    if (method == "OPTIONS")
      return reply("200 OK", "Public: OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN, GET_PARAMETER\r\n");
    if (method == "DESCRIBE") {
      if (!known) return reply("404 Not Found", "");
      const uint8_t* sps = reinterpret_cast<const uint8_t*>(trace_.sps.data());
      char profile[8];
      std::snprintf(profile, sizeof profile, "%02X%02X%02X", trace_.sps.size() > 3 ? sps[1] : 0x42,
                    trace_.sps.size() > 3 ? sps[2] : 0, trace_.sps.size() > 3 ? sps[3] : 0x1F);
      const std::string sdp = "v=0\r\no=- 1 1 IN IP4 " + c->camera->address +
                              "\r\ns=Session streamed by zephrin-bench-replayer\r\nc=IN IP4 0.0.0.0\r\nt=0 0\r\n"
                              "a=control:*\r\na=range:npt=0-\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n"
                              "a=fmtp:96 packetization-mode=1;profile-level-id=" +
                              std::string(profile) + ";sprop-parameter-sets=" + Base64(trace_.sps) + "," +
                              Base64(trace_.pps) + "\r\na=control:stream=0\r\n";
      return reply("200 OK",
                   "Content-Base: rtsp://" + c->camera->address + ":" + std::to_string(options_.rtspPort) + "/" + path +
                       "/\r\nContent-Type: application/sdp\r\n",
                   sdp);
    }
    if (method == "SETUP") {
      if (!known) return reply("404 Not Found", "");
      const std::string transport = HeaderValue(request, "Transport");
      const size_t ports = transport.find("client_port=");
      if (transport.find("TCP") != std::string::npos || transport.find("interleaved") != std::string::npos ||
          ports == std::string::npos)
        return reply("461 Unsupported Transport", "");
      const int rtpPort = std::atoi(transport.c_str() + ports + 12);
      Session s;
      s.camera = c->camera;
      s.path = path;
      s.connection = c->fd;
      s.client.sin_family = AF_INET;
      s.client.sin_port = htons(static_cast<uint16_t>(rtpPort));
      sockaddr_in peer{};
      socklen_t peerLength = sizeof peer;
      ::getpeername(c->fd, reinterpret_cast<sockaddr*>(&peer), &peerLength);
      s.client.sin_addr = peer.sin_addr;
      s.ssrc = static_cast<uint32_t>(random_());
      s.seq = static_cast<uint16_t>(random_());
      s.rtpTime = static_cast<uint32_t>(random_());
      char id[17];
      std::snprintf(id, sizeof id, "%08X%08X", static_cast<uint32_t>(random_()), static_cast<uint32_t>(random_()));
      s.id = id;
      char ssrc[9];
      std::snprintf(ssrc, sizeof ssrc, "%08X", s.ssrc);
      sessions_[s.id] = s;
      const std::string clientPorts = transport.substr(ports + 12, transport.find_first_of(";,", ports) - ports - 12);
      return reply("200 OK", "Transport: RTP/AVP;unicast;client_port=" + clientPorts + ";server_port=" +
                                 std::to_string(kServerRtpPort) + "-" + std::to_string(kServerRtpPort + 1) +
                                 ";ssrc=" + ssrc + ";mode=\"PLAY\"\r\nSession: " + s.id + ";timeout=60\r\n");
    }
    std::string session = HeaderValue(request, "Session");
    session = session.substr(0, session.find(';'));
    const auto it = sessions_.find(session);
    if (method == "PLAY") {
      if (it == sessions_.end()) return reply("454 Session Not Found", "");
      Session& s = it->second;
      if (!s.playing) {
        s.playing = true;
        s.next = Clock::now();
      }
      return reply("200 OK", "Session: " + s.id + "\r\nRange: npt=0.000-\r\nRTP-Info: url=rtsp://" + s.camera->address +
                                 ":" + std::to_string(options_.rtspPort) + "/" + s.path + "/stream=0;seq=" +
                                 std::to_string(s.seq) + ";rtptime=" + std::to_string(s.rtpTime) + "\r\n");
    }
    if (method == "TEARDOWN") {
      if (it != sessions_.end()) sessions_.erase(it);
      return reply("200 OK", "");
    }
    if (method == "GET_PARAMETER" || method == "SET_PARAMETER")
      return reply("200 OK", session.empty() ? "" : "Session: " + session + "\r\n");
    return reply("501 Not Implemented", "");
  }

  void SendDue() {
    const auto now = Clock::now();
    const auto interval = std::chrono::microseconds(1000000 / options_.fps);
    for (auto& [id, s] : sessions_) {
      if (!s.playing || pausedPaths_.count(s.path)) continue;
      int rounds = 0;
      while (s.next <= now && rounds++ < 4) {
        SendPicture(s);
        s.next += interval;
      }
      if (s.next <= now - std::chrono::seconds(1)) {  // far behind: start the pacing again from now
        ++late_;
        s.next = now + interval;
      }
    }
  }

  void SendPicture(Session& s) {
    const std::vector<TracePacket>& picture = trace_.pictures[s.picture];
    constexpr size_t kBatch = 64;
    uint8_t headers[kBatch][14];
    iovec iov[kBatch][3];
    mmsghdr messages[kBatch];
    size_t done = 0;
    while (done < picture.size()) {
      const size_t count = std::min(kBatch, picture.size() - done);
      for (size_t k = 0; k < count; ++k) {
        const TracePacket& p = picture[done + k];
        uint8_t* h = headers[k];
        h[0] = 0x80;
        h[1] = static_cast<uint8_t>((p.marker ? 0x80 : 0) | 96);
        const uint16_t seq = s.seq++;
        h[2] = static_cast<uint8_t>(seq >> 8);
        h[3] = static_cast<uint8_t>(seq);
        h[4] = static_cast<uint8_t>(s.rtpTime >> 24);
        h[5] = static_cast<uint8_t>(s.rtpTime >> 16);
        h[6] = static_cast<uint8_t>(s.rtpTime >> 8);
        h[7] = static_cast<uint8_t>(s.rtpTime);
        h[8] = static_cast<uint8_t>(s.ssrc >> 24);
        h[9] = static_cast<uint8_t>(s.ssrc >> 16);
        h[10] = static_cast<uint8_t>(s.ssrc >> 8);
        h[11] = static_cast<uint8_t>(s.ssrc);
        std::memcpy(h + 12, p.prefix, 2);
        iov[k][0] = {h, 12u + p.prefixLength};
        iov[k][1] = {const_cast<uint8_t*>(p.data), p.length};
        messages[k] = {};
        messages[k].msg_hdr.msg_name = &s.client;
        messages[k].msg_hdr.msg_namelen = sizeof s.client;
        messages[k].msg_hdr.msg_iov = iov[k];
        messages[k].msg_hdr.msg_iovlen = 2;
      }
      size_t sent = 0;
      while (sent < count) {
        const int n = ::sendmmsg(s.camera->rtpSocket, messages + sent, static_cast<unsigned>(count - sent), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // the receiver's port is gone; the picture counts as sent all the same
        sent += static_cast<size_t>(n);
      }
      done += count;
    }
    Counts& counts = s.camera->sent[s.path];
    ++counts.pictures;
    counts.packets += picture.size();
    s.rtpTime += 90000 / static_cast<uint32_t>(options_.fps);
    s.picture = (s.picture + 1) % trace_.pictures.size();
  }

  void PrintStatus() {
    for (const Camera& camera : cameras_)
      for (const auto& [path, counts] : camera.sent)
        std::printf("sent %s %s %llu %llu\n", camera.address.c_str(), path.c_str(),
                    static_cast<unsigned long long>(counts.pictures), static_cast<unsigned long long>(counts.packets));
    const zephrin::bench::CpuTimes cpu = zephrin::bench::ProcessCpu();
    std::printf("cpu %.3f %.3f wall %.3f sessions %zu late %llu\nend\n", cpu.user, cpu.system,
                std::chrono::duration<double>(Clock::now() - ready_).count(), sessions_.size(),
                static_cast<unsigned long long>(late_));
    std::fflush(stdout);
  }

  Options options_;
  Trace trace_;
  std::string params_;
  int epoll_ = -1;
  std::vector<Camera> cameras_;
  std::map<int, std::unique_ptr<Connection>> connections_;
  std::map<std::string, Session> sessions_;
  std::mt19937 random_{std::random_device{}()};
  Clock::time_point ready_;
  uint64_t late_ = 0;
  bool paused_ = false;
  std::set<std::string> pausedPaths_;
  bool quit_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) {
      std::fprintf(stderr, "rtsp_replayer: %s needs a value\n", arg.c_str());
      return 2;
    }
    const char* v = argv[++i];
    if (arg == "--clip")
      options.clip = v;
    else if (arg == "--params")
      options.params = v;
    else if (arg == "--first")
      options.first = v;
    else if (arg == "--cameras")
      options.cameras = std::atoi(v);
    else if (arg == "--fps")
      options.fps = std::atoi(v);
    else if (arg == "--rtsp-port")
      options.rtspPort = static_cast<uint16_t>(std::atoi(v));
    else if (arg == "--http-port")
      options.httpPort = static_cast<uint16_t>(std::atoi(v));
    else {
      std::fprintf(stderr, "rtsp_replayer: unknown option %s\n", arg.c_str());
      return 2;
    }
  }
  if (options.clip.empty() || options.cameras < 1 || options.fps < 1 || options.fps > 1000) {
    std::fprintf(stderr,
                 "usage: rtsp_replayer --clip FILE --cameras N [--first A] [--fps F] [--params FILE] "
                 "[--rtsp-port P] [--http-port P]\n");
    return 2;
  }
  Trace trace;
  if (!BuildTrace(options.clip, &trace)) {
    std::fprintf(stderr, "rtsp_replayer: %s is not an H.264 Annex B clip with parameter sets\n", options.clip.c_str());
    return 2;
  }
  std::string params;
  if (!options.params.empty()) {
    std::ifstream file(options.params, std::ios::binary);
    if (!file) {
      std::fprintf(stderr, "rtsp_replayer: cannot read %s\n", options.params.c_str());
      return 2;
    }
    params.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  rlimit files{};
  ::getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &files);
  Replayer replayer(options, std::move(trace), std::move(params));
  if (!replayer.Start()) return 1;
  replayer.Run();
  return 0;
}
