#!/usr/bin/python3
"""Records the RTP packets a GStreamer payloader produces for a test video, as a camera would send them.

Writes <out>.rtp (every packet as a 4-byte big-endian length followed by the packet), <out>.es (the
encoder's own elementary stream, for comparing decodes) and <out>.caps (the payloader's caps, which carry
the parameter sets an SDP would announce).
Usage: rtp_capture.py --codec h264|jpeg|mpeg4 --width W --height H --fps F --frames N --out PREFIX
"""
import argparse
import struct
import sys

import gi

gi.require_version("Gst", "1.0")
from gi.repository import Gst  # noqa: E402


def encoder(args):
    if args.codec == "h264":
        return (f"x264enc tune=zerolatency speed-preset=veryfast bitrate={args.bitrate} bframes=0 "
                f"key-int-max={args.keyint} byte-stream=true ! video/x-h264,profile=high ! "
                "h264parse config-interval=-1 ! video/x-h264,stream-format=byte-stream,alignment=au",
                "rtph264pay mtu=1400 config-interval=-1 pt=96")
    if args.codec == "jpeg":
        return (f"jpegenc quality={args.quality}", "rtpjpegpay mtu=1400 pt=26")
    if args.codec == "mpeg4":
        return (f"avenc_mpeg4 bitrate={args.bitrate * 1000} gop-size={args.keyint} ! mpeg4videoparse",
                "rtpmp4vpay mtu=1400 config-interval=-1 pt=96 max-ptime=1")
    raise SystemExit("unknown codec " + args.codec)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--codec", required=True)
    parser.add_argument("--width", type=int, default=640)
    parser.add_argument("--height", type=int, default=480)
    parser.add_argument("--fps", type=int, default=25)
    parser.add_argument("--frames", type=int, default=75)
    parser.add_argument("--bitrate", type=int, default=1500, help="kbit/s")
    parser.add_argument("--keyint", type=int, default=25)
    parser.add_argument("--quality", type=int, default=85)
    parser.add_argument("--pattern", default="ball")
    parser.add_argument("--out", required=True)
    args = parser.parse_args()

    Gst.init(None)
    enc, pay = encoder(args)
    pattern = args.pattern
    if pattern == "zone-plate":
        # Moving rings: detailed pictures that change every frame.
        pattern += " kx2=20 ky2=20 kt=1"
    description = (
        f"videotestsrc num-buffers={args.frames} pattern={pattern} ! "
        f"video/x-raw,format=I420,width={args.width},height={args.height},framerate={args.fps}/1 ! "
        f"{enc} ! tee name=t "
        f"t. ! queue ! {pay} ! appsink name=rtp sync=false emit-signals=false max-buffers=0 "
        f"t. ! queue ! filesink location={args.out}.es")
    pipeline = Gst.parse_launch(description)
    sink = pipeline.get_by_name("rtp")
    pipeline.set_state(Gst.State.PLAYING)
    caps = None
    count = 0
    # The MPEG-4 encoder leaves its buffers without usable time stamps, so the payloader stamps every
    # packet alike; give each frame its place on the 90 kHz clock instead.
    restamp = args.codec == "mpeg4"
    frame = 0
    first = 0
    with open(args.out + ".rtp", "wb") as out:
        while True:
            sample = sink.emit("pull-sample")
            if sample is None:
                break
            if caps is None:
                caps = sample.get_caps().to_string()
            buffer = sample.get_buffer()
            ok, info = buffer.map(Gst.MapFlags.READ)
            if not ok:
                raise SystemExit("cannot map buffer")
            packet = bytearray(info.data)
            if restamp and len(packet) >= 12:
                base = struct.unpack(">I", packet[4:8])[0]
                if frame == 0:
                    first = base
                struct.pack_into(">I", packet, 4, (first + frame * 90000 // args.fps) & 0xFFFFFFFF)
                if packet[1] & 0x80:
                    frame += 1
            out.write(struct.pack(">I", len(packet)))
            out.write(bytes(packet))
            buffer.unmap(info)
            count += 1
    bus = pipeline.get_bus()
    msg = bus.timed_pop_filtered(10 * Gst.SECOND, Gst.MessageType.EOS | Gst.MessageType.ERROR)
    pipeline.set_state(Gst.State.NULL)
    if msg is not None and msg.type == Gst.MessageType.ERROR:
        err, debug = msg.parse_error()
        raise SystemExit(f"pipeline error: {err.message} {debug}")
    with open(args.out + ".caps", "w") as f:
        f.write((caps or "") + "\n")
    print(f"{count} packets", file=sys.stderr)


if __name__ == "__main__":
    main()
