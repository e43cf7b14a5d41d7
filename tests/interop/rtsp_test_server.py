#!/usr/bin/python3
"""RTSP test server on GStreamer's RTSP server library.

Serves test streams at /h264 and /jpeg (videotestsrc -> x264enc / jpegenc -> RTP payloader) and
/mpeg4 (a clip ffmpeg encodes at start-up -> RTP payloader), optionally behind Basic or Digest
authentication, on the address and port given on the command line. Prints "READY <port>" once it listens, then one line per
request it handled ("REQUEST <METHOD> <transport>"), flushed at once so that a test can follow.
Stops on SIGTERM or SIGINT.
"""
import argparse
import os
import signal
import subprocess
import sys
import tempfile

import gi

gi.require_version("Gst", "1.0")
gi.require_version("GstRtsp", "1.0")
gi.require_version("GstRtspServer", "1.0")
from gi.repository import GLib, Gst, GstRtsp, GstRtspServer  # noqa: E402

RAW = ("videotestsrc is-live=true pattern={pattern}"
       " ! video/x-raw,format=I420,width=320,height=240,framerate={fps}/1")
PIPELINES = {
    "h264": RAW + " ! x264enc tune=zerolatency speed-preset=ultrafast key-int-max={fps} bitrate=500"
                  " ! video/x-h264,profile=baseline ! rtph264pay name=pay0 pt=96 config-interval=1",
    "jpeg": RAW + " ! jpegenc quality=50 ! rtpjpegpay name=pay0 pt=26",
    # This gst-libav's avenc_mpeg4 stamps its output with bogus times, which stalls the stream, so
    # the MPEG-4 test stream is a clip that ffmpeg encodes from its own test source at start-up.
    "mpeg4": "filesrc location={clip} ! qtdemux ! queue ! rtpmp4vpay name=pay0 pt=96 config-interval=1",
}


def make_mpeg4_clip(directory, fps):
    clip = os.path.join(directory, "test.mp4")
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=320x240:rate=%d" % fps,
                    "-t", "20", "-c:v", "mpeg4", "-g", str(fps), "-bf", "0", "-q:v", "6", clip], check=True)
    return clip


def log(text):
    sys.stdout.write(text + "\n")
    sys.stdout.flush()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--address", default="127.0.0.1", help="address to listen on")
    parser.add_argument("--port", type=int, default=8554, help="port to listen on (0: any free port)")
    parser.add_argument("--auth", choices=("none", "basic", "digest"), default="none")
    parser.add_argument("--user", default="user")
    parser.add_argument("--password", default="secret")
    parser.add_argument("--session-timeout", type=int, default=0,
                        help="seconds announced in the Session header (0: the library's default)")
    parser.add_argument("--fps", type=int, default=15)
    parser.add_argument("--udp-from-address", action="store_true",
                        help="send RTP and RTCP over UDP from the listen address (a camera's packets come from "
                             "its own address) instead of from any address")
    args = parser.parse_args()

    Gst.init(None)
    server = GstRtspServer.RTSPServer()
    server.set_address(args.address)
    server.set_service(str(args.port))

    if args.auth != "none":
        auth = GstRtspServer.RTSPAuth()
        token = GstRtspServer.RTSPToken()
        token.set_string("media.factory.role", "user")
        if args.auth == "basic":
            auth.add_basic(GstRtspServer.RTSPAuth.make_basic(args.user, args.password), token)
            auth.set_supported_methods(GstRtsp.RTSPAuthMethod.BASIC)
        else:
            auth.add_digest(args.user, args.password, token)
            auth.set_supported_methods(GstRtsp.RTSPAuthMethod.DIGEST)
        server.set_auth(auth)

    workdir = tempfile.TemporaryDirectory(prefix="rtsp_test_server_")
    clip = make_mpeg4_clip(workdir.name, args.fps)
    mounts = server.get_mount_points()
    pool = None
    if args.udp_from_address:
        pool = GstRtspServer.RTSPAddressPool()
        if not pool.add_range(args.address, args.address, 20000, 59999, 0):
            log("FAILED cannot use %s for RTP" % args.address)
            return 1
    for name, pipeline in PIPELINES.items():
        factory = GstRtspServer.RTSPMediaFactory()
        if pool is not None:
            factory.set_address_pool(pool)
        factory.set_launch("( " + pipeline.format(pattern="ball", fps=args.fps, clip=clip) + " )")
        if args.auth != "none":
            permissions = GstRtspServer.RTSPPermissions()
            permissions.add_role_from_structure(Gst.Structure.new_from_string(
                "user, media.factory.access=(boolean)true, media.factory.construct=(boolean)true"))
            factory.set_permissions(permissions)
        mounts.add_factory("/" + name, factory)

    def on_request(method):
        def handler(_client, context):
            transport = ""
            if method == "SETUP" and context.request is not None:
                result, value = context.request.get_header(GstRtsp.RTSPHeaderField.TRANSPORT, 0)
                if result == GstRtsp.RTSPResult.OK and value:
                    transport = value
            log("REQUEST %s %s" % (method, transport))
        return handler

    def on_new_session(_client, session):
        if args.session_timeout > 0:
            session.set_timeout(args.session_timeout)

    def on_client(_server, client):
        for signal_name, method in (("options-request", "OPTIONS"), ("describe-request", "DESCRIBE"),
                                    ("setup-request", "SETUP"), ("play-request", "PLAY"),
                                    ("pause-request", "PAUSE"), ("teardown-request", "TEARDOWN")):
            client.connect(signal_name, on_request(method))
        client.connect("new-session", on_new_session)

    server.connect("client-connected", on_client)
    if args.session_timeout > 0:
        # Expire sessions whose client stopped keeping them alive.
        pool = server.get_session_pool()
        GLib.timeout_add(500, lambda: pool.cleanup() >= 0)
    if server.attach(None) == 0:
        log("FAILED cannot listen on %s:%d" % (args.address, args.port))
        return 1
    loop = GLib.MainLoop()
    for signum in (signal.SIGTERM, signal.SIGINT):
        GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signum, loop.quit)
    log("READY %d" % server.get_bound_port())
    loop.run()
    workdir.cleanup()
    return 0


if __name__ == "__main__":
    sys.exit(main())
