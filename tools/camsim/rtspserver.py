"""The camera's RTSP server (GstRtspServer): one mount per stream path, a private pipeline per
client that pushes the frames of a committed clip into a payloader at the configured frame rate,
Basic or Digest authentication, session time-outs, and the RTSP faults.

Everything here runs on the GLib main loop of the main thread, except the need-data/enough-data
handlers and the packet probe, which run on GStreamer streaming threads and only touch plain
attributes or the fault tables (which have their own lock).
"""

import random
import struct
import threading
import time

import gi

gi.require_version("Gst", "1.0")
gi.require_version("GstRtsp", "1.0")
gi.require_version("GstRtspServer", "1.0")
from gi.repository import Gio, GLib, Gst, GstRtsp, GstRtspServer  # noqa: E402

Gst.init(None)

from camera import STREAMS  # noqa: E402
from clips import ClipLibrary, config_before_gov  # noqa: E402

CAPS = {
    "h264": "video/x-h264,stream-format=byte-stream,alignment=au",
    "jpeg": "image/jpeg",
    "mpeg4": "video/mpeg,mpegversion=4,systemstream=false",
}
PAYLOADERS = {
    "h264": "rtph264pay name=pay0 pt=96 config-interval=-1",
    "jpeg": "rtpjpegpay name=pay0 pt=26",
    "mpeg4": "rtpmp4vpay name=pay0 pt=96 config-interval=-1 max-ptime=1",  # one frame a packet at least
}
ROLE = "camera-user"
CHECK_URL = "auth.check.url"
TOKEN_ROLE = "media.factory.role"
CLEANUP_PERIOD_S = 2
UDP_PORT_MIN = 20000
UDP_PORT_MAX = 59999
LATE_MS = (1, 15)
# --keepalive get_parameter: like common servers, a session lasts a little past its announced timeout,
# so that a keep-alive sent when the timeout is due still counts.
SESSION_GRACE_S = 2
NTP_EPOCH_OFFSET = 2208988800


def _stream_path(uri_path):
    """"/h264/stream=0" -> "h264"."""
    return uri_path.strip("/").split("/", 1)[0] if uri_path else ""


def _transport_has_destination(message):
    """False for a Transport header whose first choice is RTP over UDP without client ports."""
    result, transport = message.get_header(GstRtsp.RTSPHeaderField.TRANSPORT, 0)
    if result != GstRtsp.RTSPResult.OK or not transport:
        return True
    parts = [part.strip() for part in transport.split(",", 1)[0].split(";")]
    if "/TCP" in parts[0].upper() or "multicast" in parts[1:]:
        return True
    return any(part.startswith("client_port=") for part in parts[1:])


class Feeder:
    """Pushes one clip's frames into one client's appsrc, paced by a GLib timer, with regular time
    stamps. The first frame goes out at once (it gives the payloader the parameter sets for the
    session description); the rest follow once the client has sent PLAY."""

    def __init__(self, side, path, media, appsrc, clip, rate, plan):
        self.side = side
        self.path = path
        self.media = media
        self.appsrc = appsrc
        self.clip = clip
        self.rate = rate
        self.plan = plan
        self.index = 0
        self.frames_sent = 0
        self.packets = 0
        self.packets_dropped = 0
        self.packets_reordered = 0
        self.packets_late = 0
        self.packets_duplicated = 0
        self.packets_lost = 0
        self.random = random.Random(plan["seed"])
        self.push_lock = threading.Lock()
        self.session_media = None
        self.refreshed = 0.0
        self.bye_sent = False
        self.need = False
        self.playing = False
        self.play_time = None
        self.stopped = False
        self.last_pts = None
        self.timer = 0
        self.held = None
        self.client = None
        self.pushing = threading.local()

    # --- streaming-thread side ------------------------------------------------------------------

    def on_need_data(self, _src, _length):
        self.need = True

    def on_enough_data(self, _src):
        self.need = False

    def on_packet(self, pad, info):
        """Probe on the payloader's source pad: counts packets, drops or reorders them."""
        if getattr(self.pushing, "active", False):
            return Gst.PadProbeReturn.OK
        drop, reorder = self.side.sim.rtsp_faults.live_drop_reorder(self.path)
        drop = drop or self.plan["drop"]
        reorder = reorder or self.plan["reorder"]
        late, dup, loss = self.plan["late"], self.plan["dup"], self.plan["loss"]
        plain = not (drop or reorder or late or dup or loss) and self.held is None
        if info.type & Gst.PadProbeType.BUFFER_LIST:
            buffers_in = info.get_buffer_list()
            count = buffers_in.length()
            if self.side.packet_times is not None and count:
                self._note_frame_end(buffers_in.get(count - 1))
            if plain:
                self.packets += count
                return Gst.PadProbeReturn.OK
            buffers = [buffers_in.get(i) for i in range(count)]
        else:
            if self.side.packet_times is not None:
                self._note_frame_end(info.get_buffer())
            if plain:
                self.packets += 1
                return Gst.PadProbeReturn.OK
            buffers = [info.get_buffer()]
        out = []
        twice = []
        for buffer in buffers:
            self.packets += 1
            if drop and self.packets % drop == 0:
                self.packets_dropped += 1
                continue
            if loss and self.random.random() < loss:
                self.packets_lost += 1
                continue
            if late and self.random.random() < late:
                self.packets_late += 1
                GLib.timeout_add(self.random.randint(*LATE_MS), self._push_late, pad, buffer)
                continue
            if dup and self.random.random() < dup:
                # The copy follows the rest of the frame's packets.
                self.packets_duplicated += 1
                twice.append(buffer)
            if reorder and self.held is None and self.packets % reorder == 0:
                self.held = buffer
                self.packets_reordered += 1
                continue
            out.append(buffer)
            if self.held is not None:
                out.append(self.held)
                self.held = None
        self._push(pad, out + twice)
        return Gst.PadProbeReturn.DROP

    def _note_frame_end(self, buffer):
        """--packet-times: when a packet with the marker bit (a frame's last) leaves."""
        if buffer.extract_dup(1, 1)[0] & 0x80:
            self.side.packet_times.write("%s %d\n" % (self.path, time.monotonic_ns()))

    def _push(self, pad, buffers):
        """Pushes past the probe; the streaming thread and the main loop (late packets) take turns."""
        with self.push_lock:
            self.pushing.active = True
            try:
                for buffer in buffers:
                    if pad.push(buffer) not in (Gst.FlowReturn.OK, Gst.FlowReturn.NOT_LINKED):
                        break
            finally:
                self.pushing.active = False

    def _push_late(self, pad, buffer):
        if not self.stopped:
            self._push(pad, [buffer])
        return False

    # --- main-loop side -------------------------------------------------------------------------

    def start(self):
        self.timer = GLib.timeout_add(5, self._tick)

    def stop(self):
        self.stopped = True
        if self.timer:
            GLib.source_remove(self.timer)
            self.timer = 0

    def play(self):
        if not self.playing:
            self.playing = True
            self.play_time = self.refreshed = time.monotonic()
            if self.plan["close_after"] is not None and self.client is not None:
                self.side.schedule_close(self, self.plan["close_after"])
            if self.plan["bye_after"] is not None:
                GLib.timeout_add(int(self.plan["bye_after"] * 1000), self.bye, "on request")

    def bye(self, reason):
        """Stops the video for good and sends the client a sender report and a BYE (main loop)."""
        if self.bye_sent or self.stopped:
            return False
        self.bye_sent = True
        self.side.sim.log.write("EVENT RTSP BYE on %s (%s)" % (self.path, reason))
        stream_transport = self.session_media.get_transport(0) if self.session_media is not None else None
        transport = stream_transport.get_transport() if stream_transport is not None else None
        if transport is None or transport.lower_transport != GstRtsp.RTSPLowerTrans.UDP:
            return False
        stream = self.media.get_stream(0)
        ssrc = stream.get_ssrc()
        now = time.time() + NTP_EPOCH_OFFSET
        packet = struct.pack("!BBHIIIIII", 0x80, 200, 6, ssrc, int(now), int((now % 1) * (1 << 32)), 0,
                             self.packets, 0) + struct.pack("!BBHI", 0x81, 203, 1, ssrc)
        destination = transport.destination or self.client.get_connection().get_ip()
        socket = stream.get_rtcp_socket(Gio.SocketFamily.IPV4)
        socket.send_to(Gio.InetSocketAddress.new_from_string(destination, transport.client_port.max), packet, None)
        return False

    def _stalled(self, now):
        if now < self.side.sim.rtsp_faults.live_stall_until(self.path):
            return True
        stall = self.plan["stall"]
        if stall and self.play_time is not None:
            begin = self.play_time + stall[0]
            return begin <= now < begin + stall[1]
        return False

    def _tick(self):
        self.timer = 0
        if self.stopped:
            return False
        duration = Gst.SECOND // max(1, self.rate)
        delay_ms = max(1, duration // Gst.MSECOND)
        pipeline = self.media.get_element()
        clock = pipeline.get_clock() if pipeline is not None else None
        may_push = self.need and (self.playing or self.packets == 0) and not self.bye_sent
        timeout = self.side.sim.args.session_timeout + SESSION_GRACE_S
        if self.playing and self.side.keepalive_only and time.monotonic() - self.refreshed > timeout:
            self.bye("session timed out")
        if clock is not None and may_push and not self._stalled(time.monotonic()):
            now = clock.get_time() - pipeline.get_base_time()
            pts = now if self.last_pts is None else self.last_pts + duration
            if pts + 2 * duration < now or pts > now + duration:
                pts = now
            buffer = Gst.Buffer.new_wrapped(self.clip.frames[self.index])
            buffer.pts = pts
            buffer.duration = duration
            self.appsrc.emit("push-buffer", buffer)
            self.last_pts = pts
            self.index = (self.index + 1) % len(self.clip.frames)
            self.frames_sent += 1
            delay_ms = max(1, (pts + duration - now) // Gst.MSECOND)
        elif not self.playing:
            delay_ms = 20
        self.timer = GLib.timeout_add(int(delay_ms), self._tick)
        return False

    def status(self):
        return {
            "path": self.path,
            "clip": self.clip.name,
            "width": self.clip.width,
            "height": self.clip.height,
            "rate": self.rate,
            "playing": self.playing,
            "frames_sent": self.frames_sent,
            "packets": self.packets,
            "packets_dropped": self.packets_dropped,
            "packets_reordered": self.packets_reordered,
            "packets_late": self.packets_late,
            "packets_duplicated": self.packets_duplicated,
            "packets_lost": self.packets_lost,
        }


class Factory(GstRtspServer.RTSPMediaFactory):
    """Builds a private pipeline for every client of one stream path, from the settings stored at
    that moment."""

    def __init__(self, side, path):
        super().__init__()
        self.side = side
        self.path = path
        self.codec = STREAMS[path][0]
        self.set_shared(False)
        self.set_stop_on_disconnect(True)
        self.connect("media-configure", side.on_media_configure)
        self.pending = {}
        self.pending_lock = threading.Lock()

    def do_create_element(self, url):
        _, size, rate = self.side.sim.camera.stream_setting(self.path)
        clip = self.side.clips.choose(self.codec, size)
        caps = "%s,width=%d,height=%d,framerate=%d/1" % (CAPS[self.codec], clip.width, clip.height, rate)
        payloader = PAYLOADERS[self.codec]
        if getattr(clip, "config", None):
            caps += ",codec_data=(buffer)%s" % clip.config.hex()
            payloader = payloader.replace("config-interval=-1", "config-interval=0")
        description = "( appsrc name=src is-live=true format=time do-timestamp=false max-buffers=3 block=false caps=%s ! %s )" % (
            caps, payloader)
        element = Gst.parse_launch(description)
        with self.pending_lock:
            self.pending[element.get_name()] = (clip, rate)
        return element

    def take_pending(self, element):
        with self.pending_lock:
            return self.pending.pop(element.get_name())


class Auth(GstRtspServer.RTSPAuth):
    """Adds the request log: every request passes the URL check once, authenticated or not."""

    def __init__(self, side):
        super().__init__()
        self.side = side

    def do_check(self, ctx, check):
        if check == CHECK_URL and ctx.request is not None:
            self.side.log_request(ctx.request)
        return GstRtspServer.RTSPAuth.do_check(self, ctx, check)


class RtspSide:
    def __init__(self, sim):
        self.sim = sim
        clip_dir = getattr(sim.args, "clips", None)
        self.clips = ClipLibrary(clip_dir) if clip_dir else ClipLibrary()
        if getattr(sim.args, "mpeg4_gov", False):
            for clip in self.clips.clips.get("mpeg4", []):
                clip.config, clip.frames = config_before_gov(clip.frames)
        self.source = getattr(sim.args, "rtp_source", None)
        times = getattr(sim.args, "packet_times", None)
        self.packet_times = open(times, "a", buffering=1) if times else None
        self.keepalive_only = getattr(sim.args, "keepalive", "any") == "get_parameter"
        self.server = GstRtspServer.RTSPServer()
        self.feeders = []
        self.clients = {}
        self.lock = threading.Lock()
        self.source_id = 0
        self.cleanup_id = 0
        self.paths = []

    # --- set-up -----------------------------------------------------------------------------

    def start(self, address, port):
        args = self.sim.args
        self.server.set_address(address)
        self.server.set_service(str(port))
        auth = Auth(self)
        auth.set_realm(args.realm)
        token = GstRtspServer.RTSPToken()
        token.set_string(TOKEN_ROLE, ROLE)
        if args.auth == "basic":
            auth.add_basic(GstRtspServer.RTSPAuth.make_basic(args.user, args.password), token)
            auth.set_supported_methods(GstRtsp.RTSPAuthMethod.BASIC)
        elif args.auth == "digest":
            auth.add_digest(args.user, args.password, token)
            auth.set_supported_methods(GstRtsp.RTSPAuthMethod.DIGEST)
        else:
            auth.set_default_token(token)
        self.server.set_auth(auth)

        # Unicast addresses in the pool make the server bind its RTP and RTCP sockets to the camera's
        # address; bound to any address, packets to a loopback client would come from 127.0.0.1, and
        # a client that takes only packets from the camera's address would see none.
        pool = GstRtspServer.RTSPAddressPool()
        source = self.source or address
        if not pool.add_range(source, source, UDP_PORT_MIN, UDP_PORT_MAX, 0):
            raise RuntimeError("cannot use %s for RTP" % source)
        codecs = self.sim.camera.stream_codecs() & self.clips.codecs()
        mounts = self.server.get_mount_points()
        role = Gst.Structure.new_from_string(
            "%s, media.factory.access=(boolean)true, media.factory.construct=(boolean)true" % ROLE)
        for path, (codec, _) in STREAMS.items():
            if codec in codecs:
                factory = Factory(self, path)
                factory.add_role_from_structure(role)
                factory.set_address_pool(pool)
                mounts.add_factory("/" + path, factory)
                self.paths.append(path)
        self.server.connect("client-connected", self.on_client_connected)
        self.source_id = self.server.attach(None)
        if not self.source_id:
            raise RuntimeError("cannot listen on %s:%d for RTSP" % (address, port))
        self.cleanup_id = GLib.timeout_add_seconds(CLEANUP_PERIOD_S, self._cleanup_sessions)
        return self.server.get_bound_port()

    def stop(self):
        for feeder in list(self.feeders):
            feeder.stop()
        for client in list(self.clients):
            client.close()
        if self.cleanup_id:
            GLib.source_remove(self.cleanup_id)
        times, self.packet_times = self.packet_times, None
        if times is not None:
            times.close()
        if self.source_id:
            GLib.source_remove(self.source_id)

    def _cleanup_sessions(self):
        self.server.get_session_pool().cleanup()
        return True

    # --- request log --------------------------------------------------------------------------

    def log_request(self, message):
        try:
            _, method, uri, _ = message.parse_request()
            method_name = GstRtsp.rtsp_method_as_text(method)
        except (TypeError, ValueError):
            return
        _, authorization = message.get_header(GstRtsp.RTSPHeaderField.AUTHORIZATION, 0)
        scheme = authorization.split(" ", 1)[0] if authorization else "none"
        line = "RTSP %s %s auth=%s" % (method_name, uri, scheme)
        if method == GstRtsp.RTSPMethod.SETUP:
            _, transport = message.get_header(GstRtsp.RTSPHeaderField.TRANSPORT, 0)
            line += " transport=%s" % (transport or "")
        self.sim.log.write(line)

    # --- clients ------------------------------------------------------------------------------

    def on_client_connected(self, _server, client):
        with self.lock:
            self.clients[client] = {"path": None}
        client.connect("closed", self.on_client_closed)
        client.connect("new-session", self.on_new_session)
        client.connect("play-request", self.on_play_request)
        for method in ("describe", "setup", "play", "options", "teardown"):
            client.connect("pre-%s-request" % method, self.on_pre_request, method.upper())
        client.connect("pre-get-parameter-request", self.on_get_parameter)
        if self.source:
            client.connect("send-message", self.on_send_message)

    def on_client_closed(self, client):
        with self.lock:
            self.clients.pop(client, None)

    def on_new_session(self, _client, session):
        session.set_timeout(self.sim.args.session_timeout)

    def on_pre_request(self, _client, ctx, method):
        path = _stream_path(ctx.uri.abspath if ctx.uri is not None else "")
        if method == "SETUP" and ctx.request is not None and not _transport_has_destination(ctx.request):
            # GStreamer would accept it and send the packets nowhere; say so instead.
            self.sim.log.write("EVENT RTSP SETUP on %s refused with 461: RTP over UDP without client_port" % path)
            return GstRtsp.RTSPStatusCode.UNSUPPORTED_TRANSPORT
        code = self.sim.rtsp_faults.refusal(path, method)
        if code is None:
            return GstRtsp.RTSPStatusCode.OK
        self.sim.log.write("EVENT RTSP %s on %s refused with %d" % (method, path or "*", code))
        try:
            return GstRtsp.RTSPStatusCode(code)
        except ValueError:
            return GstRtsp.RTSPStatusCode.SERVICE_UNAVAILABLE

    def on_send_message(self, _client, _ctx, message):
        """Names the RTP source address in SETUP answers."""
        result, transport = message.get_header(GstRtsp.RTSPHeaderField.TRANSPORT, 0)
        if result == GstRtsp.RTSPResult.OK and transport and "/TCP" not in transport and "source=" not in transport:
            message.remove_header(GstRtsp.RTSPHeaderField.TRANSPORT, -1)
            message.add_header(GstRtsp.RTSPHeaderField.TRANSPORT, "%s;source=%s" % (transport, self.source))

    def on_get_parameter(self, client, _ctx):
        """A GET_PARAMETER keeps the client's sessions alive."""
        for feeder in self.feeders:
            if feeder.client == client:
                feeder.refreshed = time.monotonic()
        return GstRtsp.RTSPStatusCode.OK

    def on_play_request(self, client, ctx):
        path = _stream_path(ctx.uri.abspath if ctx.uri is not None else "")
        with self.lock:
            if client in self.clients:
                self.clients[client]["path"] = path
        media = ctx.sessmedia.get_media() if ctx.sessmedia is not None else None
        for feeder in self.feeders:
            if feeder.media == media:
                feeder.client = client
                feeder.session_media = ctx.sessmedia
                feeder.play()

    def schedule_close(self, feeder, after_seconds):
        def close():
            client = feeder.client
            if client is not None and not feeder.stopped:
                self.sim.log.write("EVENT RTSP connection of %s closed" % feeder.path)
                client.close()
            return False

        GLib.timeout_add(int(after_seconds * 1000), close)

    def close_now(self, path, bye=False):
        """Closes the connections of the running streams of path ("*": all), or with bye ends their
        video with an RTCP BYE; any thread."""
        GLib.idle_add(self._close_now, path.strip("/"), bye)

    def _close_now(self, path, bye):
        for feeder in list(self.feeders):
            if feeder.client is not None and path in ("*", feeder.path):
                if bye:
                    feeder.bye("on request")
                    continue
                self.sim.log.write("EVENT RTSP connection of %s closed" % feeder.path)
                feeder.client.close()
        return False

    # --- media ----------------------------------------------------------------------------------

    def on_media_configure(self, factory, media):
        element = media.get_element()
        clip, rate = factory.take_pending(element)
        appsrc = element.get_by_name("src")
        feeder = Feeder(self, factory.path, media, appsrc, clip, rate, self.sim.rtsp_faults.stream_plan(factory.path))
        appsrc.connect("need-data", feeder.on_need_data)
        appsrc.connect("enough-data", feeder.on_enough_data)
        pay = element.get_by_name("pay0")
        pay.get_static_pad("src").add_probe(Gst.PadProbeType.BUFFER | Gst.PadProbeType.BUFFER_LIST, feeder.on_packet)
        media.connect("unprepared", self.on_media_unprepared, feeder)
        self.feeders.append(feeder)
        feeder.start()

    def on_media_unprepared(self, _media, feeder):
        GLib.idle_add(self._remove_feeder, feeder)

    def _remove_feeder(self, feeder):
        feeder.stop()
        if feeder in self.feeders:
            self.feeders.remove(feeder)
        return False

    def status(self):
        feeders = list(self.feeders)
        with self.lock:
            clients = len(self.clients)
        return {"paths": list(self.paths), "clients": clients, "streams": [feeder.status() for feeder in feeders]}
