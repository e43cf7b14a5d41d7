#!/usr/bin/python3
"""Many cameras at once: N simulated cameras stream H.264 at a few Mbit/s; the driver records every
one of them (one zephrin-host record per camera, as one device per driver) while ffmpeg reads the
same cameras' second stream in the same run; after the recording time each camera's counts are read
and its two receivers are stopped right after. Reports the CPU seconds per stream-minute of each and
their ratio, and the frames each received against the frames the cameras sent.

Run through tests/bench/multi_camera.sh (which builds what is needed); needs root, because every
simulated camera listens on port 554 of its own loopback address (127.0.1.1, 127.0.1.2, ...).
"""
import argparse
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def make_clip(directory, kbits):
    """A 1280x720 H.264 clip at about kbits kbit/s, in the simulator's clip format (Annex B with a
    delimiter before every picture, parameter sets before every IDR, one IDR per second)."""
    path = os.path.join(directory, "h264_1280x720.h264")
    subprocess.run(
        ["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
         "testsrc2=size=1280x720:rate=25,noise=alls=12:allf=t", "-frames:v", "50", "-c:v", "libx264",
         "-profile:v", "baseline", "-preset", "veryfast", "-pix_fmt", "yuv420p", "-g", "25", "-keyint_min", "25",
         "-sc_threshold", "0", "-bf", "0", "-b:v", "%dk" % kbits, "-maxrate", "%dk" % kbits,
         "-bufsize", "%dk" % kbits, "-x264-params", "aud=1:repeat-headers=1", "-f", "h264", path],
        check=True)
    return os.path.getsize(path) * 8 * 25 / 50 / 1000.0  # kbit/s at 25 frames per second


class Camera:
    def __init__(self, bin_dir, address, clips, log_dir):
        self.address = address
        self.out = open(os.path.join(log_dir, "camsim-%s.out" % address), "w+")
        self.process = subprocess.Popen(
            [os.path.join(bin_dir, "zephrin-camsim"), "--address", address, "--http-port", "0",
             "--profile", "ptz-dome", "--auth", "none", "--clips", clips],
            stdout=self.out, stderr=subprocess.STDOUT)
        self.http_port = 0
        self.sent = {}

    def wait_ready(self, deadline):
        while time.time() < deadline:
            self.out.seek(0)
            match = re.search(r"ready http=[\d.]+:(\d+)", self.out.read())
            if match:
                self.http_port = int(match.group(1))
                return True
            if self.process.poll() is not None:
                return False
            time.sleep(0.1)
        return False

    def sample(self):
        """The frames sent so far on each stream path."""
        try:
            with urllib.request.urlopen("http://%s:%d/camsim/status" % (self.address, self.http_port),
                                        timeout=2) as answer:
                status = json.load(answer)
        except Exception:
            return
        counts = {}
        for stream in status.get("rtsp", {}).get("streams", []):
            counts[stream["path"]] = counts.get(stream["path"], 0) + stream["frames_sent"]
        self.sent = counts

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.out.close()


def wait_with_usage(process):
    """Waits for a child and returns its CPU seconds (user + system)."""
    _, _, usage = os.wait4(process.pid, 0)
    process.returncode = 0
    return usage.ru_utime + usage.ru_stime


def run(count, seconds, bin_dir, clips, log_dir):
    cameras = [Camera(bin_dir, "127.0.1.%d" % (i + 1), clips, log_dir) for i in range(count)]
    try:
        deadline = time.time() + 60
        for camera in cameras:
            if not camera.wait_ready(deadline):
                raise RuntimeError("zephrin-camsim on %s did not start" % camera.address)

        recorders = []
        for camera in cameras:
            out = open(os.path.join(log_dir, "record-%s.out" % camera.address), "w+")
            recorders.append((camera, out, subprocess.Popen(
                [os.path.join(bin_dir, "zephrin-host"), "record", "--address", camera.address, "--port",
                 str(camera.http_port), "--param", "1=1", "--param", "2=3", "--param", "8=720p,d1,vga,cif,qvga",
                 "--param", "9=0", "--codec", "h264", "--size", "1280x720", "--fps", "30", "--progress", "0",
                 "--quiet"],
                stdout=out, stderr=subprocess.STDOUT)))
        readers = []
        for camera in cameras:
            progress = os.path.join(log_dir, "ffmpeg-%s.progress" % camera.address)
            readers.append((camera, progress, subprocess.Popen(
                ["ffmpeg", "-nostdin", "-v", "error", "-rtsp_transport", "udp", "-i",
                 "rtsp://%s:554/h264_2" % camera.address, "-c", "copy", "-f", "null", "-progress", progress, "-"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)))

        time.sleep(seconds)
        # What each camera sent so far, and at once its two receivers stop.
        for (camera, _, recorder), (_, _, reader) in zip(recorders, readers):
            camera.sample()
            recorder.send_signal(signal.SIGINT)
            reader.send_signal(signal.SIGINT)
        driver_cpu = sum(wait_with_usage(process) for _, _, process in recorders)
        ffmpeg_cpu = sum(wait_with_usage(process) for _, _, process in readers)

        driver_frames = 0
        for camera, out, _ in recorders:
            out.seek(0)
            match = re.search(r"recorded [\d.]+ s: (\d+) frames", out.read())
            driver_frames += int(match.group(1)) if match else 0
            out.close()
        ffmpeg_frames = 0
        for camera, progress, _ in readers:
            frames = re.findall(r"^frame=(\d+)", open(progress).read(), re.M) if os.path.exists(progress) else []
            ffmpeg_frames += int(frames[-1]) if frames else 0
        sent_driver = sum(camera.sent.get("h264", 0) for camera in cameras)
        sent_ffmpeg = sum(camera.sent.get("h264_2", 0) for camera in cameras)
        return driver_cpu, ffmpeg_cpu, driver_frames, ffmpeg_frames, sent_driver, sent_ffmpeg
    finally:
        for camera in cameras:
            camera.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("counts", nargs="*", type=int, default=[1, 8, 32], help="numbers of cameras (default 1 8 32)")
    parser.add_argument("--seconds", type=int, default=30, help="recording time of each run (default 30)")
    parser.add_argument("--kbits", type=int, default=3000, help="bit rate of each camera's stream (default 3000)")
    parser.add_argument("--bin", default=os.path.join(SOURCE_DIR, "build", "default", "bin"))
    args = parser.parse_args()
    if os.geteuid() != 0:
        print("multi_camera: needs root (each simulated camera listens on port 554 of its own address)",
              file=sys.stderr)
        return 1
    work = tempfile.mkdtemp(prefix="zephrin-bench-")
    try:
        rate = make_clip(work, args.kbits)
        print("clip: H.264 1280x720, 25 frames/s, %.0f kbit/s; %d s per run; logs in %s" % (rate, args.seconds, work))
        print("%7s | %-38s | %-38s | %s" % ("cameras", "driver: CPU s/stream-min, frames", "ffmpeg -c copy: CPU s/stream-min, frames",
                                           "CPU driver/ffmpeg"))
        for count in args.counts:
            driver_cpu, ffmpeg_cpu, driver_frames, ffmpeg_frames, sent_driver, sent_ffmpeg = run(
                count, args.seconds, args.bin, work, work)
            stream_minutes = count * args.seconds / 60.0
            print("%7d | %6.3f  %7d of %7d sent (%5.1f%%) | %6.3f  %7d of %7d sent (%5.1f%%) | %.2f" % (
                count, driver_cpu / stream_minutes, driver_frames, sent_driver,
                100.0 * driver_frames / sent_driver if sent_driver else 0.0,
                ffmpeg_cpu / stream_minutes, ffmpeg_frames, sent_ffmpeg,
                100.0 * ffmpeg_frames / sent_ffmpeg if sent_ffmpeg else 0.0,
                driver_cpu / ffmpeg_cpu if ffmpeg_cpu else float("nan")), flush=True)
    finally:
        if not os.environ.get("ZEPHRIN_BENCH_KEEP"):
            shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
