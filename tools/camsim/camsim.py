#!/usr/bin/python3
"""zephrin-camsim: a simulated ELMO-family IP camera on one loopback address.

It answers the camera's CGI web interface over HTTP and streams looped H.264, JPEG and MPEG-4 clips
over RTSP/RTP, with Basic or Digest authentication, fault injection and a request log. See README.md.
"""

import argparse
import os
import signal
import sys
import threading
from urllib.parse import unquote

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from camera import Camera  # noqa: E402
from faults import HTTP_ACTIONS, RTSP_ACTIONS, FaultError, HttpFaults, RtspFaults, parse_spec  # noqa: E402
from httpauth import Authenticator  # noqa: E402
from profiles import ProfileError, list_profiles, load_profile  # noqa: E402
from requestlog import RequestLog  # noqa: E402


class Simulator:
    """What the HTTP handlers and the RTSP side share."""

    def __init__(self, args, profile):
        self.args = args
        self.camera = Camera(profile)
        self.auth = Authenticator(args.auth, args.user, args.password, realm=args.realm,
                                  qop=args.digest_qop == "auth")
        self.http_faults = HttpFaults()
        self.rtsp_faults = RtspFaults()
        self.log = RequestLog(args.request_log)
        self.stopping = threading.Event()
        self.verbose = args.verbose
        self.rtsp = None
        self.http_port = 0

    def status(self):
        result = self.camera.status()
        result["address"] = self.args.address
        result["http_port"] = self.http_port
        result["auth"] = self.args.auth
        result["requests"] = self.log.count
        result["faults"] = {"http": self.http_faults.describe(), "rtsp": self.rtsp_faults.describe()}
        result["rtsp"] = self.rtsp.status() if self.rtsp is not None else None
        return result


def parse_args(argv):
    parser = argparse.ArgumentParser(
        prog="zephrin-camsim",
        description="Simulated ELMO-family IP camera: CGI web interface and RTSP server on one address.")
    parser.add_argument("--address", default="127.0.0.2", help="address to listen on (default 127.0.0.2)")
    parser.add_argument("--http-port", type=int, default=80, help="CGI port (default 80; 0 picks a free one)")
    parser.add_argument("--rtsp-port", type=int, default=554, help="RTSP port (default 554; 0 picks a free one)")
    parser.add_argument("--no-rtsp", action="store_true", help="serve the CGI interface only")
    parser.add_argument("--profile", default="ptz-dome", help="camera model profile name or JSON file (default ptz-dome)")
    parser.add_argument("--list-profiles", action="store_true", help="list the bundled profiles and exit")
    parser.add_argument("--user", default="admin")
    parser.add_argument("--password", default="admin")
    parser.add_argument("--auth", choices=("digest", "basic", "none"), default="digest",
                        help="authentication for CGI and RTSP (default digest)")
    parser.add_argument("--digest-qop", choices=("auth", "none"), default="auth",
                        help="offer qop=auth in HTTP Digest challenges, or no qop (default auth)")
    parser.add_argument("--realm", default="camsim", help="authentication realm (default camsim)")
    parser.add_argument("--session-timeout", type=int, default=60,
                        help="RTSP session timeout in seconds, announced in the Session header (default 60)")
    parser.add_argument("--keepalive", choices=("any", "get_parameter"), default="any",
                        help="what keeps an RTSP session alive: any request or RTCP (default), or only "
                             "GET_PARAMETER; without one for the session timeout the video stops with an RTCP BYE")
    parser.add_argument("--rtp-source", metavar="ADDR",
                        help="send RTP and RTCP from ADDR, another address of this host, and name it in "
                             "SETUP's Transport source=")
    parser.add_argument("--mpeg4-gov", action="store_true",
                        help="MPEG-4 I-frames start with their GOV header; the configuration is only in the SDP")
    parser.add_argument("--packet-times", metavar="FILE",
                        help="append '<path> <monotonic ns>' to FILE when the last RTP packet of a frame leaves")
    parser.add_argument("--request-log", metavar="FILE", help="append one line per request to FILE")
    parser.add_argument("--fault", action="append", default=[], metavar="'TARGET ACTION[=VALUE] ...'",
                        help="CGI fault rule, e.g. '/cgi-bin/io/input.cgi status=500 count=2' (repeatable)")
    parser.add_argument("--rtsp-fault", action="append", default=[], metavar="'PATH ACTION[=VALUE] ...'",
                        help="RTSP fault rule, e.g. 'h264 stall=5 after=3' or '* refuse=SETUP:503' (repeatable)")
    parser.add_argument("--clips", metavar="DIR",
                        help="stream the clips of DIR (named like those of clips/) instead of the committed ones")
    parser.add_argument("--param", action="append", default=[], metavar="K=V",
                        help="set (or add) parameter K to V at start, without checks; V is URL-decoded, so "
                             "Brand.Brand=Dyna%%00color puts a NUL byte into the brand (repeatable)")
    parser.add_argument("--verbose", action="store_true", help="log requests and GStreamer warnings to stderr")
    args = parser.parse_args(argv)
    for port in (args.http_port, args.rtsp_port):
        if not 0 <= port <= 65535:
            parser.error("ports are 0 to 65535")
    if args.session_timeout < 1:
        parser.error("--session-timeout must be at least 1")
    return parser, args


def main(argv=None):
    parser, args = parse_args(sys.argv[1:] if argv is None else argv)
    if args.list_profiles:
        for name, description in list_profiles():
            print("%-14s %s" % (name, description))
        return 0
    try:
        profile = load_profile(args.profile, args.address)
    except ProfileError as error:
        parser.error(str(error))

    sim = Simulator(args, profile)
    updates = []
    for term in args.param:
        key, sep, value = term.partition("=")
        if not sep or not key:
            parser.error("--param is K=V, got %r" % term)
        updates.append((key[5:] if key.startswith("root.") else key, unquote(value)))
    sim.camera.force_params(updates)
    try:
        for spec in args.fault:
            sim.http_faults.add(*parse_spec(HTTP_ACTIONS, spec))
        for spec in args.rtsp_fault:
            sim.rtsp_faults.add(*parse_spec(RTSP_ACTIONS, spec))
    except FaultError as error:
        parser.error(str(error))

    from gi.repository import GLib  # noqa: E402 - only after the arguments are known to be good

    from webserver import CgiServer  # noqa: E402

    try:
        http = CgiServer(args.address, args.http_port, sim)
    except OSError as error:
        print("zephrin-camsim: cannot listen on %s:%d for HTTP: %s" % (args.address, args.http_port, error),
              file=sys.stderr)
        return 2
    sim.http_port = http.server_address[1]

    rtsp_text = "off"
    if not args.no_rtsp:
        try:
            from rtspserver import RtspSide  # noqa: E402 - GStreamer is loaded only when streaming
        except (ImportError, ValueError) as error:
            http.server_close()
            print("zephrin-camsim: GStreamer's RTSP server is not available (%s); install python3-gi and "
                  "gir1.2-gst-rtsp-server-1.0, or use --no-rtsp" % error, file=sys.stderr)
            return 2
        try:
            sim.rtsp = RtspSide(sim)
            rtsp_port = sim.rtsp.start(args.address, args.rtsp_port)
        except RuntimeError as error:
            http.server_close()
            print("zephrin-camsim: %s" % error, file=sys.stderr)
            return 2
        rtsp_text = "%s:%d" % (args.address, rtsp_port)

    loop = GLib.MainLoop()

    def stop(*_):
        loop.quit()
        return GLib.SOURCE_REMOVE

    def toggle_input(*_):
        if sim.camera.inputs:
            state = sim.camera.set_input(1)
            sim.log.write("EVENT input 1 set to %d by SIGUSR1" % state)
        return GLib.SOURCE_CONTINUE

    GLib.unix_signal_add(GLib.PRIORITY_HIGH, signal.SIGTERM, stop)
    GLib.unix_signal_add(GLib.PRIORITY_HIGH, signal.SIGINT, stop)
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGUSR1, toggle_input)

    http_thread = threading.Thread(target=http.serve_forever, kwargs={"poll_interval": 0.2},
                                   name="camsim-http", daemon=True)
    http_thread.start()
    print("ready http=%s:%d rtsp=%s profile=%s" % (args.address, sim.http_port, rtsp_text, profile.name), flush=True)
    try:
        loop.run()
    finally:
        sim.stopping.set()
        http.shutdown()
        http.server_close()
        if sim.rtsp is not None:
            sim.rtsp.stop()
        sim.log.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
